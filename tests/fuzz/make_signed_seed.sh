#!/usr/bin/env bash
# Writes a fuzzing seed that is a real signed and tagged launcher: the release stamped with an
# address that takes a tag, signed by a throwaway certificate with the tag certificate added.
# Usage: make_signed_seed.sh TOOL RELEASE OUT
set -euo pipefail
tool=$1 release=$2 out=$3
work=$(mktemp -d /tmp/tarvo-seed-XXXXXX)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo fuzzing signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
"$tool" --tag-certificate "$work/tag.crt"
"$tool" "$release" https://desk.example.org/ -o "$work/release.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/signed.exe" >/dev/null
rm -f "$out"
"$tool" --tag "$work/signed.exe" seed -o "$out"
