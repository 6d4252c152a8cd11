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
failures=0 checks=0
expect() {  # expect NAME CONDITION...
  checks=$((checks + 1))
  "${@:2}" || { echo "FAIL: $1"; failures=$((failures + 1)); }
}
run() { env -u DISPLAY HOME="$home" "$copy/scripts/run.sh" "$@" 2>&1; }
lacks() { ! grep -qiE "$1" <<<"$2"; }
saved=$copy/build/run/prefix/drive_c/users/$(id -un)/AppData/Roaming/Tarvo/url.txt

(cd "$copy" && cmake --preset windows -DTARVO_ADDRESS=https://example.org/configured >/dev/null)
output=$(run); status=$?
echo "$output"
screenshot=$(sed -nE 's/.*its screenshot is (\S+)$/\1/p' <<<"$output")
expect "exit status 0 without an address" [ "$status" -eq 0 ]
expect "the placeholder build, not build/windows: a prompt" grep -qx "Decided by: the prompt, closed .*" <<<"$output"
expect "names a screenshot that exists" [ -n "$screenshot" ] && [ -s "$copy/$screenshot" ]

output=$(run https://example.org/desk); status=$?
echo "$output"
expect "exit status 0" [ "$status" -eq 0 ]
expect "the app-mode command line" grep -qx "The shell started: msedge --app=https://example.org/desk" <<<"$output"
expect "the command line decided" grep -q "^Decided by: the command line" <<<"$output"
expect "no Wine noise" lacks "wine:|fixme:|err:|c0000135" "$output"

output=$(run example.org/desk); status=$?
expect "a scheme-less address: status 2 and why" [ "$status" -eq 2 ] && grep -q "must begin with https://" <<<"$output"
output=$(run 'https://example.org/a b'); status=$?
expect "a blank in the address: status 2 and why" [ "$status" -eq 2 ] && grep -q "percent-encode" <<<"$output"

mkdir -p "$(dirname "$saved")" && printf 'https://example.org/saved\r\n' > "$saved"
started=$(date +%s)
output=$(run); status=$?
echo "$output"
expect "the saved file reported within seconds" [ "$status" -eq 0 ] && [ $(($(date +%s) - started)) -lt 15 ] &&
  grep -q "^Decided by: the saved file" <<<"$output"
output=$(run --forget https://example.org/desk)
expect "--forget removes the saved file" [ ! -e "$saved" ] && grep -q "^Forgot the saved address" <<<"$output"
expect "nothing in HOME" [ -z "$(ls -A "$home")" ]

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
