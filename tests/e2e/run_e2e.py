#!/usr/bin/env python3
"""Runs the real Tarvo.exe under Wine, one scenario per row of SCENARIOS.

Fake browsers (fake_browser.exe copied as msedge.exe, chrome.exe and handler.exe) log
their exact command lines; the handler is registered for https and http, and a guard
xdg-open on the host's PATH records any attempt to reach a real browser."""
import argparse
import os
import shutil
import subprocess
import sys
import time

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
E2E = "C:\\tarvo-e2e"
ADDRESS = "https://example.org/desk"
LONG = "https://example.org/" + "a" * 600


SAVED = "appdata/Tarvo/url.txt"       # files are named relative to C:\\tarvo-e2e
APPDATA = "APPDATA=" + E2E + "\\appdata"


def edge(address):
    return [("msedge", "--app=" + address)]


def row(name, start, calls, browsers=("msedge",), build="main", env=(), files=None, after=None):
    """start: ("wine", [argv...]) lets wine quote and rebuild the arguments; ("spawn", tail)
    hands Tarvo.exe an exact tail and environment (env) through spawn.exe. files are put in
    place first; after maps each file to its expected bytes, None for absent."""
    files = files or {}
    return dict(name=name, start=start, calls=calls, browsers=set(browsers), build=build,
                env=env, files=files, after=after if after is not None else files)


def saved(name, bytes_, calls):
    return row(name, ("spawn", ""), calls, env=[APPDATA], files={SAVED: bytes_})


SCENARIOS = [
    row("both browsers: only Edge", ("wine", [ADDRESS]), edge(ADDRESS), browsers=("msedge", "chrome")),
    row("only Chrome", ("wine", [ADDRESS]), [("chrome", "--app=" + ADDRESS)], browsers=("chrome",)),
    row("no browser: default handler", ("wine", [ADDRESS]), [("handler", '"%s"' % ADDRESS)], browsers=()),
    row("http stays http", ("wine", ["http://example.org/desk"]), edge("http://example.org/desk")),
    row("two arguments arrive unquoted", ("wine", [ADDRESS, "second"]), edge(ADDRESS + " second")),
    row("tail over 511 bytes is cut", ("spawn", LONG), edge(LONG[:511])),
    row("trailing blanks trimmed, TAB kept", ("spawn", ADDRESS + "\t \r\n"), edge(ADDRESS + "\t")),
    row("leading quote is no address", ("spawn", '"%s"' % ADDRESS), []),
    row("built-in address", ("wine", []), edge("https://example.org/built-in"), build="address"),
    row("command line beats built-in", ("wine", [ADDRESS]), edge(ADDRESS), build="address"),
    saved("saved address opened, file unchanged", b"https://example.org/saved\r\n",
          edge("https://example.org/saved")),
    row("no APPDATA: tarvo.url in the working folder", ("spawn", ""), edge("https://example.org/cwd"),
        env=["-APPDATA"], files={"tarvo.url": b"https://example.org/cwd"}),
    saved("saved with byte-order mark", b"\xef\xbb\xbfhttps://example.org/saved", []),
    saved("saved placeholder", b"https://example.org/.invalid", []),
    saved("saved without scheme", b"example.org/saved", []),
    saved("saved blank first line", b"\r\nhttps://example.org/saved", []),
    row("command-line address is never saved", ("spawn", ADDRESS), edge(ADDRESS), env=[APPDATA],
        after={SAVED: None}),
]


class Wine:
    def __init__(self, work, builds):
        self.work = work
        self.builds = builds
        self.prefix = os.path.join(work, "prefix")
        self.root = os.path.join(self.prefix, "drive_c", "tarvo-e2e")
        guard = os.path.join(work, "guard")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEPATH=E2E + "\\bin",
                        PATH=guard + os.pathsep + os.environ.get("PATH", ""))
        self.guard_log = os.path.join(work, "host-browser-reached")
        os.makedirs(guard, exist_ok=True)
        for name in ("xdg-open", "x-www-browser", "sensible-browser"):
            script = os.path.join(guard, name)
            with open(script, "w") as f:
                f.write('#!/bin/sh\necho "$0 $*" >> "%s"\nexit 1\n' % self.guard_log)
            os.chmod(script, 0o755)

    def run(self, args, timeout=120, cwd=None):
        return subprocess.run([WINE] + args, env=self.env, cwd=cwd or self.work, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode

    def wait_idle(self, timeout=60):
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=timeout)

    def make_prefix(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.run(["wineboot", "-u"], timeout=300)
        self.wait_idle(timeout=300)
        os.makedirs(os.path.join(self.root, "handler"))
        shutil.copy(self.builds["fake_browser"], os.path.join(self.root, "handler", "handler.exe"))
        shutil.copy(self.builds["spawn"], os.path.join(self.root, "spawn.exe"))
        command = '"%s\\handler\\handler.exe" "%%1"' % E2E
        for scheme in ("https", "http"):
            key = "HKLM\\Software\\Classes\\%s\\shell\\open\\command" % scheme
            assert self.run(["reg", "add", key, "/ve", "/d", command, "/f"]) == 0
        self.wait_idle()

    def install_browsers(self, names):
        bin_dir = os.path.join(self.root, "bin")
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.makedirs(bin_dir)
        for name in names:
            shutil.copy(self.builds["fake_browser"], os.path.join(bin_dir, name + ".exe"))

    def start(self, exe, how, what, environment=()):
        """Starts Tarvo.exe in C:\\tarvo-e2e and waits for every process of the prefix;
        returns its exit status."""
        if how == "wine":
            status = self.run([exe] + list(what), cwd=self.root)
        else:
            spec = os.path.join(self.root, "spawn.spec")
            records = ['"Z:%s" %s' % (exe.replace("/", "\\"), what)] + list(environment)
            with open(spec, "wb") as f:
                f.write(b"".join(r.encode("latin-1") + b"\0" for r in records))
            status = self.run([os.path.join(self.root, "spawn.exe"), E2E + "\\spawn.spec"], cwd=self.root)
        self.wait_idle()
        return status

    def calls(self):
        """The fake browsers' command lines as (program, parameters), in order."""
        path = os.path.join(self.root, "calls.log")
        if not os.path.exists(path):
            return []
        result = []
        for line in open(path, "rb").read().decode("latin-1").split("\0")[:-1]:
            end = line.index('"', 1) + 1 if line.startswith('"') else line.find(" ")
            program = line[:end].strip('"').replace("\\", "/").rsplit("/", 1)[-1].lower()
            program = program[:-4] if program.endswith(".exe") else program
            result.append((program, line[end + 1:]))
        return result

    def reset(self, files):
        """Clears what earlier scenarios left and puts this one's files in place."""
        for name in ("calls.log", "tarvo.url", "spawn.spec"):
            if os.path.exists(os.path.join(self.root, name)):
                os.remove(os.path.join(self.root, name))
        for name in ("appdata", "Tarvo"):
            shutil.rmtree(os.path.join(self.root, name), ignore_errors=True)
        if os.path.exists(self.guard_log):
            os.remove(self.guard_log)
        os.makedirs(os.path.join(self.root, "appdata"))
        for name, content in files.items():
            path = os.path.join(self.root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)

    def file(self, name):
        path = os.path.join(self.root, name)
        return open(path, "rb").read() if os.path.isfile(path) else None


def check(name, actual, expected, failures):
    if actual != expected:
        failures.append("%s: expected %r, got %r" % (name, expected, actual))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--address-build", required=True)
    parser.add_argument("--work", required=True)
    options = parser.parse_args()
    build, address_build = os.path.abspath(options.build), os.path.abspath(options.address_build)
    builds = {
        "main": os.path.join(build, "Tarvo.exe"),
        "address": os.path.join(address_build, "Tarvo.exe"),
        "fake_browser": os.path.join(build, "tests", "e2e", "fake_browser.exe"),
        "spawn": os.path.join(build, "tests", "e2e", "spawn.exe"),
    }
    os.makedirs(options.work, exist_ok=True)
    wine = Wine(os.path.abspath(options.work), builds)
    started = time.monotonic()
    wine.make_prefix()
    print("prefix ready in %.1f s" % (time.monotonic() - started), flush=True)

    passed = failed = 0
    for scenario in SCENARIOS:
        failures = []
        wine.install_browsers(scenario["browsers"])
        wine.reset(scenario["files"])
        how, what = scenario["start"]
        status = wine.start(builds[scenario["build"]], how, what, scenario["env"])
        check("exit status", status, 0, failures)
        check("browser calls", wine.calls(), scenario["calls"], failures)
        for name, expected in scenario["after"].items():
            check(name, wine.file(name), expected, failures)
        check("host browser reached", os.path.exists(wine.guard_log), False, failures)
        print("%s: %s" % ("PASS" if not failures else "FAIL", scenario["name"]), flush=True)
        for failure in failures:
            print("    " + failure)
        passed, failed = passed + (not failures), failed + bool(failures)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
