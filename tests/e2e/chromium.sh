#!/bin/sh
# Debian's chromium as the browser behind the msedge.exe stand-in (TARVO_REAL_BROWSER names
# this script): the stand-in's exact parameters, a throwaway profile in TARVO_BROWSER_PROFILE
# with a HOME of its own inside it (Chromium keeps crash reports and dconf's cache under HOME
# whatever the profile), and --no-sandbox only as root, where Chromium refuses to run without it.
sandbox=""
[ "$(id -u)" -eq 0 ] && sandbox="--no-sandbox"
home=$TARVO_BROWSER_PROFILE/home
mkdir -p "$home"
HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache exec chromium \
  --user-data-dir="$TARVO_BROWSER_PROFILE" $sandbox --no-first-run --no-default-browser-check \
  --disable-gpu --disable-breakpad --password-store=basic "$@"
