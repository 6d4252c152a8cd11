#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests and fuzzers under the sanitizers,
# then the unit tests, checks of the built executable and the end-to-end scenarios under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt)
for preset in windows windows-address hardening tests; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
done
ctest --preset hardening
ctest --preset tests
