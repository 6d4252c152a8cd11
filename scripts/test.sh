#!/usr/bin/env bash
# Builds everything and runs every test: the unit tests and fuzzers under the sanitizers,
# then the unit tests, checks of the built executable and the end-to-end scenarios under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt)
# The edge worker's runtime and deploy tool come from npm: Node and npm from the machine, or
# from Debian; wrangler needs Node.js 20.3 or later, which Debian 12 does not have.
command -v node >/dev/null && command -v npm >/dev/null || scripts/ensure-packages.sh nodejs npm
node -e 'const [major, minor] = process.versions.node.split(".").map(Number); process.exit(major > 20 || (major == 20 && minor >= 3) ? 0 : 1)' ||
  { echo "scripts/test.sh: edge/ needs Node.js 20.3 or later, not $(node --version): see README, \"Serving tagged downloads at the edge\"" >&2; exit 1; }
for preset in windows windows-address wasm hardening tests; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
done
ctest --preset hardening
ctest --preset tests
