#!/usr/bin/env bash
# The start-up benchmark: bench/run.sh [RUNS]
# Under Wine, times Tarvo.exe started with a command-line address, and a signed, tagged
# launcher started without one, against the floor program (the same single ShellExecuteA call
# and nothing else), alternately; then prints the executable's size and imports, and
# callgrind's instruction counts of the native start-up sequence for each address source.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt) valgrind
echo "Building Tarvo.exe and the floor program (build/windows), the native start-up driver and tarvo-stamp (build/tests)..."
for preset in windows tests; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2 >/dev/null
done
work=$(mktemp -d /tmp/tarvo-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "Signing a release once with the tag certificate (a throwaway signer) and tagging it..."
tool=build/tests/tools/stamp/tarvo-stamp
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo benchmark signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
"$tool" --tag-certificate "$work/tag.crt"
"$tool" build/windows/Tarvo.exe https://example.org/desks/ -o "$work/release.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/release-signed.exe" >/dev/null
"$tool" --tag "$work/release-signed.exe" mia -o "$work/Tarvo-mia.exe"
python3 bench/startup_bench.py "${1:-25}" "$work/Tarvo-mia.exe"
