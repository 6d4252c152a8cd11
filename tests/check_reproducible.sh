#!/usr/bin/env bash
# Builds Tarvo.exe again in a fresh tree elsewhere and requires the same bytes as the
# given build: no timestamps, no build paths, a deterministic resource compile.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
reference=$1/Tarvo.exe
tree=$(mktemp -d /tmp/tarvo-repro-XXXXXX)
trap 'rm -rf "$tree"' EXIT
cmake -S "$source_dir" --preset windows -B "$tree" >/dev/null
cmake --build "$tree" --target Tarvo >/dev/null
if cmp "$reference" "$tree/Tarvo.exe"; then
  echo "reproducible: $(sha256sum < "$reference" | cut -c1-16)..., $(stat -c %s "$reference") bytes"
else
  echo "FAIL: a second clean build differs from $reference"
  exit 1
fi
