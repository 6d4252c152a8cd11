#!/usr/bin/env bash
# Serves a bundle from edge/bundle.sh on this machine alone: edge/serve.sh BUNDLE [PORT]
# (default 8787), with the workerd that edge/package-lock.json pins, at http://127.0.0.1:PORT.
# workerd takes this script's process, so stopping that process stops it; it says "Serving"
# once workerd reports that it listens, and then prints the worker's line of JSON per request.
set -euo pipefail
[ $# -ge 1 ] && [ -f "$1/workerd.capnp" ] || { echo "usage: edge/serve.sh BUNDLE [PORT]" >&2; exit 2; }
bundle=$(realpath -- "$1") port=${2:-8787}
source "$(dirname "$0")/toolchain.sh"
exec "$workerd" serve "$bundle/workerd.capnp" --socket-addr "http=127.0.0.1:$port" --control-fd 3 \
  3> >(grep -q '"event":"listen"' && echo "Serving $bundle at http://127.0.0.1:$port/download/TAG and /release")
