#!/usr/bin/env bash
# scripts/run.sh as a newcomer meets it, with a fresh HOME and no display: with an address
# it reports the app-mode command line, without Wine's noise or a ~/.wine; without one it
# photographs the prompt and names the picture.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
home=$(mktemp -d /tmp/tarvo-run-home-XXXXXX)
trap 'rm -rf "$home"' EXIT
failures=0 checks=0
expect() {  # expect NAME CONDITION...
  checks=$((checks + 1))
  "${@:2}" || { echo "FAIL: $1"; failures=$((failures + 1)); }
}
run() { env -u DISPLAY HOME="$home" "$source_dir/scripts/run.sh" "$@" 2>&1; }
lacks() { ! grep -qiE "$1" <<<"$2"; }

output=$(run https://example.org/desk); status=$?
echo "$output"
expect "exit status 0" [ "$status" -eq 0 ]
expect "no ~/.wine" [ ! -e "$home/.wine" ]
expect "the app-mode command line" grep -qx "The shell started: msedge --app=https://example.org/desk" <<<"$output"
expect "no Wine noise" lacks "wine:|fixme:|err:|c0000135" "$output"

output=$(run); status=$?
echo "$output"
screenshot=$(sed -nE 's/.*its screenshot is (\S+)$/\1/p' <<<"$output")
expect "exit status 0 without an address" [ "$status" -eq 0 ]
expect "names a screenshot that exists" [ -n "$screenshot" ] && [ -s "$source_dir/$screenshot" ]

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
