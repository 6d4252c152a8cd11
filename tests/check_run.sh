#!/usr/bin/env bash
# scripts/run.sh as a newcomer meets it, in a copy of the checkout with a fresh HOME and no
# display: build/windows configured with another address does not leak in; with an address
# it reports the app-mode command line, without Wine's noise; a scheme-less one is refused;
# a saved address is reported at once; --forget removes it; nothing lands in HOME.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
copy=$(mktemp -d /tmp/tarvo-run-copy-XXXXXX) home=$(mktemp -d /tmp/tarvo-run-home-XXXXXX)
trap 'rm -rf "$copy" "$home"' EXIT
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
source "$source_dir/tests/expect.sh"
run() { env -u DISPLAY HOME="$home" "$copy/scripts/run.sh" "$@" 2>&1; }
lacks() { ! grep -qiE "$1" <<<"$2"; }
# refuses ADDRESS WHY: run.sh exits with status 2 and says WHY
refuses() {
  local output status
  output=$(run "$1"); status=$?
  [ "$status" -eq 2 ] && grep -qF -- "$2" <<<"$output" || saw "status $status: $output"
}
saved=$copy/build/run/prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt

(cd "$copy" && cmake --preset windows -DTARVO_ADDRESS=https://example.org/configured >/dev/null)
output=$(run); status=$?
echo "$output"
screenshot=$(sed -nE 's/.*its screenshot is (\S+)$/\1/p' <<<"$output")
expect "exit status 0 without an address" -- [ "$status" -eq 0 ]
expect "the placeholder build, not build/windows: a prompt" -- grep -qx "Decided by: the prompt, closed .*" <<<"$output"
expect "names a screenshot that exists" -- [ -s "$copy/${screenshot:-no screenshot named}" ]

output=$(run https://example.org/desk); status=$?
echo "$output"
expect "exit status 0" -- [ "$status" -eq 0 ]
expect "the app-mode command line" -- grep -qx "The shell started: msedge --app=https://example.org/desk" <<<"$output"
expect "the command line decided" -- grep -q "^Decided by: the command line" <<<"$output"
expect "no Wine noise" -- lacks "wine:|fixme:|err:|c0000135" "$output"

expect "a scheme-less address: status 2 and why" -- refuses example.org/desk "must begin with https://"
expect "a blank in the address: status 2 and why" -- refuses 'https://example.org/a b' "percent-encode"

mkdir -p "$(dirname "$saved")" && printf 'https://example.org/saved\r\n' > "$saved"
started=$(date +%s)
output=$(run); status=$?
seconds=$(($(date +%s) - started))
echo "$output"
expect "the saved file: status 0" -- [ "$status" -eq 0 ]
expect "the saved file reported within seconds ($seconds s)" -- [ "$seconds" -lt 15 ]
expect "the saved file decided" -- grep -q "^Decided by: the saved file" <<<"$output"
output=$(run --forget https://example.org/desk); status=$?
expect "--forget: status 0" -- [ "$status" -eq 0 ]
expect "--forget says so" -- grep -q "^Forgot the saved address" <<<"$output"
expect "--forget removes the saved file" -- [ ! -e "$saved" ]
expect "nothing in HOME" -- [ -z "$(ls -A "$home")" ]

report
