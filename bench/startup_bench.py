#!/usr/bin/env python3
"""Measures what bench/run.sh describes; run through bench/run.sh, which builds first."""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
ADDRESS = "https://example.org/desk"


def wine_medians(runs, tagged):
    prefix = tempfile.mkdtemp(prefix="tarvo-bench-")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               WINEPATH="C:\\bench")
    subprocess.run([WINE, "wineboot", "-u"], env=env, capture_output=True)
    subprocess.run([WINESERVER, "-w"], env=env)
    os.makedirs(os.path.join(prefix, "drive_c", "bench"))
    shutil.copy("build/windows/tests/e2e/fake_browser.exe", os.path.join(prefix, "drive_c", "bench", "msedge.exe"))
    # A running wineserver keeps every start equally warm, as a logged-in session would.
    keeper = subprocess.Popen([WINESERVER, "-p"], env=env)
    # The tagged launcher starts without an argument: its address comes from the slot and the tag.
    programs = {"Tarvo.exe": ("build/windows/Tarvo.exe", [ADDRESS]), "tagged": (tagged, []),
                "floor": ("build/windows/bench/floor.exe", [ADDRESS])}
    times = {name: [] for name in programs}
    log = os.path.join(prefix, "drive_c", "calls.log")  # the fake browser logs two folders up
    launched = 0
    for run in range(runs + 2):
        for name, (exe, arguments) in programs.items():
            started = time.perf_counter()
            subprocess.run([WINE, exe] + arguments, env=env, check=True)
            elapsed = time.perf_counter() - started
            # Let the fake browser finish before the next start, so that runs never overlap.
            launched += 1
            deadline = time.monotonic() + 30
            while (not os.path.exists(log) or open(log, "rb").read().count(b"\0") < launched) and time.monotonic() < deadline:
                time.sleep(0.01)
            if not os.path.exists(log) or open(log, "rb").read().count(b"\0") < launched:
                sys.exit("bench/run.sh: %s started no browser within 30 s; nothing is timed" % name)
            if run >= 2:  # the first two rounds warm the caches
                times[name].append(elapsed)
    opened = open(log, "rb").read()
    for expected in (b"--app=" + ADDRESS.encode(), b"--app=https://example.org/desks/mia"):
        if expected not in opened:
            sys.exit("bench/run.sh: no browser was started with %s" % expected.decode())
    subprocess.run([WINESERVER, "-k"], env=env)
    keeper.wait()
    shutil.rmtree(prefix, ignore_errors=True)
    return {name: statistics.median(values) for name, values in times.items()}


def instructions(source):
    with tempfile.NamedTemporaryFile(suffix=".out") as out:
        # Symbols bound at load, so that the count is the start-up's own work and not the
        # dynamic linker's first look-up of each library call the fake layer makes.
        subprocess.run(["valgrind", "--tool=callgrind", "--toggle-collect=WinMain*", "--callgrind-out-file=" + out.name,
                        "build/tests/bench/startup_driver", source], check=True, capture_output=True,
                       env=dict(os.environ, LD_BIND_NOW="1"))
        totals = re.search(rb"^(?:summary|totals): (\d+)", open(out.name, "rb").read(), re.M)
        return int(totals.group(1))


def main():
    runs, tagged = int(sys.argv[1]), sys.argv[2]
    exe = "build/windows/Tarvo.exe"
    imports = re.findall(r"DLL Name: (\S+)", subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe],
                                                            capture_output=True, text=True).stdout)
    print("Tarvo.exe: %d bytes; imports %s" % (os.path.getsize(exe), ", ".join(imports)))
    for source in ("cmdline", "slot", "saved"):
        print("start-up sequence, address from %-7s: %6d instructions (native, callgrind)" % (source, instructions(source)))
    medians = wine_medians(runs, tagged)
    print("under Wine, %d runs each, alternating: Tarvo.exe median %.1f ms, floor median %.1f ms, ratio %.3f" % (
        runs, medians["Tarvo.exe"] * 1000, medians["floor"] * 1000, medians["Tarvo.exe"] / medians["floor"]))
    print("under Wine, a signed, tagged launcher started without an address: median %.1f ms, ratio to the floor %.3f" % (
        medians["tagged"] * 1000, medians["tagged"] / medians["floor"]))


if __name__ == "__main__":
    main()
