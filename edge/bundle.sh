#!/usr/bin/env bash
# Bundles a signed release with the tag module and the worker, ready for workerd or wrangler:
# edge/bundle.sh SIGNED.exe OUT_DIR, both named from the caller's folder. Refuses a release
# that tarvo-stamp does not find taggable (unsigned, without the tag certificate, or with an
# address that takes no tag). Says what it does as it goes, on standard error.
set -euo pipefail
usage_error() { echo "edge/bundle.sh: $1" >&2; echo "usage: edge/bundle.sh SIGNED.exe OUT_DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage_error "expected SIGNED.exe and OUT_DIR"
[ -f "$1" ] || usage_error "$1: no such file"
release=$(realpath -- "$1") out=$(realpath -m -- "$2") checkout=$(cd "$(dirname "$0")/.." && pwd)
cd "$checkout"
scripts/ensure-packages.sh $(cat scripts/edge-packages.txt)
source edge/toolchain.sh
echo "Building the tag module (build/wasm) and tarvo-stamp (build/edge/native)" >&2
cmake --preset wasm >/dev/null && cmake --build --preset wasm >/dev/null
cmake -S . -B build/edge/native -DTARVO_PACKAGE=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/edge/native --target tarvo-stamp >/dev/null
echo "Checking that $1 takes a tag" >&2
# Only the taggable line counts: a part that --show cannot read (the resources) takes none of it away.
shown=$(build/edge/native/tools/stamp/tarvo-stamp --show "$release" 2>&1) || true
taggable=$(sed -n 's/^taggable: //p' <<<"$shown")
if [ "$taggable" != yes ]; then
  echo "edge/bundle.sh: $1: ${taggable:-$shown}" >&2
  exit 1
fi
[ -n "$compatibility_date" ] || { echo "edge/bundle.sh: edge/wrangler.toml names no compatibility_date" >&2; exit 1; }
mkdir -p "$out"
cp edge/worker.js edge/wrangler.toml build/wasm/edge/tarvo_tag.wasm "$out/"
sed "s/@COMPATIBILITY_DATE@/$compatibility_date/" edge/workerd.capnp > "$out/workerd.capnp"
cp "$release" "$out/release.exe"
printf 'Bundled %s into %s: serve it with %q %q, deploy it with %q %q\n' "$1" "$out" "$checkout/edge/serve.sh" "$out" \
  "$checkout/edge/deploy.sh" "$out"
