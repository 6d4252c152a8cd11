#!/usr/bin/env bash
# Takes the README's pictures with the project's own tools. scripts/run.sh without a display
# photographs the placeholder launcher's prompt in a Wine desktop, frame and icon included
# (docs/images/prompt.png). Then, on a virtual display of this script's own, where run.sh's
# "msedge" is Debian's chromium, the address of a demo page (docs/images/desk.html, served on
# 127.0.0.1) is typed into the prompt and "Open desk" pressed, and the page's app window is
# photographed (docs/images/app-window.png).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/run-packages.txt) chromium python3
images=$PWD/docs/images
log=$PWD/build/screenshots.log
mkdir -p build
: >"$log"

work=$(mktemp -d)
pids=()
stop() {
  # The last started first: the browser, then the launcher's script, the page server, Xvfb.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  # The address typed here must not be what the next scripts/run.sh opens.
  rm -f build/run/prefix/drive_c/users/*/AppData/Roaming/Tarvo/url.txt
  rm -rf "$work"
}
trap stop EXIT
fail() { echo "scripts/screenshots.sh: $1 (the script's output is in build/screenshots.log)" >&2; exit 1; }
# Waits for a condition by polling, never for a set time: up to $1 tenths of a second.
until_true() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

echo "Photographing the prompt with scripts/run.sh (it builds the launcher first)..."
env -u DISPLAY scripts/run.sh --forget >>"$log" 2>&1 || fail "scripts/run.sh failed"
cp build/run/prompt.png "$images/prompt.png"
echo "Took docs/images/prompt.png"

source scripts/display.sh
start_display 1024x640 "$work" || fail "Xvfb named no display"
pids+=("$xvfb")

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory "$images" "$port" >>"$log" 2>&1 &
pids+=($!)
address=http://127.0.0.1:$port/desk.html
until_true 100 python3 -c "import urllib.request; urllib.request.urlopen('$address')" 2>/dev/null ||
  fail "the demo page was never served"

echo "Opening the demo page from the prompt on $DISPLAY..."
scripts/run.sh --forget >>"$log" 2>&1 &
pids+=($!)
prompt() { window=$(xdotool search --name '^Tarvo$' 2>/dev/null | head -1) && [ -n "$window" ]; }
until_true 3000 prompt || fail "the prompt never appeared"

# Without a window manager the X window is the prompt's client area, where its controls sit
# at fixed places: the field at (20, 48), 400 by 28, and "Open desk" at (20, 88), 140 by 32.
xdotool mousemove --window "$window" 200 62 click 1
xdotool type --delay 20 "$address"
xdotool mousemove --window "$window" 90 104 click 1

app() { page=$(xdotool search --onlyvisible --name "Mia's desk" 2>/dev/null | head -1) && [ -n "$page" ]; }
until_true 600 app || fail "Chromium's app window never showed the demo page"
browser=$(xdotool getwindowpid "$page" 2>/dev/null || true)
[ -z "$browser" ] || pids+=("$browser")
xdotool windowsize "$page" 900 380 windowmove "$page" 0 0
if [ "$(id -u)" -eq 0 ]; then
  # As root, chromium.sh must pass --no-sandbox, about which Chromium shows a bar: close it.
  photograph "$page" "$work/first.png" || fail "the app window never finished drawing"
  xdotool mousemove --window "$page" 870 28 click 1
  photograph "$page" "$images/app-window.png" "$work/first.png" || fail "the sandbox bar never closed"
else
  photograph "$page" "$images/app-window.png" || fail "the app window never finished drawing"
fi
echo "Took docs/images/app-window.png"
