#!/bin/sh
# Appends to a freshly linked tag module its own SHA-256 as a custom section, tarvo.digest,
# which the worker puts into every ETag, so that a new module means new ETags. The wasm build
# runs it after each link: edge/digest_section.sh MODULE.wasm. The section is 79 bytes: id 0,
# its size (77, one LEB128 byte), the name's length (12), the name, then 64 hex digits.
set -eu
digest=$(sha256sum < "$1" | cut -c1-64)
[ ${#digest} -eq 64 ] || { echo "edge/digest_section.sh: $1: no digest to append" >&2; exit 1; }
printf '\000\115\014tarvo.digest%s' "$digest" >> "$1"
