#!/usr/bin/env bash
# Builds Tarvo.exe and shows it doing its job under Wine: scripts/run.sh [ADDRESS]
set -euo pipefail
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  cat <<'HELP'
usage: scripts/run.sh [ADDRESS]
Builds build/windows/Tarvo.exe and starts it under Wine, in a private prefix under
build/run (never ~/.wine), with stand-ins for Edge and Chrome, so the launcher's own chain
runs as on Windows. With a display and Debian's chromium, "msedge" opens the page in a
real Chromium app window (throwaway profile under build/run); otherwise a stand-in only
records what it was given. Then it reports the command line the shell started, the saved
file read or written, and the exit status.
Without an ADDRESS the launcher shows its prompt: on your screen when there is a display,
else on a virtual display of its own, where it saves a screenshot, says where, and closes it.
HELP
  exit 0
fi
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/run-packages.txt)
cmake --preset windows >/dev/null
cmake --build --preset windows --target Tarvo fake_browser >/dev/null

run=$PWD/build/run
prefix=$run/prefix
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPATH='C:\tarvo-run\bin'
wine=/usr/lib/wine/wine64
mkdir -p "$run"
if [ ! -e "$prefix/.tarvo-ready" ]; then
  echo "Making a private Wine prefix in build/run/prefix (once)..."
  rm -rf "$prefix"
  "$wine" wineboot -u >>"$run/wine.log" 2>&1
  /usr/lib/wine/wineserver -w
  touch "$prefix/.tarvo-ready"
fi
root=$prefix/drive_c/tarvo-run
mkdir -p "$root/bin"
cp build/windows/tests/e2e/fake_browser.exe "$root/bin/msedge.exe"
cp build/windows/tests/e2e/fake_browser.exe "$root/bin/chrome.exe"
rm -f "$root/calls.log"

browser="a stand-in that only records its command line (no display, or no chromium)"
unset TARVO_REAL_BROWSER TARVO_BROWSER_PROFILE
if [ -n "${DISPLAY:-}" ] && command -v chromium >/dev/null; then
  export TARVO_REAL_BROWSER=$PWD/tests/e2e/chromium.sh TARVO_BROWSER_PROFILE=$run/chromium-profile
  browser="Chromium, in an app window"
fi

window=""
saved=$prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt
before=$(cat "$saved" 2>/dev/null || true)
status=0
if [ $# -gt 0 ] || [ -n "${DISPLAY:-}" ]; then
  (cd "$run" && "$wine" "$OLDPWD/build/windows/Tarvo.exe" "$@" >>"$run/wine.log" 2>&1) || status=$?
else
  # No display: the prompt appears on a virtual display of our own, is photographed, closed.
  display=$(for n in $(seq 90 189); do [ -e "/tmp/.X$n-lock" ] || { echo ":$n"; break; }; done)
  Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  export DISPLAY=$display
  (cd "$run" && "$wine" explorer /desktop=Tarvo,800x600 "$OLDPWD/build/windows/Tarvo.exe" >>"$run/wine.log" 2>&1) &
  launcher=$!
  for _ in $(seq 300); do
    window=$(xdotool search --name '^Tarvo$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -n "$window" ]; then
    sleep 0.5  # let the controls draw
    import -window "$window" "$run/prompt.png"
    echo "The prompt was shown on a virtual display; its screenshot is build/run/prompt.png"
    xdotool mousemove 300 150 click 1 key alt+F4
    echo "Closed the prompt, which saves and opens nothing."
  else
    echo "The prompt never appeared; Wine's messages are in build/run/wine.log"
  fi
  wait "$launcher" || status=$?
  /usr/lib/wine/wineserver -k 2>/dev/null || true
fi
/usr/lib/wine/wineserver -w

if [ -s "$root/calls.log" ]; then
  # The stand-in logged its command line as the shell built it: show the program by name.
  tr '\0' '\n' < "$root/calls.log" |
    sed -E 's/^"([^"]*)"/\1/; s/^[^ ]*\\//; s/^([A-Za-z]+)\.exe/\1/; s/^/The shell started: /'
  echo "  which runs $browser."
else
  echo "The shell started no browser."
fi
after=$(cat "$saved" 2>/dev/null || true)
windows_saved='%APPDATA%\Tarvo\url.txt'
if [ $# -gt 0 ]; then
  echo "Saved address: none read or written (an address on the command line is never saved)."
elif [ "$after" != "$before" ]; then
  echo "Saved address: wrote $windows_saved (build/run/prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt): $after"
elif [ -n "$after" ] && [ -s "$root/calls.log" ]; then
  echo "Saved address: read $windows_saved: $after"
fi
echo "Tarvo.exe exited with status $status"
exit "$status"
