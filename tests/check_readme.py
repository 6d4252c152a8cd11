#!/usr/bin/env python3
"""Runs the command blocks of the README and docs/*.md as a reader would paste them, in order,
each with bash -e: ```sh blocks marked "in a copy of the checkout" in a copy of this checkout
(without build/ and .git), the others in one temporary folder; those marked "not run" not at all.
Installing the package is such a block. In its place the package that the copy built is
extracted (never installed): its usr/bin goes first on PATH and its release is copied into
the folder, as the skipped block's cp would; on the way, tarvo-stamp --version must run,
share/tarvo/Tarvo.exe must equal the release build, and the tag certificate be beside it.
Every relative link of a page must reach a file of the copy, and an anchor a heading of its
page; a figure marked <!-- readme: size of Tarvo.exe -->, <!-- readme: version --> or
<!-- readme: version of TOOL --> or <!-- readme: compatibility date --> must be the build's or
edge/'s, and each be marked somewhere.
Usage: check_readme.py CHECKOUT RELEASE_EXE"""
import filecmp
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Reading order, in which a block finds the files that earlier ones made; other pages follow.
PAGES = ["README.md"] + ["docs/%s.md" % n for n in ("launcher", "stamp", "edge", "managed-installs", "development")]


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


def pages(source):
    return PAGES + sorted({os.path.relpath(p, source) for p in glob.glob(os.path.join(source, "docs", "*.md"))} - set(PAGES))


def unfenced(page):
    return re.sub(r"\n```.*?\n```", "", open(page, encoding="utf-8").read(), flags=re.S)


def prose(page):
    """A page without its code, where GitHub makes no links."""
    return re.sub(r"`[^`\n]*`", "", unfenced(page))


def slugs(page):
    """The anchors GitHub gives a page's headings, a repeated one with -1, -2, ..."""
    found = []
    for heading in re.findall(r"^#+ (.*)$", unfenced(page), re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        found.append(slug + ("-%d" % found.count(slug) if slug in found else ""))
    return found


def broken_links(checkout, page):
    text = prose(os.path.join(checkout, page))
    for target in re.findall(r"\]\(<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\)", text) + re.findall(r"^\[[^\]]+\]:\s*(\S+)", text, re.M):
        path, _, anchor = target.partition("#")
        if re.match(r"[a-z]+:", path):
            continue
        resolved = os.path.normpath(os.path.join(checkout, os.path.dirname(page), path)) if path else os.path.join(checkout, page)
        if (not resolved.startswith(checkout + os.sep) or not os.path.exists(resolved)
                or (anchor and resolved.endswith(".md") and anchor not in slugs(resolved))):
            yield target


def main():
    source, release = os.path.abspath(sys.argv[1]), sys.argv[2]
    source = source if os.path.isdir(source) else os.path.dirname(source)
    top = tempfile.mkdtemp(prefix="tarvo-readme-")
    checkout, folder, extracted = (os.path.join(top, n) for n in ("checkout", "folder", "package"))
    os.makedirs(folder)
    shutil.copytree(source, checkout, ignore=lambda d, names: [n for n in names if d == source and n in ("build", ".git")])
    env = dict(os.environ)
    broken = ["%s links to %s" % (page, target) for page in pages(source) for target in broken_links(checkout, page)]
    for link in broken:
        print("FAIL: %s, which does not resolve" % link)
    failures = len(broken)
    figures = {"size of Tarvo.exe": "{:,}".format(os.path.getsize(release))}
    pins = json.load(open(os.path.join(source, "edge", "package.json")))["devDependencies"]
    figures.update(("version of " + tool, version) for tool, version in pins.items())
    figures["compatibility date"] = re.search(r'^compatibility_date = "(.*)"', open(os.path.join(source, "edge", "wrangler.toml")).read(), re.M)[1]
    try:
        for marker, text in (b for page in pages(source) for b in blocks(os.path.join(source, page))):
            if marker.startswith("not run"):
                print("SKIP (%s): %s" % (marker, text.split("\n")[0]), flush=True)
                continue
            in_checkout = marker == "in a copy of the checkout"
            if not in_checkout and not os.path.isdir(extracted):
                failures += not extract(checkout, release, extracted, folder, env, figures)
            result = subprocess.run(["bash", "-euo", "pipefail", "-c", text], cwd=checkout if in_checkout else folder,
                                    env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
            print("%s: %s" % ("PASS" if result.returncode == 0 else "FAIL", text.split("\n")[0]), flush=True)
            if result.returncode != 0:
                failures += 1
                print("    " + result.stdout.decode(errors="replace").replace("\n", "\n    "))
    finally:
        shutil.rmtree(top, ignore_errors=True)
    marked = set()
    for page in pages(source):
        for figure, stated in re.findall(r"<!-- readme: (size of Tarvo.exe|version|version of [\w-]+|compatibility date) -->([\d.,-]+\d)", open(os.path.join(source, page), encoding="utf-8").read()):
            good = figures.get(figure) == stated
            failures += not good
            marked.add(figure)
            print("%s: %s says the %s is %s; the build's is %s" % ("PASS" if good else "FAIL", page, figure, stated, figures.get(figure)))
    for figure in sorted(set(figures) - marked):
        failures += 1
        print("FAIL: no page states the %s as a marked figure" % figure)
    print("%d failed" % failures)
    return 1 if failures else 0


def extract(checkout, release, extracted, folder, env, figures):
    """What installing the package and copying the release would give; False if it is wrong."""
    packages = glob.glob(os.path.join(checkout, "build", "package", "tarvo-stamp_*_amd64.deb"))
    if len(packages) != 1:
        print("FAIL: the package blocks made %s" % (packages or "no package"))
        return False
    subprocess.run(["dpkg-deb", "-x", packages[0], extracted], check=True)
    tool = os.path.join(extracted, "usr", "bin", "tarvo-stamp")
    version = subprocess.run([tool, "--version"], stdout=subprocess.PIPE).stdout.decode()
    figures["version"] = version.split("\n")[0].rpartition(" ")[2]
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
