#!/usr/bin/env bash
# The per-user launcher benchmark: bench/stamp_sign.sh [RUNS]
# Times, per launcher, what the service does for each user, in one run: stamp-then-sign
# (tarvo-stamp on the released placeholder build, then osslsigncode with a throwaway
# certificate, no timestamp server: its round trip is the network's, not ours), and
# sign-once-then-tag (tarvo-stamp --tag on a release signed once with the tag certificate),
# as whole processes started one by one, and the tag step in memory, as a download server
# would call it in-process. tarvo-stamp is the optimised build, as the package installs it.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt)
echo "Building Tarvo.exe (build/windows) and an optimised tarvo-stamp and tag_bench (build/bench)..."
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target Tarvo >/dev/null
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j 2 --target tarvo-stamp tag_bench >/dev/null
tool=build/bench/tools/stamp/tarvo-stamp
work=$(mktemp -d /tmp/tarvo-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo benchmark signer" -addext extendedKeyUsage=codeSigning 2>/dev/null

per_launcher() {  # per_launcher LABEL COMMAND: the mean over $runs runs; COMMAND gets the run's number
  local start end
  start=$(date +%s%N)
  for i in $(seq "$runs"); do
    "${@:2}" "$i" >/dev/null || { echo "bench/stamp_sign.sh: $1 failed at run $i, so nothing was timed" >&2; exit 1; }
  done
  end=$(date +%s%N)
  printf '%-32s %6.2f ms per launcher (%d runs)\n' "$1" "$(awk "BEGIN { print ($end - $start) / $runs / 1000000 }")" "$runs"
}
stamp() { "$tool" build/windows/Tarvo.exe "https://desk.example.org/user-$1" -o "$work/u$1.exe"; }
sign() {
  osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n Tarvo -h sha256 \
    -in "$work/u$1.exe" -out "$work/u$1-signed.exe"
}
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$work/u$1-signed.exe"; }
tag() { "$tool" --tag "$work/release-signed.exe" "user-$1" -o "$work/t$1.exe"; }
echo "Tarvo.exe: $(stat -c %s build/windows/Tarvo.exe) bytes; $(osslsigncode --version | head -1 | cut -d, -f1)"
per_launcher "tarvo-stamp" stamp
per_launcher "osslsigncode sign (RSA 2048)" sign
per_launcher "osslsigncode verify" verify
"$tool" --show "$work/u1-signed.exe" | grep -qx "address: https://desk.example.org/user-1" ||
  { echo "bench/stamp_sign.sh: the signed launcher does not hold its address" >&2; exit 1; }

"$tool" --tag-certificate "$work/tag.crt"
"$tool" build/windows/Tarvo.exe https://desk.example.org/ -o "$work/release.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/release-signed.exe" >/dev/null
per_launcher "tarvo-stamp --tag" tag
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/t1.exe" >/dev/null && "$tool" --show "$work/t1.exe" | grep -qx "tag: user-1" ||
  { echo "bench/stamp_sign.sh: the tagged launcher does not verify or holds no tag user-1" >&2; exit 1; }
build/bench/bench/tag_bench "$work/release-signed.exe" 100000
