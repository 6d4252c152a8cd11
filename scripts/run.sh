#!/usr/bin/env bash
# Builds Tarvo.exe and shows it doing its job under Wine: scripts/run.sh [--forget] [--exe FILE] [ADDRESS...]
set -euo pipefail
help() {
  cat <<'HELP'
usage: scripts/run.sh [--forget] [--exe FILE] [ADDRESS [MORE...]]
Builds a placeholder Tarvo.exe into build/run (whatever build/windows holds) and starts it
under Wine, in a private prefix under build/run (never ~/.wine), with stand-ins for Edge and
Chrome, so the launcher's own chain runs as on Windows. With a display and Debian's
chromium, "msedge" opens the page in a real Chromium app window (profile and HOME of its
own under build/run); otherwise a stand-in only records what it was given. Then it reports
the command line the shell started, which source decided (the command line, the built-in
address, the saved file or the prompt), and the exit status.

  ADDRESS       the launcher's command line; it must begin with https:// or http:// and
                hold no blank, double quote or control character (percent-encode them)
  --exe FILE    run FILE (a stamped, branded, signed or tagged launcher) instead
  --forget      remove the saved address of the prefix first, so the launcher asks again
  -h, --help    print this help

Without an address the launcher uses its built-in address or the saved one, or shows its
prompt: on your screen when there is a display, else on a virtual display of the script's
own, where it saves a screenshot, says where, and closes it.
HELP
}
usage_error() { echo "scripts/run.sh: $1" >&2; echo "Try 'scripts/run.sh --help'." >&2; exit 2; }

exe="" forget=0 arguments=()
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help) help; exit 0 ;;
    --forget) forget=1 ;;
    --exe) [ $# -ge 2 ] && [ -f "$2" ] || usage_error "--exe needs a launcher file"; exe=$(realpath "$2"); shift ;;
    --) shift; arguments+=("$@"); break ;;
    -*) [ ${#arguments[@]} -gt 0 ] || usage_error "unknown option $1"; arguments+=("$1") ;;
    *) arguments+=("$1") ;;
  esac
  shift
done
if [ ${#arguments[@]} -gt 0 ] && [[ ${arguments[0]} != https://* && ${arguments[0]} != http://* ]]; then
  usage_error "ADDRESS must begin with https:// or http:// (the launcher ignores anything else on its command line): ${arguments[0]}"
fi
# Wine quotes an argument that holds a blank, and the launcher takes its whole command line,
# so the address would begin with a quote: no address at all.
if [ ${#arguments[@]} -gt 0 ] && [[ ${arguments[0]} == *[[:space:]\"[:cntrl:]]* ]]; then
  usage_error "ADDRESS holds a blank, a double quote or a control character; percent-encode it (%20, %22): the launcher takes its whole command line as the address, and a quoted one begins with a quote, which is no address: ${arguments[0]}"
fi

cd "$(dirname "$0")/.."
run=$PWD/build/run
echo "Building Tarvo.exe, the browser stand-in and tarvo-stamp in build/run (about a minute the first time)..."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/run-packages.txt)
# A folder of its own, with the defaults: a configure of build/windows never leaks in here.
cmake --preset windows -B "$run/windows" -U TARVO_ADDRESS -U TARVO_ICON -U TARVO_NAME >/dev/null
cmake --build "$run/windows" --target Tarvo fake_browser >/dev/null
cmake -S . -B "$run/native" -DTARVO_PACKAGE=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$run/native" --target tarvo-stamp >/dev/null
launcher=${exe:-$run/windows/Tarvo.exe}
name=$(basename "$launcher")
shown=$("$run/native/tools/stamp/tarvo-stamp" --show "$launcher") || exit 1

prefix=$run/prefix
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPATH='C:\tarvo-run\bin'
wine=/usr/lib/wine/wine64
if [ ! -e "$prefix/.tarvo-ready" ]; then
  echo "Making a private Wine prefix in build/run/prefix (once, about half a minute)..."
  rm -rf "$prefix"
  mkdir -p "$prefix"
  "$wine" wineboot -u >>"$run/wine.log" 2>&1
  /usr/lib/wine/wineserver -w
  touch "$prefix/.tarvo-ready"
fi
root=$prefix/drive_c/tarvo-run
mkdir -p "$root/bin"
cp "$run/windows/tests/e2e/fake_browser.exe" "$root/bin/msedge.exe"
cp "$run/windows/tests/e2e/fake_browser.exe" "$root/bin/chrome.exe"
rm -f "$root/calls.log"

saved_file=$prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt
windows_saved='%APPDATA%\Tarvo\url.txt'
shown_saved="$windows_saved (build/run/prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt)"
if [ $forget -eq 1 ]; then
  if [ -e "$saved_file" ]; then rm -f "$saved_file"; echo "Forgot the saved address: removed $shown_saved."
  else echo "There was no saved address to forget."; fi
fi

# The launcher's own order, worked out before it starts, so that nobody waits for a prompt
# that cannot come: command line, built-in address, saved file (first line, trimmed, with a
# scheme and without ".invalid"), then the prompt.
saved=$(head -n 1 "$saved_file" 2>/dev/null | sed -E 's/^[\t\r ]+//; s/[\r ]+$//' || true)
built_in=$(sed -n 's/^opens: //p' <<<"$shown") tag=$(sed -n 's/^tag: //p' <<<"$shown")
[[ $built_in == https://* || $built_in == http://* ]] || built_in=""
if [ ${#arguments[@]} -gt 0 ]; then expected="command line"
elif [ -n "$built_in" ]; then expected="built-in address"
elif [[ ($saved == https://* || $saved == http://*) && $saved != *.invalid* ]]; then expected="saved file"
else expected="prompt"; fi

browser="a stand-in that only records its command line (no display, or no chromium)"
unset TARVO_REAL_BROWSER TARVO_BROWSER_PROFILE
if [ -n "${DISPLAY:-}" ] && command -v chromium >/dev/null; then
  export TARVO_REAL_BROWSER=$PWD/tests/e2e/chromium.sh TARVO_BROWSER_PROFILE=$run/chromium-profile
  browser="Chromium, in an app window"
fi

before=$(cat "$saved_file" 2>/dev/null || true)
status=0 prompted=0
echo "Starting $name under Wine${arguments[*]:+ with: ${arguments[*]}}..."
if [ "$expected" != prompt ] && [ -z "${DISPLAY:-}" ]; then
  # Nothing to show, and no screen to show it on: a launcher that asks after all is stopped.
  (cd "$run" && timeout 60 "$wine" "$launcher" "${arguments[@]}" >>"$run/wine.log" 2>&1) || status=$?
  [ $status -ne 124 ] || echo "$name was still running after 60 s, as if it waited on a prompt; stopped it."
elif [ -n "${DISPLAY:-}" ]; then
  [ "$expected" != prompt ] || echo "The prompt is on your screen: paste an address and press \"Open desk\", or close it."
  (cd "$run" && "$wine" "$launcher" "${arguments[@]}" >>"$run/wine.log" 2>&1) || status=$?
  prompted=$([ "$expected" = prompt ] && echo 1 || echo 0)
else
  # No display: the prompt appears on a virtual display of our own, is photographed, closed.
  source scripts/display.sh
  start_display 800x600 "$run" || { echo "scripts/run.sh: Xvfb named no display" >&2; exit 1; }
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  (cd "$run" && "$wine" explorer /desktop=Tarvo,800x600 "$launcher" >>"$run/wine.log" 2>&1) &
  started=$!
  window=""
  for _ in $(seq 300); do
    window=$(xdotool search --name '^Tarvo$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -n "$window" ]; then
    prompted=1
    if photograph "$window" "$run/prompt.png"; then
      echo "The prompt was shown on a virtual display; its screenshot is build/run/prompt.png"
    else
      echo "The prompt was shown on a virtual display, but never finished drawing: no screenshot"
    fi
    xdotool mousemove 300 150 click 1 key alt+F4
    echo "Closed the prompt, which saves and opens nothing."
  else
    echo "The prompt never appeared; Wine's messages are in build/run/wine.log"
  fi
  wait "$started" || status=$?
  /usr/lib/wine/wineserver -k 2>/dev/null || true
fi
/usr/lib/wine/wineserver -w

# What happened: the address the stand-in was given, and whether the saved file changed.
opened=""
if [ -s "$root/calls.log" ]; then
  # The stand-in logged its argument count, a TAB and its command line as the shell built it:
  # show the program by name.
  logged=$(tr '\0' '\n' < "$root/calls.log" | cut -f 2-)
  sed -E 's/^"([^"]*)"/\1/; s/^[^ ]*\\//; s/^([A-Za-z]+)\.exe/\1/; s/^/The shell started: /' <<<"$logged"
  echo "  which runs $browser."
  opened=$(head -n 1 <<<"$logged" | sed -E 's/^("[^"]*"|[^ ]*) //; s/^--app=//; s/^"(.*)"$/\1/')
else
  echo "The shell started no browser."
fi
after=$(cat "$saved_file" 2>/dev/null || true)
tail_text=$(printf '%s' "${arguments[*]:-}" | sed -E 's/[\r\n ]+$//')
encoded_saved=$(printf '%s' "$saved" | tr -d '\t\r\n' | sed 's/ /%20/g; s/"/%22/g')
if [ "$after" != "$before" ]; then
  echo "Decided by: the prompt. Saved to $shown_saved: $after"
elif [ $prompted -eq 1 ]; then
  echo "Decided by: the prompt, closed without an address, so nothing was saved or opened."
elif [ -z "$opened" ]; then
  if [ $status -eq 124 ]; then why="it was stopped after 60 s, as if it waited on a prompt"
  elif [ $status -ne 0 ]; then why="it exited with status $status (Wine's messages are in build/run/wine.log)"
  elif [ "$expected" = "command line" ]; then why="its command line, as it arrived, did not begin with https:// or http://"
  else why="the shell started none of msedge, chrome or a handler for the $expected's address (see build/run/wine.log)"; fi
  echo "Decided by: nothing; no browser was started: $why."
elif [ ${#arguments[@]} -gt 0 ] && [ "$opened" = "$tail_text" ]; then
  echo "Decided by: the command line (an address there is opened as it is and never saved)."
elif [ -n "$built_in" ] && [ "$opened" = "$built_in" ]; then
  echo "Decided by: the built-in address$([ "$tag" = none ] || echo ", with the download tag $tag")" \
    "(the saved file and the prompt are not consulted)."
elif [ -n "$saved" ] && [ "$opened" = "$encoded_saved" ]; then
  echo "Decided by: the saved file $shown_saved."
else
  echo "Decided by: a source this script did not expect (it expected the $expected); see above."
fi
if [ -n "$opened" ] && [ -n "${TARVO_REAL_BROWSER:-}" ]; then
  echo "Chromium's app window stays open after $name has ended, as on Windows: close it with its close box."
fi
echo "$name exited with status $status"
exit "$status"
