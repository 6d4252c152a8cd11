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


def edge(address):
    return [("msedge", "--app=" + address)]


# start: ("wine", [argv...]) passes arguments through wine, which quotes and rebuilds them;
# ("spawn", tail) hands Tarvo.exe an exact command-line tail through spawn.exe.
SCENARIOS = [
    # name, browsers present, build, start, expected calls (program, parameters)
    ("both browsers: only Edge", {"msedge", "chrome"}, "main", ("wine", [ADDRESS]), edge(ADDRESS)),
    ("only Chrome", {"chrome"}, "main", ("wine", [ADDRESS]), [("chrome", "--app=" + ADDRESS)]),
    ("no browser: default handler", set(), "main", ("wine", [ADDRESS]), [("handler", '"%s"' % ADDRESS)]),
    ("http stays http", {"msedge"}, "main", ("wine", ["http://example.org/desk"]),
     edge("http://example.org/desk")),
    ("two arguments arrive unquoted", {"msedge"}, "main", ("wine", [ADDRESS, "second"]),
     edge(ADDRESS + " second")),
    ("tail over 511 bytes is cut", {"msedge"}, "main", ("spawn", LONG), edge(LONG[:511])),
    ("trailing blanks trimmed, TAB kept", {"msedge"}, "main", ("spawn", ADDRESS + "\t \r\n"),
     edge(ADDRESS + "\t")),
    ("leading quote is no address", {"msedge"}, "main", ("spawn", '"%s"' % ADDRESS), []),
    ("built-in address", {"msedge"}, "address", ("wine", []), edge("https://example.org/built-in")),
    ("command line beats built-in", {"msedge"}, "address", ("wine", [ADDRESS]), edge(ADDRESS)),
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

    def run(self, args, timeout=120):
        return subprocess.run([WINE] + args, env=self.env, cwd=self.work, timeout=timeout,
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
        """Starts Tarvo.exe and waits for every process of the prefix; returns its exit status."""
        if how == "wine":
            status = self.run([exe] + list(what))
        else:
            spec = os.path.join(self.root, "spawn.spec")
            records = ['"Z:%s" %s' % (exe.replace("/", "\\"), what)] + list(environment)
            with open(spec, "wb") as f:
                f.write(b"".join(r.encode("latin-1") + b"\0" for r in records))
            status = self.run([os.path.join(self.root, "spawn.exe"), E2E + "\\spawn.spec"])
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

    def reset_logs(self):
        for path in (os.path.join(self.root, "calls.log"), self.guard_log):
            if os.path.exists(path):
                os.remove(path)


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
    for name, browsers, build, (how, what), expected in SCENARIOS:
        failures = []
        wine.install_browsers(browsers)
        wine.reset_logs()
        status = wine.start(builds[build], how, what)
        check("exit status", status, 0, failures)
        check("browser calls", wine.calls(), expected, failures)
        check("host browser reached", os.path.exists(wine.guard_log), False, failures)
        print("%s: %s" % ("PASS" if not failures else "FAIL", name), flush=True)
        for failure in failures:
            print("    " + failure)
        passed, failed = passed + (not failures), failed + bool(failures)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
