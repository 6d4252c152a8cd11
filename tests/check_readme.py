#!/usr/bin/env python3
"""Runs the README's command blocks as a reader would paste them, in order, each with bash -e:
```sh blocks marked "in a copy of the checkout" in a copy of this checkout (without build/
and .git), the unmarked ones in one temporary folder; blocks marked "not run" are skipped.
Installing the package is such a block. In its place the package that the copy built is
extracted (never installed): its usr/bin goes first on PATH and its release is copied into
the folder, as the skipped block's cp would; on the way, tarvo-stamp --version must run,
share/tarvo/Tarvo.exe must equal the release build, and the tag certificate be beside it.
Usage: check_readme.py README RELEASE_EXE"""
import filecmp
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile


def blocks(readme):
    """(marker, text) for each ```sh block; marker is the <!-- readme: ... --> line before it."""
    found, lines = [], open(readme, encoding="utf-8").read().split("\n")
    for i, line in enumerate(lines):
        if line != "```sh":
            continue
        end = lines.index("```", i + 1)
        previous = lines[i - 1] if i > 0 else ""
        marker = re.match(r"<!-- readme: (.*) -->$", previous)
        found.append((marker.group(1) if marker else "", "\n".join(lines[i + 1:end])))
    return found


def main():
    readme, release = sys.argv[1], sys.argv[2]
    source = os.path.dirname(os.path.abspath(readme))
    top = tempfile.mkdtemp(prefix="tarvo-readme-")
    checkout, folder, extracted = (os.path.join(top, n) for n in ("checkout", "folder", "package"))
    os.makedirs(folder)
    shutil.copytree(source, checkout, ignore=lambda d, names: [n for n in names if d == source and n in ("build", ".git")])
    env = dict(os.environ)
    failures = 0
    try:
        for marker, text in blocks(readme):
            if marker.startswith("not run"):
                print("SKIP (%s): %s" % (marker, text.split("\n")[0]), flush=True)
                continue
            in_checkout = marker == "in a copy of the checkout"
            if not in_checkout and not os.path.isdir(extracted):
                failures += not extract(checkout, release, extracted, folder, env)
            result = subprocess.run(["bash", "-euo", "pipefail", "-c", text], cwd=checkout if in_checkout else folder,
                                    env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
            print("%s: %s" % ("PASS" if result.returncode == 0 else "FAIL", text.split("\n")[0]), flush=True)
            if result.returncode != 0:
                failures += 1
                print("    " + result.stdout.decode(errors="replace").replace("\n", "\n    "))
    finally:
        shutil.rmtree(top, ignore_errors=True)
    print("%d failed" % failures)
    return 1 if failures else 0


def extract(checkout, release, extracted, folder, env):
    """What installing the package and copying the release would give; False if it is wrong."""
    packages = glob.glob(os.path.join(checkout, "build", "package", "tarvo-stamp_*_amd64.deb"))
    if len(packages) != 1:
        print("FAIL: the package blocks made %s" % (packages or "no package"))
        return False
    subprocess.run(["dpkg-deb", "-x", packages[0], extracted], check=True)
    tool = os.path.join(extracted, "usr", "bin", "tarvo-stamp")
    version = subprocess.run([tool, "--version"], stdout=subprocess.PIPE).stdout.decode()
    shipped = os.path.join(extracted, "usr", "share", "tarvo", "Tarvo.exe")
    good = (version.startswith("tarvo-stamp ") and filecmp.cmp(shipped, release, shallow=False)
            and os.path.exists(os.path.join(os.path.dirname(shipped), "tarvo-tag.crt")))
    print("%s: %s holds %s, the release Tarvo.exe and the tag certificate" % ("PASS" if good else "FAIL", os.path.basename(packages[0]),
                                                          version.strip()), flush=True)
    env["PATH"] = os.path.dirname(tool) + os.pathsep + env["PATH"]
    shutil.copy(shipped, folder)
    return good


if __name__ == "__main__":
    sys.exit(main())
