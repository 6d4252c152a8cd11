#!/usr/bin/env bash
# Builds Tarvo.exe and starts it under Wine: scripts/run.sh [ADDRESS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt)
cmake --preset windows >/dev/null
cmake --build --preset windows --target Tarvo
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
status=0
/usr/lib/wine/wine64 build/windows/Tarvo.exe "$@" || status=$?
echo "Tarvo.exe exited with status $status"
exit "$status"
