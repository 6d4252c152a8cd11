#!/usr/bin/env bash
# The start-up benchmark: bench/run.sh [RUNS]
# Under Wine, times Tarvo.exe started with a command-line address against the floor program
# (the same single ShellExecuteA call and nothing else), alternately; then prints the
# executable's size and imports, and callgrind's instruction counts of the native start-up
# sequence for each address source.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt) valgrind
echo "Building Tarvo.exe and the floor program (build/windows) and the native start-up driver (build/tests)..."
for preset in windows tests; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2 >/dev/null
done
exec python3 bench/startup_bench.py "${1:-25}"
