#!/usr/bin/env python3
"""Runs the real Tarvo.exe under Wine, one scenario per row of SCENARIOS.

Fake browsers (fake_browser.exe copied as msedge.exe, chrome.exe and handler.exe) log
their exact command lines; the handler is registered for https and http, and a guard
xdg-open on the host's PATH records any attempt to reach a real browser. Wine draws a
virtual desktop on an Xvfb display, where xdotool drives the prompt window. Rows marked
real start Debian's chromium through the msedge.exe stand-in, on a page that a server of
ours serves on 127.0.0.1 only."""
import argparse
import getpass
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

WAIT = 60                 # seconds any one thing may take before the scenario fails, under load too
FRAME_X, FRAME_Y = 3, 22  # client origin inside Wine's default window frame
WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
E2E = "C:\\tarvo-e2e"
ADDRESS = "https://example.org/desk"
LONG = "https://example.org/" + "a" * 600
STAMPED = "https://example.org/stamped"
BRANDED = "https://example.org/branded"
RELEASE = "https://example.org/desks/"  # a release for tagging: its host is closed
SAVED = "appdata/Tarvo/url.txt"       # files are named relative to C:\\tarvo-e2e
APPDATA = "APPDATA=" + E2E + "\\appdata"



class PageServer:
    """Serves one titled page for every path on 127.0.0.1 and records each request's path
    and user agent."""
    TITLE = "Tarvo test page"

    def __init__(self):
        self.requests = []
        requests, title = self.requests, self.TITLE.encode()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                requests.append((self.path, self.headers.get("User-Agent", "")))
                body = b"<!doctype html><title>%s</title><p>%s</p>" % (title, title)
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.http = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d" % self.http.server_port

    def start(self):
        threading.Thread(target=self.http.serve_forever, daemon=True).start()


PAGE = PageServer()

# Prompt actions, in client coordinates of the prompt window being driven; Wine puts a new
# window at the desktop's top left, and ("drag", dx, dy) moves the topmost one away.
BUTTON = (40, 100)
PASTE = lambda text: [("click", 30, 60), ("paste", text)]
OPEN_DESK = [("click",) + BUTTON]
ALT_F4 = [("click", 300, 130), ("key", "alt+F4")]
CLOSE_BOX = [("close_box",)]


def edge(address):
    return [("msedge", "--app=" + address)]


def row(name, start, calls, browsers=("msedge",), build="main", env=(), files=None, after=None,
        prompt=None, instances=1, fault=None, real=None, again=False, planted=False, shift=False, arguments=None):
    """start: ("wine", [argv...]) lets wine quote and rebuild the arguments; ("spawn", tail)
    hands Tarvo.exe an exact tail and environment (env) through spawn.exe. files are put in
    place first; after maps each file to its expected bytes (or a set of them), None for
    absent. prompt lists the actions on the prompt windows, which must then appear; without
    it none may. fault is ("hold", file[, "delete"]) or ("read-only", folder), in force during the run.
    real is the path that Chromium, started by msedge.exe, must ask the page server for.
    again starts the launcher a second time, in the same way, once the first run is over;
    True when it must not ask, or the actions on the prompt it must show.
    planted drops stand-ins named msedge.exe and chrome.exe into the working folder.
    shift holds Shift down while a spawned launcher starts. arguments is how many arguments
    each browser must find in its command line, its own name among them."""
    files = files or {}
    return dict(name=name, start=start, calls=sorted(calls), browsers=set(browsers), build=build,
                env=env, files=files, after=after if after is not None else files, prompt=prompt,
                instances=instances, fault=fault, real=real, again=again, planted=planted, shift=shift,
                arguments=arguments)


def saved(name, bytes_, calls, prompt=None):
    return row(name, ("spawn", ""), calls, env=[APPDATA], files={SAVED: bytes_}, prompt=prompt)


def first_run(name, actions, calls, saved_bytes, env=(APPDATA,), files=None, real=None):
    return row(name, ("spawn", ""), calls, env=list(env), files=files, after={SAVED: saved_bytes},
               prompt=actions, real=real)


def remembered(name, appdata, saved_file):
    """A first run's Open desk, then a second start that opens the typed address at once."""
    folder = appdata[len(E2E) + 1:]
    files = {} if "?" in folder else {folder + "/desktop.ini": b""}  # the profile folder exists
    return row(name, ("spawn", ""), edge(ADDRESS) * 2, env=["APPDATA=" + appdata], files=files,
               after={saved_file: ADDRESS.encode()}, prompt=PASTE("example.org/desk") + OPEN_DESK, again=True)


# APPDATA values of a given length, in a folder named by the runner's root.
def long_appdata(length):
    return E2E + "\\" + "p" * (length - len(E2E) - 1)


def faulty_save(name, fault, files, after):
    """A prompt (the saved address is a placeholder) whose save meets the fault."""
    return row(name, ("spawn", ""), edge("https://example.org/new"), env=[APPDATA], files=files,
               after=after, prompt=PASTE("example.org/new") + OPEN_DESK, fault=fault)


OLD = {SAVED: b"https://example.org/old.invalid"}


SCENARIOS = [
    row("both browsers: only Edge", ("wine", [ADDRESS]), edge(ADDRESS), browsers=("msedge", "chrome")),
    row("only Chrome", ("wine", [ADDRESS]), [("chrome", "--app=" + ADDRESS)], browsers=("chrome",)),
    row("no browser: default handler", ("wine", [ADDRESS]), [("handler", '"%s"' % ADDRESS)], browsers=()),
    row("http stays http", ("wine", ["http://example.org/desk"]), edge("http://example.org/desk")),
    row("two arguments arrive unquoted", ("wine", [ADDRESS, "second"]), edge(ADDRESS + " second")),
    row("tail with a second argument is not encoded", ("spawn", ADDRESS + ' --a="b c"'), edge(ADDRESS + ' --a="b c"')),
    row("U+3000 on the command line: one argument, escaped", ("wine", [ADDRESS + "\u3000--user-agent=X"]),
        edge(ADDRESS + "%E3%80%80--user-agent=X"), arguments=2),
    row("tail over 511 bytes is cut", ("spawn", LONG), edge(LONG[:511])),
    row("trailing blanks trimmed, TAB kept", ("spawn", ADDRESS + "\t \r\n"), edge(ADDRESS + "\t")),
    row("leading quote is no address", ("spawn", '"%s"' % ADDRESS), [], env=[APPDATA], prompt=ALT_F4),
    row("built-in address", ("wine", []), edge("https://example.org/built-in"), build="address"),
    row("command line beats built-in", ("wine", [ADDRESS]), edge(ADDRESS), build="address"),
    saved("saved address opens at once, file unchanged", b"https://example.org/saved\r\n",
          edge("https://example.org/saved")),
    row("no APPDATA: tarvo.url in the working folder", ("spawn", ""), edge("https://example.org/cwd"),
        env=["-APPDATA"], files={"tarvo.url": b"https://example.org/cwd"}),
    saved("saved blank is opened encoded, file unchanged", b"https://example.org/a b --x",
          edge("https://example.org/a%20b%20--x")),
    saved("saved with byte-order mark", b"\xef\xbb\xbfhttps://example.org/saved", [], prompt=ALT_F4),
    saved("saved placeholder", b"https://example.org/.invalid", [], prompt=ALT_F4),
    saved("saved without scheme", b"example.org/saved", [], prompt=ALT_F4),
    saved("saved blank first line", b"\r\nhttps://example.org/saved", [], prompt=CLOSE_BOX),
    row("command-line address is never saved", ("spawn", ADDRESS), edge(ADDRESS), env=[APPDATA],
        after={SAVED: None}),
    first_run("first run: paste, Open desk", [("screenshot", "prompt.png")] + PASTE(" example.org/desk \n")
              + OPEN_DESK, edge(ADDRESS), b"https://example.org/desk"),
    first_run("typed blank and quote are saved and opened encoded", PASTE('example.org/desk --x="y"') + OPEN_DESK,
              edge("https://example.org/desk%20--x=%22y%22"), b"https://example.org/desk%20--x=%22y%22"),
    first_run("close box saves and opens nothing", PASTE("example.org/desk") + CLOSE_BOX, [], None),
    first_run("Enter does nothing", PASTE("example.org/desk") + [("key", "Return"), ("stays",)]
              + ALT_F4, [], None),
    first_run("empty field opens https://, saves nothing, and the next start asks again", OPEN_DESK,
              edge("https://"), None) | {"again": ALT_F4},
    saved("saved bare scheme from an older build asks again", b"https://", [], prompt=ALT_F4),
    first_run("'?x' typed: no host, opened, saves nothing, and the next start asks again", PASTE("?x") + OPEN_DESK,
              edge("https://?x"), None) | {"again": ALT_F4},
    first_run("a blank typed in the host: opened, saves nothing", PASTE("desk.example .org/team") + OPEN_DESK,
              edge("https://desk.example%20.org/team"), None),
    first_run("a capital scheme typed: saved as https://", PASTE("HTTPS://example.org/desk") + OPEN_DESK, edge(ADDRESS),
              ADDRESS.encode()),
    row("Shift held: the prompt over a saved address, and Open desk replaces it", ("spawn", ""),
        edge("https://example.org/right"), env=[APPDATA], files={SAVED: b"https://example.org/typo"},
        after={SAVED: b"https://example.org/right"}, prompt=PASTE("example.org/right") + OPEN_DESK, shift=True),
    first_run("placeholder typed is saved and opened", PASTE("desk.invalid/x") + OPEN_DESK,
              edge("https://desk.invalid/x"), b"https://desk.invalid/x"),
    first_run("failed save still opens", PASTE("example.org/desk") + OPEN_DESK, edge(ADDRESS), None,
              env=["APPDATA=" + E2E + "\\not-a-folder"], files={"not-a-folder": b"a file"}),
    row("stamped launcher, no argument", ("wine", []), edge(STAMPED), build="stamped"),
    saved("stamped launcher ignores a valid saved file", b"https://example.org/saved", edge(STAMPED))
    | {"build": "stamped"},
    remembered("APPDATA of 241 characters: remembered there", long_appdata(241),
               "p" * (241 - len(E2E) - 1) + "/Tarvo/url.txt"),
    remembered("APPDATA of 242 characters: remembered in tarvo.url", long_appdata(242), "tarvo.url"),
    remembered("APPDATA of 245 characters: remembered in tarvo.url", long_appdata(245), "tarvo.url"),
    remembered("APPDATA with '?': remembered in tarvo.url", E2E + "\\app?data", "tarvo.url"),
    row("planted in the working folder, only Chrome on the path: Chrome", ("wine", [ADDRESS]),
        [("chrome", "--app=" + ADDRESS)], browsers=("chrome",), planted=True),
    row("planted in the working folder, Edge on the path: that Edge", ("spawn", ADDRESS), edge(ADDRESS), planted=True),
    first_run("first run with planted browsers", PASTE("example.org/desk") + OPEN_DESK, edge(ADDRESS),
              ADDRESS.encode()) | {"planted": True},
    row("planted browsers: tarvo.url in the working folder still read", ("spawn", ""), edge("https://example.org/cwd"),
        env=["-APPDATA"], files={"tarvo.url": b"https://example.org/cwd"}, planted=True),
    row("real browser: the page opens in Chromium", ("wine", [PAGE.url + "/page"]), edge(PAGE.url + "/page"),
        real="/page"),
    first_run("real browser: a typed switch stays inside the address",
              PASTE(PAGE.url + "/desk --user-agent=INJECTED") + OPEN_DESK, edge(PAGE.url + "/desk%20--user-agent=INJECTED"),
              (PAGE.url + "/desk%20--user-agent=INJECTED").encode(), real="/desk%20--user-agent=INJECTED"),
    row("signed per-user launcher, no argument", ("wine", []), edge(STAMPED), build="signed"),
    row("branded launcher, no argument", ("wine", []), edge(BRANDED), build="branded"),
    row("tagged launcher: the release's address and its tag", ("wine", []), edge(RELEASE + "mia"), build="tagged"),
    row("tag field made blank: the release's address alone", ("wine", []), edge(RELEASE), build="tag_blank"),
    row("a '/' in the tag field: the release's address alone", ("wine", []), edge(RELEASE), build="tag_slash"),
    row("tagged launcher in a folder named outside the code page finds its tag", ("wine", []), edge(RELEASE + "mia"),
        build="tag_downloads"),
    row("downloaded from the edge worker: the release's address and its tag", ("wine", []),
        edge("https://desk.example.org/d/9lives"), build="edge"),
    faulty_save("fault: Tarvo folder is a file", None, {"appdata/Tarvo": b"a file"}, {"appdata/Tarvo": b"a file"}),
    faulty_save("fault: url.txt is a folder", None, {SAVED + "/keep": b"x"}, {SAVED + "/keep": b"x"}),
    faulty_save("fault: url.txt held open without sharing", ("hold", SAVED), OLD, OLD),
    faulty_save("fault: read-only folder", ("read-only", "appdata/Tarvo"), OLD, OLD),
    row("fault: two prompts press Open desk at once", ("spawn", ""),
        edge("https://example.org/a") + edge("https://example.org/b"), env=[APPDATA], instances=2,
        prompt=[("drag", 200, 290)] + PASTE("example.org/b") + [("origin", 0, 0)] + PASTE("example.org/a")
        + [("press_together", [(0, 0) + BUTTON, (200, 290) + BUTTON])],
        after={SAVED: {b"https://example.org/a", b"https://example.org/b"}}),
]


def poll(condition, seconds=WAIT, step=0.1):
    """condition's first true value, or its last value once the deadline has passed."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


class Screen:
    """An Xvfb display of our own, and xdotool and xclip acting on it."""

    def __init__(self, artifacts, fields):
        self.fields = fields  # a function that returns the prompt windows' field texts
        number = next(n for n in range(90, 190) if not os.path.exists("/tmp/.X%d-lock" % n))
        self.display = ":%d" % number
        self.artifacts = artifacts
        self.server = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clipboard = None
        self.origin = (0, 0)
        if poll(lambda: self.x("xdotool", "getmouselocation") is not None, 10) is None:
            raise RuntimeError("Xvfb did not start on " + self.display)

    def x(self, *command, stdin=None):
        result = subprocess.run(command, env=dict(os.environ, DISPLAY=self.display), input=stdin,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=WAIT)
        return result.stdout.decode() if result.returncode == 0 else None

    def prompt_windows(self):
        found = self.x("xdotool", "search", "--name", "^Tarvo$")
        return found.split() if found else []

    def at(self, x, y, origin=None):
        """Screen coordinates of a point in the client area of the window at origin."""
        ox, oy = origin or self.origin
        return [str(ox + FRAME_X + x), str(oy + FRAME_Y + y)]

    def act(self, window, action):
        kind = action[0]
        if kind == "click":
            self.x("xdotool", "mousemove", *self.at(action[1], action[2]), "click", "1")
        elif kind == "close_box":
            self.x("xdotool", "mousemove", *self.at(460 - 14 - FRAME_X, 11 - FRAME_Y), "click", "1")
        elif kind == "drag":
            start, end = self.at(200, -12), self.at(200 + action[1], -12 + action[2])
            self.x("xdotool", "mousemove", *start, "mousedown", "1", "sleep", "0.2", "mousemove", *end,
                   "sleep", "0.2", "mouseup", "1")
            self.origin = (self.origin[0] + action[1], self.origin[1] + action[2])
        elif kind == "origin":
            self.origin = action[1:]
        elif kind == "press_together":
            chain = []
            for ox, oy, x, y in action[1]:
                chain += ["mousemove"] + self.at(x, y, (ox, oy)) + ["click", "1"]
            self.x("xdotool", *chain)
        elif kind == "paste":
            # xclip owns the clipboard only a moment after it starts, and the field shows the
            # text only once Wine has handled the keys: wait for each, never for a set time.
            # A single-line field keeps the text up to its first line break.
            if self.clipboard:
                self.clipboard.kill()
            self.clipboard = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard"],
                                              env=dict(os.environ, DISPLAY=self.display), stdin=subprocess.PIPE,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.clipboard.stdin.write(action[1].encode())
            self.clipboard.stdin.close()
            if poll(lambda: self.x("xclip", "-o", "-selection", "clipboard") == action[1]) is not True:
                return False
            self.x("xdotool", "key", "ctrl+v")
            return poll(lambda: action[1].split("\n")[0] in self.fields()) is True
        elif kind == "key":
            self.x("xdotool", "key", action[1])
        elif kind == "screenshot":
            self.x("import", "-window", window, os.path.join(self.artifacts, action[1]))
            return self.looks_right(window)
        elif kind == "stays":
            # Nothing may happen: the window must still be there a moment later.
            return poll(lambda: window not in self.prompt_windows(), seconds=1.5) is False
        return True

    def looks_right(self, window):
        """The dark client area, and Tarvo's teal icon rather than Wine's in the title bar."""
        raw = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], env=dict(os.environ, DISPLAY=self.display),
                             stdout=subprocess.PIPE, timeout=WAIT).stdout
        magic, width, height, depth, pixels = raw.split(maxsplit=4)
        width = int(width)
        pixel = lambda x, y: tuple(pixels[3 * (y * width + x):3 * (y * width + x) + 3])
        teal = any(g > r + 50 and g > b + 20 for r, g, b in (pixel(x, y) for x in range(2, 22) for y in range(2, 22)))
        return magic == b"P6" and teal and pixel(FRAME_X + 300, FRAME_Y + 130) == (0x11, 0x11, 0x11)

    def end_row(self):
        self.origin = (0, 0)
        if self.clipboard:
            self.clipboard.kill()
            self.clipboard = None

    def close(self):
        self.server.terminate()


class Wine:
    def __init__(self, work, builds, display):
        self.work = work
        self.builds = builds
        self.prefix = os.path.join(work, "prefix")
        self.root = os.path.join(self.prefix, "drive_c", "tarvo-e2e")
        self.planted_log = os.path.join(self.prefix, "drive_c", "calls.log")
        guard = os.path.join(work, "guard")
        # UTF-8 file names on the host, so that a folder named outside the code page reaches Wine whole.
        self.env = dict(os.environ, LC_ALL="C.UTF-8", WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEPATH=E2E + "\\bin", DISPLAY=display,
                        PATH=guard + os.pathsep + os.environ.get("PATH", ""))
        self.guard_log = os.path.join(work, "host-browser-reached")
        self.profile = os.path.join(work, "chromium-profile")
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
        for tool in ("spawn", "hold_file", "read_field"):
            shutil.copy(self.builds[tool], os.path.join(self.root, tool + ".exe"))
        command = '"%s\\handler\\handler.exe" "%%1"' % E2E
        settings = [("HKLM\\Software\\Classes\\%s\\shell\\open\\command" % scheme, "/ve", command)
                    for scheme in ("https", "http")]
        # A virtual desktop, so that Wine draws title bars and close boxes itself.
        settings += [("HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default"),
                     ("HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", "800x600")]
        for key, *value in settings:
            value = value if len(value) == 4 else [value[0], "/d", value[1]]
            assert self.run(["reg", "add", key] + value + ["/f"]) == 0
        self.wait_idle()

    def install_browsers(self, names, planted):
        """names go on the search path; planted ones are dropped into the working folder, as
        a drive-by download lands in Downloads. Those log to C:\\calls.log, the folder above
        theirs, and so are told apart."""
        bin_dir = os.path.join(self.root, "bin")
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.makedirs(bin_dir)
        for name in names:
            shutil.copy(self.builds["fake_browser"], os.path.join(bin_dir, name + ".exe"))
        for name in ("msedge", "chrome"):
            path = os.path.join(self.root, name + ".exe")
            if planted:
                shutil.copy(self.builds["fake_browser"], path)
            elif os.path.exists(path):
                os.remove(path)

    def start(self, exe, how, what, environment=(), real=False, shift=False):
        """Starts Tarvo.exe in C:\\tarvo-e2e; its exit status is that of the process returned.
        With real, the msedge.exe stand-in hands its parameters on to Chromium."""
        if how == "wine":
            command = [exe] + list(what)
        else:
            records = ['"Z:%s" %s' % (exe.replace("/", "\\"), what)] + list(environment) + ["!shift"] * shift
            with open(os.path.join(self.root, "spawn.spec"), "wb") as f:
                f.write(b"".join(r.encode("latin-1") + b"\0" for r in records))
            command = [os.path.join(self.root, "spawn.exe"), E2E + "\\spawn.spec"]
        chromium = os.path.join(os.path.dirname(os.path.abspath(__file__)), "chromium.sh")
        env = dict(self.env, TARVO_REAL_BROWSER=chromium, TARVO_BROWSER_PROFILE=self.profile) if real else self.env
        return subprocess.Popen([WINE] + command, env=env, cwd=self.root,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def inject(self, fault):
        """Puts the fault in force; returns what ends it."""
        kind, name, *share = fault
        path = os.path.join(self.root, name)
        if kind == "read-only":
            # Root ignores permission bits, and so Wine's read-only attribute; the kernel's
            # immutable flag holds even for root.
            subprocess.run(["chattr", "+i", path], check=True)
            return lambda: subprocess.run(["chattr", "-i", path], check=True)
        holder = subprocess.Popen([WINE, os.path.join(self.root, "hold_file.exe"), E2E + "\\" + name.replace("/", "\\")] + share,
                                  env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not poll(lambda: os.path.exists(path + ".held")):
            raise RuntimeError("hold_file.exe never held " + name)

        def release():
            open(path + ".release", "w").close()
            holder.wait(timeout=WAIT)
            os.remove(path + ".held")
            os.remove(path + ".release")
        return release

    def prompt_fields(self):
        result = subprocess.run([WINE, os.path.join(self.root, "read_field.exe")], env=self.env, cwd=self.root,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=WAIT)
        return result.stdout.decode("latin-1").splitlines()

    def run_exactly(self, command_line):
        """Runs a command line exactly as given, through spawn.exe; its exit status."""
        with open(os.path.join(self.root, "spawn.spec"), "wb") as f:
            f.write(command_line.encode("latin-1") + b"\0")
        return self.run([os.path.join(self.root, "spawn.exe"), E2E + "\\spawn.spec"], cwd=self.root)

    def registry_values(self, root, key, value):
        """Each key's name under key (its last part) and its value's data, for the keys that hold value."""
        result = subprocess.run([WINE, "reg", "query", root + "\\" + key, "/s"], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=WAIT)
        found, current = {}, None
        for line in result.stdout.decode("latin-1").splitlines():
            if line.startswith("HKEY_"):
                current = line.strip().rsplit("\\", 1)[-1]
            elif line.split(None, 2)[:1] == [value]:
                found[current] = (line.split(None, 2) + [""])[2]
        return found

    def kill_all(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, timeout=WAIT)

    def calls(self):
        """The fake browsers' command lines as (program, parameters), in order; a planted
        program is named "planted". argument_counts keeps how many arguments each found."""
        result, self.argument_counts = [], []
        for path, planted in ((os.path.join(self.root, "calls.log"), False), (self.planted_log, True)):
            lines = open(path, "rb").read().decode("utf-8", "replace").split("\0")[:-1] if os.path.exists(path) else []
            for record in lines:
                count, line = record.split("\t", 1)
                self.argument_counts.append(int(count))
                end = line.index('"', 1) + 1 if line.startswith('"') else line.find(" ")
                program = line[:end].strip('"').replace("\\", "/").rsplit("/", 1)[-1].lower()
                program = "planted" if planted else program[:-4] if program.endswith(".exe") else program
                result.append((program, line[end + 1:]))
        return result

    def reset(self, files):
        """Clears what earlier scenarios left and puts this one's files in place."""
        for path in [os.path.join(self.root, n) for n in ("calls.log", "tarvo.url", "spawn.spec", "shift-released")] + [self.planted_log]:
            if os.path.exists(path):
                os.remove(path)
        for name in ["appdata", "Tarvo"] + [n for n in os.listdir(self.root) if n.startswith("pp")]:
            shutil.rmtree(os.path.join(self.root, name), ignore_errors=True)
        if os.path.exists(self.guard_log):
            os.remove(self.guard_log)
        os.makedirs(os.path.join(self.root, "appdata"))
        for name, content in files.items():
            path = os.path.join(self.root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)

    def temporary_files(self):
        left = []
        for folder, _, names in os.walk(self.root):
            left += [os.path.join(folder, n) for n in names if n.startswith("~") or ".partial" in n]
        return left

    def file(self, name):
        path = os.path.join(self.root, name)
        return open(path, "rb").read() if os.path.isfile(path) else None


def report(name, failures):
    print("%s: %s" % ("PASS" if not failures else "FAIL", name), flush=True)
    for failure in failures:
        print("    " + failure)
    return not failures


def check(name, actual, expected, failures):
    if actual not in expected if isinstance(expected, set) else actual != expected:
        failures.append("%s: expected %r, got %r" % (name, expected, actual))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--address-build", required=True)
    parser.add_argument("--stamp-tool", required=True)
    parser.add_argument("--edge-download", required=True, help="a launcher tagged 9lives by the edge worker")
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", default="", help="run only the rows whose name holds this text")
    options = parser.parse_args()
    build, address_build = os.path.abspath(options.build), os.path.abspath(options.address_build)
    builds = {
        "main": os.path.join(build, "Tarvo.exe"),
        "address": os.path.join(address_build, "Tarvo.exe"),
        "fake_browser": os.path.join(build, "tests", "e2e", "fake_browser.exe"),
        "spawn": os.path.join(build, "tests", "e2e", "spawn.exe"),
        "hold_file": os.path.join(build, "tests", "e2e", "hold_file.exe"),
        "read_field": os.path.join(build, "tests", "e2e", "read_field.exe"),
        "stamp_exe": os.path.join(build, "tools", "stamp", "tarvo-stamp.exe"),
        "verify_trust": os.path.join(build, "tests", "e2e", "verify_trust.exe"),
        "edge": os.path.abspath(options.edge_download),
    }
    work = os.path.abspath(options.work)
    os.makedirs(work, exist_ok=True)
    builds["stamped"] = os.path.join(work, "Tarvo-stamped.exe")
    subprocess.run([options.stamp_tool, builds["main"], STAMPED, "-o", builds["stamped"]], check=True)
    builds["signed"] = sign(work, builds["stamped"], "Tarvo-signed.exe")
    tagged_builds(work, builds, options.stamp_tool)
    subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), "..", "make_icons.py"), work], check=True)
    builds["icon"], builds["stamp_native"] = os.path.join(work, "desk-a.ico"), options.stamp_tool
    build_packages(work, builds)
    builds["branded"] = os.path.join(work, "Tarvo-branded.exe")
    subprocess.run([options.stamp_tool, builds["main"], BRANDED, "-o", builds["branded"], "--icon", builds["icon"],
                    "--name", "My desk"], check=True)
    screen = Screen(work, lambda: wine.prompt_fields())
    PAGE.start()
    try:
        wine = Wine(work, builds, screen.display)
        started = time.monotonic()
        wine.make_prefix()
        print("prefix ready in %.1f s" % (time.monotonic() - started), flush=True)
        checks = [lambda s=s: run_scenario(wine, screen, builds, s) for s in SCENARIOS if options.only in s["name"]]
        if options.only in "tarvo-stamp.exe":
            checks.append(lambda: stamp_replaces_a_held_output(wine, builds))
        if options.only in "WinVerifyTrust":
            checks.append(lambda: signatures_are_checked(wine, builds))
        installed = {}  # each desk's address and launcher, as the managed steps so far leave them
        checks += [lambda step=step: managed_install(wine, builds, step, installed) for step in MANAGED if options.only in step[0]]
        if options.only in "msi: signed":
            checks.append(lambda: package_is_sound(builds))
        failed = sum(not passed() for passed in checks)
    finally:
        screen.close()
    print("%d passed, %d failed" % (len(checks) - failed, failed))
    return 1 if failed else 0


def check_real_browser(screen, wine, path, failures):
    """Chromium's window shows the served page, asked for by exactly the expected path and
    never with an injected user agent; then the browser is closed by its window's process."""
    window = poll(lambda: screen.x("xdotool", "search", "--name", PageServer.TITLE))
    check("Chromium window with the page's title", bool(window), True, failures)
    check("page served", poll(lambda: any(p == path for p, _ in PAGE.requests)), True, failures)
    check("injected user agent", [a for _, a in PAGE.requests if "INJECTED" in a], [], failures)
    for pid in {screen.x("xdotool", "getwindowpid", w) for w in (window or "").split()} - {None}:
        os.kill(int(pid), signal.SIGTERM)
    if poll(lambda: not screen.x("xdotool", "search", "--name", PageServer.TITLE), 10) is not True:
        subprocess.run(["pkill", "-KILL", "-f", wine.profile])
    del PAGE.requests[:]
    shutil.rmtree(wine.profile, ignore_errors=True)


def sign(work, exe, name, *options):
    """A signed copy of exe, with a throwaway self-signed code-signing certificate."""
    key, cert, signed = (os.path.join(work, n) for n in ("signer-key.pem", "signer.pem", name))
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Tarvo test signer", "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if os.path.exists(signed):
        os.remove(signed)  # osslsigncode writes no output over an existing file
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Tarvo", "-h", "sha256"] + list(options)
                   + ["-in", exe, "-out", signed], check=True, stdout=subprocess.DEVNULL)
    return signed


def tagged_builds(work, builds, stamp_tool):
    """A release signed once with the tag certificate, tagged "mia"; copies whose field holds
    a blank or a '/'; and the tagged one in a folder whose name lies outside the code page."""
    certificate, release = os.path.join(work, "tag.crt"), os.path.join(work, "Tarvo-release.exe")
    subprocess.run([stamp_tool, "--tag-certificate", certificate], check=True)
    subprocess.run([stamp_tool, builds["main"], RELEASE, "-o", release], check=True)
    signed = sign(work, release, "Tarvo-release-signed.exe", "-ac", certificate)
    builds["tagged"] = os.path.join(work, "Tarvo-mia.exe")
    subprocess.run([stamp_tool, "--tag", signed, "mia", "-o", builds["tagged"]], check=True)
    data = open(builds["tagged"], "rb").read()
    field = b"mia" + b" " * 61
    for name, replacement in (("tag_blank", b" " * 64), ("tag_slash", b"mi/a" + b" " * 60)):
        builds[name] = os.path.join(work, "Tarvo-%s.exe" % name)
        with open(builds[name], "wb") as f:
            f.write(data.replace(field, replacement))
    downloads = os.path.join(work, "\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9")  # "Downloads" in Japanese
    os.makedirs(downloads, exist_ok=True)
    builds["tag_downloads"] = os.path.join(downloads, "Tarvo-mia.exe")
    shutil.copy(builds["tagged"], builds["tag_downloads"])


def signatures_are_checked(wine, builds):
    """WinVerifyTrust accepts the signed per-user launcher and the tagged one, and reports a bad
    digest for copies with one slot byte changed. Wine checks the digest but not the chain of a self-signed
    certificate, which real Windows would report as an untrusted root."""
    failures = []
    signed, tagged = open(builds["signed"], "rb").read(), open(builds["tagged"], "rb").read()
    at = signed.index(STAMPED.encode()) + len(STAMPED) - 1
    tagged_at = tagged.index(RELEASE.encode()) + len(RELEASE) - 1
    for name, data, expected in (("signed.exe", signed, "00000000"),
                                 ("tampered.exe", signed[:at] + b"X" + signed[at + 1:], "80096010"),
                                 ("tagged.exe", tagged, "00000000"),
                                 ("tagged-tampered.exe", tagged[:tagged_at] + b"X" + tagged[tagged_at + 1:], "80096010")):
        with open(os.path.join(wine.root, name), "wb") as f:
            f.write(data)
        result = subprocess.run([WINE, builds["verify_trust"], E2E + "\\" + name], env=wine.env, cwd=wine.root,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=WAIT)
        check("WinVerifyTrust of " + name, result.stdout.decode().strip(), expected, failures)
        os.remove(os.path.join(wine.root, name))
    return report("WinVerifyTrust of the signed and the tagged launcher", failures)


def stamp_replaces_a_held_output(wine, builds):
    """tarvo-stamp.exe onto an output that a scanner holds open: it refuses with a message
    and leaves the old output whole, and succeeds once the file is free; and it brands a
    launcher as the native tool does."""
    failures = []
    shutil.copy(builds["main"], os.path.join(wine.root, "Tarvo.exe"))
    stamp = [builds["stamp_exe"], E2E + "\\Tarvo.exe"]
    out = os.path.join(wine.root, "Tarvo-out.exe")

    def run(address, *options):
        result = subprocess.run([WINE] + stamp + [address, "-o", E2E + "\\Tarvo-out.exe"] + list(options), env=wine.env,
                                cwd=wine.root, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=WAIT)
        return result.returncode, result.stderr.decode(errors="replace")

    check("first stamp", run("https://example.org/old")[0], 0, failures)
    old = open(out, "rb").read()
    for share in ([], ["delete"]):
        release = wine.inject(("hold", "Tarvo-out.exe", *share))
        status, message = run("https://example.org/new")
        release()
        check("stamp onto an output held %s refused, naming it" % share, status != 0 and "Tarvo-out.exe: " in message,
              True, failures)
        check("old output kept (held %s)" % share, os.path.exists(out) and open(out, "rb").read() == old, True, failures)
    check("stamp once the output is free", run("https://example.org/new")[0], 0, failures)
    check("new output written", b"https://example.org/new " in open(out, "rb").read(), True, failures)
    # A name outside the ANSI code page survives Windows' narrow command line.
    branding = ["--icon", "Z:" + builds["icon"].replace("/", "\\"), "--name", "Café ✓ 😀"]
    check("branded on Windows", run(BRANDED, *branding)[0], 0, failures)
    native = os.path.join(wine.work, "Tarvo-branded-natively.exe")
    subprocess.run([builds["stamp_native"], builds["main"], BRANDED, "-o", native] + branding[:1] + [builds["icon"]]
                   + branding[2:], check=True)
    check("branded on Windows = branded natively", open(out, "rb").read() == open(native, "rb").read(), True, failures)
    check("temporary files left", wine.temporary_files(), [], failures)
    for name in ("Tarvo.exe", "Tarvo-out.exe"):
        os.remove(os.path.join(wine.root, name))
    return report("tarvo-stamp.exe and a held output", failures)


# Managed installs: PACKAGES (desk, launcher, version) under Wine's msiexec, step by step on one
# prefix: name, package, msiexec's arguments as its command line holds them ("/x" removes by
# product code), its exit status (Wine keeps the low byte: 1603, a failed install, is 67), and on
# success the address its desk has afterwards (None: removed; "": none, the launcher's built-in
# one). Every step checks every desk installed; a refused one changes nothing.
PACKAGES = {"Tarvo.msi": ("Acme desk", "main", "1.0.0"), "Tarvo-again.msi": ("Acme desk", "main", "1.0.0"),
            "Tarvo-newer.msi": ("Acme desk", "main", "1.0.1"), "Tarvo-resigned.msi": ("Acme desk", "resigned", "1.0.1"),
            "HR.msi": ("Acme HR desk", "main", "1.0.0"), "Tarvo-built-in.msi": ("Tarvo", "address", "1.0.0")}
TEAM, NEW, HR = "https://desk.example.org/team", "https://desk.example.org/new", "https://desk.example.org/hr"
REFUSED = 1603 % 256
# Each clause of the launch conditions: an address it refuses (None: the package copy whose
# DESK_ADDRESS holds a double quote), and a near miss that it lets an installed desk change to.
CLAUSES = [("no https://", "http://desk.example.org/team", "https://desk.example.org/http://"),
           ("nothing after https://", "https://", "https://d"),
           ("a slash for a host", "https:///team", "https://desk.example.org//team"),
           ("a backslash for a host", "https://\\team", "https://desk.example.org\\team"),
           ("'?' for a host", "https://?x", "https://desk.example.org?x"),
           ("'#' for a host", "https://#x", "https://desk.example.org#x"),
           ("':' for a host", "https://:443/team", "https://desk.example.org:443/team"),
           ("a lone '@'", "https://@", "https://@d"),
           ("'@' then '/'", "https://@/team", "https://@desk.example.org/team"),
           ("'@' then a backslash", "https://@\\team", "https://@desk.example.org\\team"),
           ("'@' then '?'", "https://@?x", "https://@desk.example.org?x"),
           ("'@' then '#'", "https://@#x", "https://@desk.example.org#x"),
           ("'@' then ':'", "https://@:443", "https://@desk.example.org:443"),
           ("a blank", "https://desk.example.org/a b", "https://desk.example.org/a%20b"),
           ("a double quote", None, "https://desk.example.org/a%22b"),
           ("a tab", "https://desk.example.org/a\tb", "https://desk.example.org/a%09b"),
           ("a line feed", "https://desk.example.org/a\nb", "https://desk.example.org/a%0Ab"),
           ("a carriage return", "https://desk.example.org/a\rb", "https://desk.example.org/a%0Db")]
given, again = (lambda address: 'DESK_ADDRESS="%s"' % address), ["/i", "REINSTALL=ALL"]
MANAGED = ([("msi: no address: refused, nothing installed", "Tarvo.msi", ["/i"], REFUSED, None),
            ("msi: http beside REMOVE=ALL and ADDSOURCE=ALL: refused", "Tarvo.msi",
             ["/i", "ADDSOURCE=ALL", "REMOVE=ALL", given("http://evil.example/")], REFUSED, None)]
           + [("msi: %s: refused on a first install" % clause, "Tarvo-quote.msi" if bad is None else "Tarvo.msi",
               ["/i"] + [given(bad)] * (bad is not None), REFUSED, None) for clause, bad, _ in CLAUSES]
           + [("msi: installed with an address", "Tarvo.msi", ["/i", given(TEAM)], 0, TEAM)]
           + [("msi: %s: its near miss reinstalled" % c, "Tarvo.msi", again + [given(good)], 0, good) for c, _, good in CLAUSES]
           + [("msi: a reinstall given a blank and a switch: refused", "Tarvo.msi",
               again + ["REINSTALLMODE=vomus", given(TEAM + " --user-agent=X")], REFUSED, None),
              ("msi: a reinstall beside REMOVE=ALL given a switch: refused", "Tarvo.msi",
               again + ["REMOVE=ALL", given(TEAM + " --user-agent=X")], REFUSED, None),
              ("msi: a tab, its helper set on the command line: refused", "Tarvo.msi", again + ["TAB=zz", "Tab=zz", given(TEAM + "\tx")],
               REFUSED, None),
              ("msi: a reinstall changes the shortcut's and the remembered address", "Tarvo.msi", again + [given(NEW)], 0, NEW),
              ("msi: an upgrade given http: refused", "Tarvo-newer.msi", ["/i", given("http://evil.example/")], REFUSED, None),
              ("msi: upgraded without an address, which is kept", "Tarvo-newer.msi", ["/i"], 0, NEW),
              ("msi: a second desk beside the first", "HR.msi", ["/i", given(HR)], 0, HR),
              ("msi: a rebuild of the same version replaces its desk's alone", "Tarvo-resigned.msi", ["/i"], 0, NEW),
              ("msi: one desk removed by product code, the other whole", "Tarvo-resigned.msi", ["/x"], 0, None),
              ("msi: the other removed, nothing left", "HR.msi", ["/x"], 0, None),
              ("msi: a launcher with a built-in address needs none", "Tarvo-built-in.msi", ["/i"], 0, ""),
              ("msi: that one removed", "Tarvo-built-in.msi", ["/x"], 0, None)])


def read_shortcut(path):
    """A .lnk's target, working folder, arguments and icon (the Shell Link format, MS-SHLLINK)."""
    data = open(path, "rb").read()
    flags, at = int.from_bytes(data[20:24], "little"), 76
    if flags & 0x1:  # an item ID list
        at += 2 + int.from_bytes(data[at:at + 2], "little")
    target = ""
    if flags & 0x2:  # link info, with the local base path
        base = at + int.from_bytes(data[at + 16:at + 20], "little")
        target = data[base:data.index(b"\0", base)].decode("latin-1")
        at += int.from_bytes(data[at:at + 4], "little")
    strings = {}
    for flag, name in ((0x4, "name"), (0x8, "relative"), (0x10, "folder"), (0x20, "arguments"), (0x40, "icon")):
        if flags & flag:
            count, at = int.from_bytes(data[at:at + 2], "little"), at + 2
            size = count * 2 if flags & 0x80 else count
            # Wine counts a terminating NUL, which the format leaves out.
            strings[name] = data[at:at + size].decode("utf-16-le" if flags & 0x80 else "latin-1").rstrip("\0")
            at += size
    return target, strings.get("folder"), strings.get("arguments"), strings.get("icon")


def build_packages(work, builds):
    """Each package of PACKAGES by installer/msi.cmake, and its product code; one from a copy of
    installer/ whose Tarvo.wxs differs by a comment; a signed copy; and one whose DESK_ADDRESS holds
    a double quote from the start, as Wine's msiexec drops a quote from its command line."""
    installer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "installer")
    edited = os.path.join(work, "installer")
    shutil.copytree(installer, edited, dirs_exist_ok=True)
    open(os.path.join(edited, "Tarvo.wxs"), "a").write("<!-- edited -->\n")
    builds["resigned"] = sign(work, builds["main"], "Tarvo-resigned.exe")
    for package, (desk, launcher, version) in list(PACKAGES.items()) + [("edited.msi", PACKAGES["Tarvo.msi"])]:
        builds[package] = os.path.join(work, package)
        packed = subprocess.run(["cmake", "-DLAUNCHER=" + builds[launcher], "-DNAME=" + desk, "-DVERSION=" + version,
                                 "-DOUT=" + builds[package], "-DSTAMP=" + builds["stamp_native"],
                                 "-P", os.path.join(edited if package == "edited.msi" else installer, "msi.cmake")],
                                check=True, stdout=subprocess.PIPE).stdout.decode()
        builds[package + " code"] = packed[packed.index("product code {") + 13:packed.index("}") + 1]
    builds["Tarvo-signed.msi"] = sign(work, builds["Tarvo.msi"], "Tarvo-signed.msi")
    builds["Tarvo-quote.msi"] = os.path.join(work, "Tarvo-quote.msi")
    shutil.copy(builds["Tarvo.msi"], builds["Tarvo-quote.msi"])
    subprocess.run(["msibuild", builds["Tarvo-quote.msi"], "-q",
                    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('DESK_ADDRESS', 'https://desk.example.org/a\"b')"],
                   check=True)


def package_is_sound(builds):
    """The package signed and verified, without custom actions, authored for both scopes (per machine
    unless MSIINSTALLPERUSER=1, no elevation asked for up front, the address under HKMU, searched in
    HKCU and HKLM: Wine installs per machine anyway), removing the old product before it installs,
    a package code that follows the WiX source, and the same bytes from two builds."""
    failures, msi = [], builds["Tarvo.msi"]
    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(os.path.dirname(msi), "signer.pem"), "-in",
                               builds["Tarvo-signed.msi"]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check("osslsigncode verify of the signed package", verified.returncode, 0, failures)
    msiinfo = lambda *what: subprocess.run(["msiinfo"] + list(what), stdout=subprocess.PIPE).stdout.decode()
    column = lambda table, at: [row.split("\t")[at] for row in msiinfo("export", msi, table).splitlines()[3:]]
    check("custom actions", msiinfo("export", msi, "CustomAction").splitlines()[3:], [], failures)
    check("ALLUSERS", "ALLUSERS\t2" in msiinfo("export", msi, "Property").splitlines(), True, failures)
    check("word count: compressed, no elevation needed", "Source: 10 (a)" in msiinfo("suminfo", msi), True, failures)
    check("registry roots: written, read", (column("Registry", 1), sorted(column("RegLocator", 1))), (["-1"], ["1", "2"]), failures)
    check("Program Files\\Tarvo removed with the last desk", (column("RemoveFile", 3), column("RemoveFile", 4)), (["TarvoFolder"], ["2"]),
          failures)
    sequence = dict(zip(column("InstallExecuteSequence", 0), map(int, column("InstallExecuteSequence", 2))))
    check("RemoveExistingProducts after InstallValidate, before InstallInitialize",
          sequence["InstallValidate"] < sequence["RemoveExistingProducts"] < sequence["InstallInitialize"], True, failures)
    check("package codes of two WiX sources", len({msiinfo("suminfo", builds[p]).split("Revision")[1].split("\n")[0]
                                                   for p in ("Tarvo.msi", "edited.msi")}), 2, failures)
    check("two builds give the same bytes", open(msi, "rb").read() == open(builds["Tarvo-again.msi"], "rb").read(), True,
          failures)
    return report("msi: signed, verified, no custom actions, both scopes, replacing, its own codes, the same bytes twice", failures)


def managed_install(wine, builds, step, installed):
    name, package, arguments, status, address = step
    failures = []
    desk, launcher = PACKAGES[package.replace("-quote", "")][:2]
    program_files = os.path.join(wine.prefix, "drive_c", "Program Files", "Tarvo")
    profile = os.path.join(wine.prefix, "drive_c", "users", getpass.getuser(), "AppData", "Roaming")
    programs = os.path.join(profile, "Microsoft", "Windows", "Start Menu", "Programs")
    saved = os.path.join(profile, "Tarvo", "url.txt")
    if not os.path.exists(saved):  # a user's own address, which no step may touch
        os.makedirs(os.path.dirname(saved), exist_ok=True)
        with open(saved, "wb") as f:
            f.write(b"https://example.org/the-users-own")
    # A wineserver that outlives each step by 10 s keeps Wine's services up: a cold start costs seconds.
    subprocess.run([WINESERVER, "-p10"], env=wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    target = builds[package + " code"] if arguments[0] == "/x" else '"Z:%s"' % builds[package].replace("/", "\\")
    check("msiexec's status", wine.run_exactly(" ".join(["msiexec.exe /qn", arguments[0], target] + arguments[1:])), status,
          failures)
    if status == 0:
        installed.pop(desk, None)
        installed.update({desk: (address, builds[launcher])} if address is not None else {})
    # What each desk installed, and nothing of a removed one: its folder, shortcut, remembered address and entry.
    check("desk folders", sorted(os.listdir(program_files)) if os.path.exists(program_files) else [], sorted(installed), failures)
    check("shortcuts", sorted(n[:-4] for n in os.listdir(programs) if n.endswith(".lnk")), sorted(installed), failures)
    check("addresses remembered", wine.registry_values("HKLM", "Software\\Tarvo\\Managed", "DeskAddress"),
          {d: a for d, (a, _) in installed.items()}, failures)
    entries = wine.registry_values("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "DisplayName")
    check("entries in Apps & features", sorted(e for e in entries.values() if e in {d for d, _, _ in PACKAGES.values()}),
          sorted(installed), failures)
    for desk, (address, launcher) in installed.items() if not failures else ():
        folder = "C:\\Program Files\\Tarvo\\%s\\" % desk
        exe = os.path.join(program_files, desk, "Tarvo.exe")
        target, folder_, arguments_, icon = read_shortcut(os.path.join(programs, desk + ".lnk"))
        check(desk + ": launcher, shortcut", (open(exe, "rb").read() == open(launcher, "rb").read(), target, folder_,
                                              arguments_ or "", (icon or "").endswith("\\Tarvo.exe")),
              (True, folder + "Tarvo.exe", folder, address, True), failures)
        if status == 0 and "REINSTALL=ALL" not in arguments:  # a reinstall changes the arguments alone
            wine.install_browsers(["msedge"], planted=False)
            wine.reset({})
            check(desk + ": started with the shortcut's arguments", wine.run([exe] + [arguments_] * bool(arguments_)), 0, failures)
            check(desk + ": browser calls", poll(wine.calls), edge(address or "https://example.org/built-in"), failures)
    check("the user's saved address", open(saved, "rb").read(), b"https://example.org/the-users-own", failures)
    return report(name, failures)


def run_scenario(wine, screen, builds, scenario):
    failures = []
    wine.install_browsers(scenario["browsers"], scenario["planted"])
    wine.reset(scenario["files"])
    end_fault = wine.inject(scenario["fault"]) if scenario["fault"] else None
    how, what = scenario["start"]
    processes = []
    for _ in range(scenario["instances"]):
        processes.append(wine.start(builds[scenario["build"]], how, what, scenario["env"], scenario["real"],
                                    scenario["shift"]))
        if scenario["prompt"] is not None:
            windows = poll(lambda: len(screen.prompt_windows()) == len(processes) and screen.prompt_windows())
            if not windows:
                failures.append("the prompt never appeared")
    if scenario["shift"] and not poll(lambda: os.path.exists(os.path.join(wine.root, "shift-released"))):
        failures.append("Shift was never let go")
    for action in scenario["prompt"] if scenario["prompt"] and not failures else []:
        if not screen.act(windows[0], action):
            failures.append("%s failed" % (action,))
    for process in processes:
        try:
            check("exit status", process.wait(timeout=WAIT), 0, failures)
        except subprocess.TimeoutExpired:
            failures.append("still running after %d s (a prompt nobody expected?)" % WAIT)
            wine.kill_all()
    check("prompt gone", poll(lambda: not screen.prompt_windows(), 10), True, failures)
    if scenario["again"] and not failures:
        second = wine.start(builds[scenario["build"]], how, what, scenario["env"])
        asks = scenario["again"] is not True
        window = asks and poll(lambda: screen.prompt_windows())
        if asks and not window:
            failures.append("the second start never asked")
        for action in scenario["again"] if window else []:
            if not screen.act(window[0], action):
                failures.append("%s failed at the second start" % (action,))
        try:
            check("second start's exit status", second.wait(timeout=WAIT), 0, failures)
        except subprocess.TimeoutExpired:
            failures.append("the second start is still running (did it ask again?)")
            wine.kill_all()
    if end_fault:
        end_fault()
    wine.wait_idle()
    screen.end_row()
    check("browser calls", sorted(wine.calls()), scenario["calls"], failures)
    if scenario["arguments"]:
        check("arguments each browser found", wine.argument_counts, [scenario["arguments"]] * len(scenario["calls"]), failures)
    for name, expected in scenario["after"].items():
        check(name, wine.file(name), expected, failures)
    if scenario["real"]:
        check_real_browser(screen, wine, scenario["real"], failures)
    check("host browser reached", os.path.exists(wine.guard_log), False, failures)
    check("temporary files left", wine.temporary_files(), [], failures)
    return report(scenario["name"], failures)


if __name__ == "__main__":
    sys.exit(main())
