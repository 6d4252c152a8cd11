#!/usr/bin/env bash
# Deploys a bundle from edge/bundle.sh to Cloudflare with the pinned wrangler on the pinned
# Node.js: edge/deploy.sh BUNDLE [--dry-run], BUNDLE named from the caller's folder. A deploy
# needs a Cloudflare account: from a terminal, wrangler asks to log in the first time; elsewhere
# it takes CLOUDFLARE_API_TOKEN. --dry-run sends nothing: it builds the upload into
# BUNDLE/upload, offline, and says its size.
set -euo pipefail
usage_error() { echo "edge/deploy.sh: $1" >&2; echo "usage: edge/deploy.sh BUNDLE [--dry-run]" >&2; exit 2; }
dry_run=false operands=()
while [ $# -gt 0 ]; do
  case $1 in
    --dry-run) dry_run=true ;;
    --) shift; operands+=("$@"); break ;;
    -*) usage_error "unknown option $1" ;;
    *) operands+=("$1") ;;
  esac
  shift
done
[ ${#operands[@]} -eq 1 ] || usage_error "expected one BUNDLE"
[ -f "${operands[0]}/wrangler.toml" ] || usage_error "${operands[0]}: no bundle from edge/bundle.sh (no wrangler.toml)"
bundle=$(realpath -- "${operands[0]}")
source "$(dirname "$0")/toolchain.sh"
cd "$bundle"
$dry_run || exec wrangler deploy
rm -rf upload
WRANGLER_SEND_METRICS=false wrangler deploy --dry-run --outdir upload
size=$(cat upload/worker.js upload/*-tarvo_tag.wasm upload/*-release.exe | wc -c)
echo "Dry run, nothing sent: the upload in $bundle/upload, the worker, the module and the release, is $size bytes"
