#!/usr/bin/env bash
# The edge benchmark: bench/edge.sh [ROUNDS] (default 5). One workerd on 127.0.0.1 serves the
# worker (tagged downloads, a fresh tag on every request) and bench/edge_bench.js (the
# untagged release with the same headers). wrk runs the two in turn, ROUNDS rounds of 5 s
# each, and the ratio of requests per second is reported with workerd's CPU time per request
# (from /proc). Then the tag step's own time inside workerd, over many tags in one request,
# beside the native TagLauncher's (bench/tag_bench.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
scripts/ensure-packages.sh $(cat scripts/build-packages.txt scripts/test-packages.txt) wrk
cmake --preset tests >/dev/null && cmake --build --preset tests --target tarvo-stamp >/dev/null
cmake --preset windows >/dev/null && cmake --build --preset windows --target Tarvo >/dev/null
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build/bench --target tag_bench >/dev/null
tool=build/tests/tools/stamp/tarvo-stamp
work=$(mktemp -d /tmp/tarvo-edge-bench-XXXXXX)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"' EXIT

"$tool" --tag-certificate "$work/tag.crt"
"$tool" build/windows/Tarvo.exe https://desk.example.org/d/ -o "$work/release.exe"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo benchmark signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/signed.exe" >/dev/null
edge/bundle.sh "$work/signed.exe" "$work/bundle" >/dev/null
cp bench/edge_bench.js "$work/bundle/edge_bench.js"
# Both workers in one workerd, on two sockets.
cat > "$work/bundle/bench.capnp" <<'CAPNP'
using Workerd = import "/workerd/workerd.capnp";
const config :Workerd.Config = (
  services = [(name = "tarvo", worker = .tarvo), (name = "bench", worker = .bench)],
  sockets = [(name = "tarvo", address = "127.0.0.1:8791", http = (), service = "tarvo"),
             (name = "bench", address = "127.0.0.1:8792", http = (), service = "bench")],
);
const tarvo :Workerd.Worker = (
  modules = [(name = "worker.js", esModule = embed "worker.js"), (name = "tarvo_tag.wasm", wasm = embed "tarvo_tag.wasm"),
             (name = "release.exe", data = embed "release.exe")],
  bindings = [(name = "FILE_NAME", text = "Tarvo.exe")],
  compatibilityDate = "2026-12-01",
);
const bench :Workerd.Worker = (
  modules = [(name = "edge_bench.js", esModule = embed "edge_bench.js"), (name = "worker.js", esModule = embed "worker.js"),
             (name = "tarvo_tag.wasm", wasm = embed "tarvo_tag.wasm"), (name = "release.exe", data = embed "release.exe")],
  compatibilityDate = "2026-12-01",
);
CAPNP
(cd edge && { [ -x node_modules/.bin/workerd ] || npm ci --no-audit --no-fund >/dev/null; })
edge/node_modules/.bin/workerd serve "$work/bundle/bench.capnp" >"$work/workerd.log" 2>&1 &
process=$!
pids+=($process)
for _ in $(seq 300); do curl -s -o /dev/null http://127.0.0.1:8792/ && break; sleep 0.1; done

cat > "$work/fresh.lua" <<'LUA'
local threads = 0
function setup(thread) threads = threads + 1; thread:set("id", threads) end
local count = 0
function request()
  count = count + 1
  return wrk.format("GET", path .. id .. "x" .. count)
end
function init(args) path = args[1] end
LUA
cpu() { awk '{ print $14 + $15 }' "/proc/$process/stat"; }
run() {  # run URL-PREFIX: prints requests per second and CPU ms per request
  local before after output
  before=$(cpu)
  output=$(wrk -t 2 -c 16 -d 5s -s "$work/fresh.lua" "$1" -- "$2")
  after=$(cpu)
  awk -v out="$output" -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN {
    match(out, /Requests\/sec: *[0-9.]+/); rps = substr(out, RSTART + 13, RLENGTH - 13) + 0
    match(out, /[0-9]+ requests in/); n = substr(out, RSTART, RLENGTH - 12) + 0
    printf "%.0f %.1f\n", rps, 1000000 * ticks / hz / n }'
}
echo "round  tagged req/s  CPU us/req  untagged req/s  CPU us/req  ratio"
ratios=()
for round in $(seq "$rounds"); do
  read -r tagged tagged_cpu <<<"$(run http://127.0.0.1:8791 /download/t)"
  read -r untagged untagged_cpu <<<"$(run http://127.0.0.1:8792 /untagged/t)"
  ratio=$(awk "BEGIN { printf \"%.3f\", $tagged / $untagged }")
  ratios+=("$ratio")
  printf '%5d  %12s  %10s  %14s  %10s  %s\n' "$round" "$tagged" "$tagged_cpu" "$untagged" "$untagged_cpu" "$ratio"
done
echo "median ratio: $(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')"

seconds() { curl -s -o /dev/null -w '%{time_total}' "http://127.0.0.1:8792/tag-loop/$1"; }
seconds 1000 >/dev/null
loop=$(seconds 100000) empty=$(seconds 0)
awk -v loop="$loop" -v empty="$empty" 'BEGIN { printf "tag step in workerd: %.2f us per download (100000 tags in one request)\n", (loop - empty) * 10 }'
build/bench/bench/tag_bench "$work/signed.exe" 100000
echo "module: $(stat -c %s "$work/bundle/tarvo_tag.wasm") bytes"
