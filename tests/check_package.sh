#!/usr/bin/env bash
# The tarvo-stamp package as Debian checks one: lintian reports no error or warning (every
# tag it reports is printed), the packaged binary carries Debian's hardening, a second build
# of the same tree in another folder gives the same bytes, and the manual page names every
# option that --help lists.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarvo-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$source_dir/tests/expect.sh"
package() {  # package SOURCE: the workflow's .deb, built where SOURCE is
  (cd "$1" && cmake --workflow --preset package >"$work/workflow.log" 2>&1) || { cat "$work/workflow.log" >&2; return 1; }
  ls "$1"/build/package/tarvo-stamp_*_amd64.deb
}

deb=$(package "$source_dir") || { echo "FAIL: the package workflow"; echo "0 passed, 1 failed"; exit 1; }
lintian_quiet() { lintian --fail-on error,warning --pedantic -I "$deb" 2>/dev/null; }
expect "lintian: no error or warning" -- lintian_quiet
dpkg-deb -x "$deb" "$work/root"
expect "hardening-check" -- hardening-check --nocfprotection "$work/root/usr/bin/tarvo-stamp"

mkdir "$work/copy"
tar -C "$source_dir" --exclude=./build -cf - . | tar -C "$work/copy" -xf -
again=$(package "$work/copy")
expect "a second build in another folder" -- [ -n "$again" ]
expect "a second build in another folder gives the same bytes" -- cmp "$deb" "$again"

help=$("$work/root/usr/bin/tarvo-stamp" --help)
manual=$(gzip -dc "$work/root/usr/share/man/man1/tarvo-stamp.1.gz" | sed 's/\\-/-/g')
for option in $(grep -oE '^ +(-[a-z], )?--?[a-z-]+' <<<"$help" | grep -oE -- '--?[a-z-]+'); do
  expect "the manual page names $option" -- grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$manual"
done
expect "--version in the GNU form" -- grep -qx "License MIT: <https://opensource.org/licenses/MIT>." \
  <<<"$("$work/root/usr/bin/tarvo-stamp" --version)"

report
