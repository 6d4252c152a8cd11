#!/usr/bin/env bash
# The edge benchmark: bench/edge.sh [ROUNDS] (default 5; about three minutes in all).
# One workerd on 127.0.0.1, pinned to the first core, serves the worker (tagged downloads, a
# fresh tag on every request, its log line included), bench/edge_floor.js (the floor: the
# release with the six headers of a download made once, nothing else per request) and
# bench/edge_bench.js (the untagged route: the same, the headers made afresh); wrk, pinned to
# the second core, loads each for 5 s a round, the three in turn, the first turning from round
# to round. The verdict is the CPU time that the workerd binary itself spends per request,
# from /proc, tagged over the floor and over untagged (above 1, the tagged download costs that
# much more); requests per second are the client's view beside it. Every answer is checked
# before anything is timed, and any non-2xx answer fails the run. Then the tag step's own time
# inside workerd, over many tags in one request, beside the native WriteTag's
# (bench/tag_bench.cpp).
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
refuse() { echo "bench/edge.sh: $*" >&2; exit 1; }

"$tool" --tag-certificate "$work/tag.crt"
"$tool" build/windows/Tarvo.exe https://desk.example.org/d/ -o "$work/release.exe"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo benchmark signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/signed.exe" >/dev/null
edge/bundle.sh "$work/signed.exe" "$work/bundle" >/dev/null
cp bench/edge_bench.js bench/edge_floor.js "$work/bundle/"
source edge/toolchain.sh
# The three in one workerd, on three sockets; the worker as the bundle configures it.
cat > "$work/bundle/bench.capnp" <<CAPNP
using Workerd = import "/workerd/workerd.capnp";
using Bundle = import "workerd.capnp";
const config :Workerd.Config = (
  services = [(name = "tarvo", worker = Bundle.tarvo), (name = "bench", worker = .bench), (name = "floor", worker = .floor)],
  sockets = [(name = "tarvo", address = "127.0.0.1:8791", http = (), service = "tarvo"),
             (name = "bench", address = "127.0.0.1:8792", http = (), service = "bench"),
             (name = "floor", address = "127.0.0.1:8793", http = (), service = "floor")],
);
const floor :Workerd.Worker = (
  modules = [(name = "edge_floor.js", esModule = embed "edge_floor.js"), (name = "worker.js", esModule = embed "worker.js"),
             (name = "tarvo_tag.wasm", wasm = embed "tarvo_tag.wasm"), (name = "release.exe", data = embed "release.exe")],
  compatibilityDate = "$compatibility_date",
);
const bench :Workerd.Worker = (
  modules = [(name = "edge_bench.js", esModule = embed "edge_bench.js"), (name = "worker.js", esModule = embed "worker.js"),
             (name = "tarvo_tag.wasm", wasm = embed "tarvo_tag.wasm"), (name = "release.exe", data = embed "release.exe")],
  compatibilityDate = "$compatibility_date",
);
CAPNP
taskset -c 0 "$workerd" serve "$work/bundle/bench.capnp" >"$work/workerd.log" 2>&1 &
process=$!
pids+=($process)
for _ in $(seq 300); do curl -s -o /dev/null http://127.0.0.1:8792/ && break; sleep 0.1; done
echo "workerd: process $process, $workerd"

# Before timing: each route answers 200 with the release's size, the tagged one with its tag.
size=$(stat -c %s "$work/signed.exe")
fetch() {  # fetch URL OUT: the body to OUT, or the run stops saying what came instead
  local status; status=$(curl -s -o "$2" -w '%{http_code}' "$1")
  [ "$status" = 200 ] || refuse "$1 answered $status: $(head -c 200 "$2")"
  [ "$(stat -c %s "$2")" = "$size" ] || refuse "$1 gave $(stat -c %s "$2") bytes, not the release's $size"
}
fetch http://127.0.0.1:8791/download/check1 "$work/tagged.exe"
"$tool" --show "$work/tagged.exe" | grep -qx "tag: check1" || refuse "the tagged download holds no tag check1"
fetch http://127.0.0.1:8792/untagged/check1 "$work/untagged.exe"
cmp -s "$work/untagged.exe" "$work/signed.exe" || refuse "the untagged download is not the release"
fetch http://127.0.0.1:8793/check1 "$work/floor.exe"
cmp -s "$work/floor.exe" "$work/signed.exe" || refuse "the floor's download is not the release"

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
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$process/stat"; }
run() {  # run URL PATH-PREFIX: prints requests per second and workerd's CPU µs per request
  local before after output
  before=$(cpu_ticks)
  output=$(taskset -c 1 wrk -t 1 -c 16 -d 5s -s "$work/fresh.lua" "$1" -- "$2")
  after=$(cpu_ticks)
  ! grep -q "Non-2xx or 3xx responses" <<<"$output" || refuse "$1$2...: $(grep "Non-2xx" <<<"$output")"
  awk -v out="$output" -v ticks=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN {
    match(out, /Requests\/sec: *[0-9.]+/); rps = substr(out, RSTART + 13, RLENGTH - 13) + 0
    match(out, /[0-9]+ requests in/); n = substr(out, RSTART, RLENGTH - 12) + 0
    if (n == 0) exit 1
    printf "%.0f %.1f\n", rps, 1000000 * ticks / hz / n }' || refuse "$1$2...: wrk made no requests: $output"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
spread() { sort -n | awk 'NR == 1 { low = $1 } { high = $1 } END { print low " to " high }'; }
declare -A url=([tagged]=http://127.0.0.1:8791 [floor]=http://127.0.0.1:8793 [untagged]=http://127.0.0.1:8792)
declare -A prefix=([tagged]=/download/t [floor]=/f [untagged]=/untagged/t)
declare -A req cpu
order=(tagged floor untagged)
echo "round  first     tagged req/s  CPU us/req  floor req/s  CPU us/req  untagged req/s  CPU us/req  over floor  over untagged"
: > "$work/rounds"
for round in $(seq "$rounds"); do
  for name in "${order[@]}"; do read -r "req[$name]" "cpu[$name]" <<<"$(run "${url[$name]}" "${prefix[$name]}")"; done
  over_floor=$(awk "BEGIN { printf \"%.3f\", ${cpu[tagged]} / ${cpu[floor]} }")
  over_untagged=$(awk "BEGIN { printf \"%.3f\", ${cpu[tagged]} / ${cpu[untagged]} }")
  echo "${req[tagged]} ${cpu[tagged]} ${req[floor]} ${cpu[floor]} ${req[untagged]} ${cpu[untagged]} $over_floor $over_untagged" >> "$work/rounds"
  printf '%5d  %-8s  %12s  %10s  %11s  %10s  %14s  %10s  %10s  %s\n' "$round" "${order[0]}" "${req[tagged]}" "${cpu[tagged]}" \
    "${req[floor]}" "${cpu[floor]}" "${req[untagged]}" "${cpu[untagged]}" "$over_floor" "$over_untagged"
  order=("${order[@]:1}" "${order[0]}")
done
column() { cut -d' ' -f"$1" "$work/rounds"; }
echo "workerd CPU per request, median (spread): tagged $(column 2 | median) us ($(column 2 | spread))," \
  "floor $(column 4 | median) us ($(column 4 | spread)), untagged $(column 6 | median) us ($(column 6 | spread))"
echo "tagged over the floor, CPU per request: median $(column 7 | median) ($(column 7 | spread)); over untagged:" \
  "median $(column 8 | median) ($(column 8 | spread)); above 1 the tagged download costs more"
echo "requests per second, the client's view: tagged $(column 1 | median) ($(column 1 | spread))," \
  "floor $(column 3 | median) ($(column 3 | spread)), untagged $(column 5 | median) ($(column 5 | spread))"

loop() {  # loop COUNT: the seconds one request takes to write COUNT tags, once its answer says it wrote them
  local out="$work/loop-$1" seconds
  seconds=$(curl -s -o "$out" -w '%{time_total}' "http://127.0.0.1:8792/tag-loop/$1")
  grep -qx "tagged $1" "$out" || refuse "the tag loop of $1 answered: $(head -c 200 "$out")"
  echo "$seconds"
}
loop 1000 >/dev/null
many=$(loop 100000)
none=$(loop 0)
awk -v many="$many" -v none="$none" 'BEGIN { printf "tag step in workerd: %.2f us per download (100000 tags in one request)\n", (many - none) * 10 }'
build/bench/bench/tag_bench "$work/signed.exe" 100000
echo "module: $(stat -c %s "$work/bundle/tarvo_tag.wasm") bytes"
