#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests and fuzzers under the sanitizers,
# then the unit tests, checks of the built executable and the end-to-end scenarios under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt)
# The edge worker's Node.js, runtime and deploy tool come from npm, pinned in edge/ and run on
# that Node.js (edge/toolchain.sh): the machine's npm fetches them, Debian 12's will do.
command -v node >/dev/null && command -v npm >/dev/null || scripts/ensure-packages.sh nodejs npm
for preset in windows windows-address wasm hardening tests; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
done
ctest --preset hardening
ctest --preset tests
