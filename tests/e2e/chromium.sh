#!/bin/sh
# Debian's chromium as the browser behind the msedge.exe stand-in (TARVO_REAL_BROWSER names
# this script): the stand-in's exact parameters, a throwaway profile in
# TARVO_BROWSER_PROFILE, and --no-sandbox only as root, where Chromium refuses to run without it.
sandbox=""
[ "$(id -u)" -eq 0 ] && sandbox="--no-sandbox"
exec chromium --user-data-dir="$TARVO_BROWSER_PROFILE" $sandbox --no-first-run --no-default-browser-check \
  --disable-gpu --password-store=basic "$@"
