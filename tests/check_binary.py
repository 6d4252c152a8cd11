#!/usr/bin/env python3
"""Checks the built Tarvo.exe and the launcher's own objects against the budgets:
PE32+ GUI, only system DLLs and msvcrt, the library search restricted, no wide calls but the
command line's, the prompt's and the two of the tag look-up, sizes, no heap calls, no static initialisers."""
import glob
import os
import re
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll", "gdi32.dll"}
HEAP = re.compile(r"^(malloc|calloc|realloc|free|_Znw|_Zna|_Zdl|_Zda)")
SIZE_BEFORE_RESOURCES = 21 * 1024
SIZE_WITH_RESOURCES = 30 * 1024


def tool(name, *args):
    return subprocess.run(["x86_64-w64-mingw32-" + name] + list(args), check=True,
                          stdout=subprocess.PIPE, text=True).stdout


def main():
    build = sys.argv[1]
    exe = os.path.join(build, "Tarvo.exe")
    failures = []
    headers = tool("objdump", "-p", exe)
    if not re.search(r"^Magic\s+020b", headers, re.M):
        failures.append("not PE32+")
    if not re.search(r"^Subsystem\s+00000002", headers, re.M):
        failures.append("not the GUI subsystem")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", headers)}
    if not dlls <= ALLOWED_DLLS:
        failures.append("imports %s" % sorted(dlls - ALLOWED_DLLS))
    # The launcher's text is narrow; only what it reads from the user (the command line and the
    # prompt's windows, before any best fit) and the look-up of its own file, for the tag, are wide.
    wide = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+[a-z]W)$", headers, re.M))
    expected = {"GetCommandLineW", "CreateWindowExW", "GetWindowTextW", "GetMessageW", "DispatchMessageW", "CreateFileW",
                "GetModuleFileNameW"}
    if wide != expected:
        failures.append("wide imports %s, not just %s" % (sorted(wide), sorted(expected)))
    kernel32 = re.search(r"DLL Name: KERNEL32\.dll\n(.*?)\n\n", headers, re.S | re.I)
    if not kernel32 or not re.search(r"\sSetDefaultDllDirectories$", kernel32.group(1), re.M):
        failures.append("KERNEL32 imports no SetDefaultDllDirectories: libraries would be searched beside the exe")

    sections = re.findall(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s", tool("objdump", "-h", exe), re.M)
    resources = sum(-(-int(size, 16) // 512) * 512 for name, size in sections if name == ".rsrc")
    code_size = os.path.getsize(exe) - resources
    print("Tarvo.exe: %d bytes, %d before resources; imports %s" % (
        os.path.getsize(exe), code_size, ", ".join(sorted(dlls))))
    if code_size > SIZE_BEFORE_RESOURCES:
        failures.append("%d bytes before resources, budget %d" % (code_size, SIZE_BEFORE_RESOURCES))
    if os.path.getsize(exe) > SIZE_WITH_RESOURCES:
        failures.append("%d bytes with resources, budget %d" % (os.path.getsize(exe), SIZE_WITH_RESOURCES))

    objects = glob.glob(os.path.join(build, "CMakeFiles", "Tarvo.dir", "**", "*.obj"), recursive=True)
    if not objects:
        failures.append("no launcher objects found")
    for obj in objects:
        undefined = tool("nm", "-u", obj).split()
        heap = [s for s in undefined if HEAP.match(s[len("__imp_"):] if s.startswith("__imp_") else s)]
        if heap:
            failures.append("%s calls %s" % (os.path.basename(obj), heap))
        if re.search(r"\s\.(ctors|init_array)", tool("objdump", "-h", obj)):
            failures.append("%s has a static initialiser" % os.path.basename(obj))

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
