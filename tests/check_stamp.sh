#!/usr/bin/env bash
# tarvo-stamp against real builds: a stamped launcher is byte-identical to one configured
# with the same TARVO_ADDRESS, every refused input exits non-zero and writes nothing, and
# the stamp-then-sign pipeline with osslsigncode gives launchers whose signature verifies, and
# a release signed once with the tag certificate stays signed when tagged.
# Usage: check_stamp.sh TOOL PLACEHOLDER_BUILD ADDRESS_BUILD (the latter's address below)
set -uo pipefail
tool=$1 windows_build=$2 placeholder=$2/Tarvo.exe built_in=$3/Tarvo.exe
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarvo-stamp-XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

same() {  # same NAME A B
  checks=$((checks + 1))
  cmp -s "$2" "$3" || fail "$1: $2 and $3 differ"
}
"$tool" "$placeholder" https://example.org/built-in -o "$work/a.exe" && same "stamped = configured" "$work/a.exe" "$built_in"
"$tool" "$built_in" https://tarvo.invalid/ -o "$work/b.exe" && same "stamped back to the placeholder" "$work/b.exe" "$placeholder"
for address in "https://$(printf 'a%.0s' $(seq 172))" 'https://a.example/q@x@\y?z=%20${HOME}'; do
  cmake -S "$source_dir" --preset windows -B "$work/build" "-DTARVO_ADDRESS=$address" >/dev/null &&
    cmake --build "$work/build" --target Tarvo >/dev/null &&
    "$tool" "$placeholder" "$address" -o "$work/c.exe" && same "configured with ${address:0:30}..." "$work/c.exe" "$work/build/Tarvo.exe"
  rm -rf "$work/build"
done

checks=$((checks + 1))
shown=$("$tool" --show "$built_in")
[ "$shown" = $'address: https://example.org/built-in\nused: yes, the launcher opens this address when started without one\nsignature: none, unsigned\ntag: none\ntaggable: no, it is unsigned: sign the release with the tag certificate added (-ac), then tag copies of it\nname: Tarvo\nicon: 16, 32, 48, 64, 256\nopens: https://example.org/built-in' ] ||
  fail "--show: $shown"

# The command line of a conventional tool: help and version on stdout, usage errors with
# status 2 and a reason, options in any order, the input never its own output.
for option in --help -h --version; do
  checks=$((checks + 1))
  out=$("$tool" $option 2>/dev/null); status=$?
  [ $status -eq 0 ] && [[ $out == *tarvo-stamp* ]] || fail "$option: status $status, '$out'"
done
checks=$((checks + 1))
[[ $("$tool" --help) == *"--strip-signature "*"--show "*"--version "*"-- SIGNED.exe \"\$TAG\""* ]] ||
  fail "--help has a line per option and the -- form"
usage() {  # usage NAME EXPECTED-MESSAGE ARGUMENT...
  checks=$((checks + 1))
  message=$("$tool" "${@:3}" 2>&1); status=$?
  [ $status -eq 2 ] && [[ $message == *"$2"* ]] || fail "$1: status $status, '$message'"
}
usage "no -o" "missing -o OUT.exe" "$placeholder" https://example.org/
usage "unknown option" "unknown option --sign" "$placeholder" https://example.org/ -o "$work/out.exe" --sign
usage "option given twice" "--name given twice" "$placeholder" https://example.org/ -o "$work/out.exe" --name a --name b
usage "option without its value" "--icon needs a value" "$placeholder" https://example.org/ -o "$work/out.exe" --icon
usage "--show with an output" "--show takes no other options" --show "$placeholder" -o "$work/out.exe"
usage "two modes" "only one of" --show --tag "$placeholder"
"$tool" -o "$work/anywhere.exe" --name Tarvo "$placeholder" https://example.org/built-in &&
  same "options before the operands" "$work/anywhere.exe" "$built_in"
# getopt_long's forms, and what a server passes: a user's text after -- is never an option,
# and an option's value never one either.
stamps() {  # stamps NAME EXPECTED OUTPUT ARGUMENT...: the tool succeeds and writes EXPECTED's bytes
  checks=$((checks + 1))
  "$tool" "${@:4}" || { fail "$1: status $?"; return; }
  cmp -s "$3" "$2" || fail "$1: $3 and $2 differ"
}
stamps "--output=, --name=, --icon=" "$built_in" "$work/long.exe" "--output=$work/long.exe" --name=Tarvo \
  "--icon=$source_dir/res/tarvo.ico" "$placeholder" https://example.org/built-in
stamps "-oFILE and --" "$built_in" "$work/joined.exe" "-o$work/joined.exe" -- "$placeholder" https://example.org/built-in
checks=$((checks + 1))
"$tool" "$placeholder" https://example.org/built-in -o - > "$work/streamed.exe" && cmp -s "$work/streamed.exe" "$built_in" ||
  fail "-o - equals the file"
for form in "--name --help" "--name=--help"; do
  checks=$((checks + 1))
  "$tool" -o "$work/named.exe" $form -- "$placeholder" https://example.org/ && "$tool" --show "$work/named.exe" | grep -qx "name: --help" ||
    fail "$form: no launcher named --help"
done
checks=$((checks + 1))
message=$("$tool" --tag -o - -- "$placeholder" mia 2>&1 >"$work/refused-stdout"); status=$?
[ $status -eq 1 ] && [ ! -s "$work/refused-stdout" ] || fail "-o - on a refusal: status $status, $(wc -c < "$work/refused-stdout") bytes out"
checks=$((checks + 1))
message=$(script -qec "'$tool' '$placeholder' https://example.org/ -o -" /dev/null); status=$?
[[ $message == *"standard output is a terminal"* ]] || fail "-o - onto a terminal: $message"
# A path that is not a regular file is never replaced or written through.
mkfifo "$work/out-fifo"; mkdir "$work/out-folder"; printf 'keep me' > "$work/kept"; ln -s kept "$work/out-link"
targets=("$work/out-fifo" "$work/out-folder" "$work/out-link")
[ "$(id -u)" = 0 ] && mknod "$work/out-null" c 1 3 && targets+=("$work/out-null")
for target in "${targets[@]}"; do
  checks=$((checks + 1))
  before=$(stat -c '%F %i' "$target")
  message=$(timeout 10 "$tool" "$placeholder" https://example.org/ -o "$target" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"not a regular file"* ]] && [ "$(stat -c '%F %i' "$target")" = "$before" ] &&
    [ "$(cat "$work/kept")" = "keep me" ] || fail "-o $(basename "$target"): status $status, '$message'"
done
long_name=$work/$(printf 'n%.0s' $(seq 246)).exe  # 250 bytes: legal, though the usual temporary name is not
stamps "a 250-byte output name" "$built_in" "$long_name" "$placeholder" https://example.org/built-in -o "$long_name"
cp "$placeholder" "$work/input.exe"
chmod 0751 "$work/input.exe"
ln -s input.exe "$work/input-link.exe"
"$tool" "$work/input.exe" https://example.org/built-in -o "$work/moded.exe"
checks=$((checks + 1))
[ "$(stat -c %a "$work/moded.exe")" = 751 ] || fail "the input's mode bits: $(stat -c %a "$work/moded.exe")"
for output in "$work/input.exe" "$work/input-link.exe" "$work/../$(basename "$work")/input.exe"; do
  checks=$((checks + 1))
  message=$("$tool" "$work/input.exe" https://example.org/x -o "$output" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"names the input"* ]] && cmp -s "$work/input.exe" "$placeholder" ||
    fail "-o $output: status $status, '$message'"
done

file_hash() { [ -f "$1" ] && sha256sum < "$1"; }
refused() {  # refused NAME EXPECTED-MESSAGE INPUT ADDRESS OUTPUT [OPTION...]
  checks=$((checks + 1))
  local before; before=$(file_hash "$3")
  message=$("$tool" "$3" "$4" -o "$5" "${@:6}" 2>&1); local status=$?
  [ $status -eq 1 ] || fail "$1: status $status"
  [[ $message == *"$2"* ]] || fail "$1: said '$message'"
  ls "$5"* >/dev/null 2>&1 && fail "$1: wrote $5"
  [ "$(file_hash "$3")" = "$before" ] || fail "$1: changed its input"
}
printf 'not an executable' > "$work/text.exe"
refused "181 bytes" "at most 180" "$placeholder" "https://$(printf 'a%.0s' $(seq 173))" "$work/out.exe"
refused "http" '"https://"' "$placeholder" http://example.org/ "$work/out.exe"
refused "blank" "percent-encode" "$placeholder" "https://example.org/a b" "$work/out.exe"
refused "double quote" "%22" "$placeholder" 'https://example.org/a"b' "$work/out.exe"
refused "control character" "percent-encode" "$placeholder" $'https://example.org/\t' "$work/out.exe"
refused "non-ASCII" "percent-encode" "$placeholder" $'https://example.org/\xc3\xa9' "$work/out.exe"
refused "not PE" "not a PE32+" "$work/text.exe" https://example.org/ "$work/out.exe"
refused "no slot" "no address slot" "$windows_build/tests/e2e/fake_browser.exe" https://example.org/ "$work/out.exe"
refused "missing input" "missing.exe: No such file or directory" "$work/missing.exe" https://example.org/ "$work/out.exe"
refused "unwritable output" "out.exe: No such file or directory" "$placeholder" https://example.org/ "$work/no/such/folder/out.exe"
refused "endless input" "/dev/zero: not a regular file" /dev/zero https://example.org/ "$work/out.exe"
refused "endless icon" "/dev/zero: not a regular file" "$placeholder" https://example.org/ "$work/out.exe" --icon /dev/zero
checks=$((checks + 1))
message=$("$tool" --show /dev/zero 2>&1) && fail "--show /dev/zero: accepted"
[[ $message == *"not a regular file"* ]] || fail "--show /dev/zero: said '$message'"
mkfifo "$work/fifo"
for where in input icon; do  # a FIFO nobody writes to must be refused, not waited on
  checks=$((checks + 1))
  if [ $where = input ]; then arguments=("$work/fifo" https://example.org/ -o "$work/out.exe")
  else arguments=("$placeholder" https://example.org/ -o "$work/out.exe" --icon "$work/fifo"); fi
  message=$(timeout 10 "$tool" "${arguments[@]}" 2>&1); status=$?
  [ $status -ne 0 ] && [ $status -ne 124 ] && [[ $message == *"not a regular file"* ]] || fail "FIFO as $where: status $status, '$message'"
done

# The temporary file is the tool's own: a link or a folder at the old fixed name stays as it
# was, and eight stamps at once onto one output always leave one whole launcher.
printf 'keep me' > "$work/victim"
ln -s "$work/victim" "$work/linked.exe.partial"
mkdir "$work/folder.exe.partial"
checks=$((checks + 1))
"$tool" "$placeholder" https://example.org/built-in -o "$work/linked.exe" && [ "$(cat "$work/victim")" = "keep me" ] &&
  [ -L "$work/linked.exe.partial" ] && [ ! -L "$work/linked.exe" ] && cmp -s "$work/linked.exe" "$built_in" ||
  fail "a link at the temporary name"
checks=$((checks + 1))
"$tool" "$placeholder" https://example.org/built-in -o "$work/folder.exe" && [ -d "$work/folder.exe.partial" ] ||
  fail "a folder at the temporary name"
for n in 1 2 3 4 5 6 7 8; do "$tool" "$placeholder" "https://example.org/$n" -o "$work/each-$n.exe"; done
checks=$((checks + 1))
for round in $(seq 50); do
  pids=()
  for n in 1 2 3 4 5 6 7 8; do "$tool" "$placeholder" "https://example.org/$n" -o "$work/shared.exe" & pids+=($!); done
  for pid in "${pids[@]}"; do wait "$pid" || { fail "eight stamps at once, round $round: one failed"; break 2; }; done
  whole=0
  for n in 1 2 3 4 5 6 7 8; do cmp -s "$work/shared.exe" "$work/each-$n.exe" && whole=1; done
  [ $whole -eq 1 ] || { fail "eight stamps at once, round $round: a torn output"; break; }
done
ls "$work"/*.partial-* >/dev/null 2>&1 && fail "temporary files left: $(ls "$work"/*.partial-*)"

# Branding: a launcher stamped with an icon and a name equals one configured with them, for
# two icons of different sizes, and a branded launcher stamped again equals the other.
python3 "$source_dir/tests/make_icons.py" "$work/icons"
name='Café ✓ "Desk" \ 😀'
for icon in a b; do
  cmake -S "$source_dir" --preset windows -B "$work/build" "-DTARVO_ADDRESS=https://example.org/$icon" \
    "-DTARVO_ICON=$work/icons/desk-$icon.ico" "-DTARVO_NAME=$name $icon" >/dev/null &&
    cmake --build "$work/build" --target Tarvo >/dev/null && cp "$work/build/Tarvo.exe" "$work/configured-$icon.exe"
  rm -rf "$work/build"
  "$tool" "$placeholder" "https://example.org/$icon" -o "$work/branded-$icon.exe" --icon "$work/icons/desk-$icon.ico" \
    --name "$name $icon" && same "branded with desk-$icon.ico = configured" "$work/branded-$icon.exe" "$work/configured-$icon.exe"
  checks=$((checks + 1))
  python3 "$source_dir/tests/check_resources.py" "$work/branded-$icon.exe" --icon "$work/icons/desk-$icon.ico" \
    --name "$name $icon" >/dev/null || fail "resources of the launcher branded with desk-$icon.ico"
done
"$tool" "$work/branded-a.exe" https://example.org/b -o "$work/rebranded.exe" --name "$name b" --icon "$work/icons/desk-b.ico" &&
  same "branded again, with the smaller icon" "$work/rebranded.exe" "$work/configured-b.exe"
"$tool" "$work/branded-a.exe" https://example.org/a -o "$work/plain.exe" && same "no branding options keep the resources" "$work/plain.exe" "$work/configured-a.exe"
for bad in bad-header:"bad header" outside:"lies outside the file" wrong-size:"but its entry says" too-large:"larger than 1 MiB" \
    aliased:"overlap each other"; do
  refused "icon ${bad%%:*}" "${bad#*:}" "$placeholder" https://example.org/ "$work/out.exe" --icon "$work/icons/${bad%%:*}.ico"
done
refused "empty name" "1 to 64" "$placeholder" https://example.org/ "$work/out.exe" --name ""
refused "65-character name" "65 characters" "$placeholder" https://example.org/ "$work/out.exe" --name "$(printf 'n%.0s' $(seq 65))"
refused "control character in the name" "control character" "$placeholder" https://example.org/ "$work/out.exe" --name $'a\tb'
refused "name not UTF-8" "not UTF-8" "$placeholder" https://example.org/ "$work/out.exe" --name $'a\xe9b'
python3 - "$placeholder" "$work/moved.exe" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(b".reloc\0\0", b".zzzzz\0\0", 1))
PY
refused "resources not last but for .reloc" "not the last section" "$work/moved.exe" https://example.org/ "$work/out.exe" --name Desk

# Signing, with a throwaway code-signing certificate made here and removed with $work.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -passout pass:test -out "$work/signer.p12"
sign() {  # sign IN OUT KEY-OPTION...: a fixed time and no timestamp, so the bytes repeat
  osslsigncode sign "${@:3}" -n Tarvo -h sha256 -time 1767225600 -in "$1" -out "$2" >/dev/null
}
sign "$placeholder" "$work/signed.exe" -pkcs12 "$work/signer.p12" -pass test
checks=$((checks + 1))
[ "$("$tool" --show "$work/signed.exe" | sed -n 3p)" = "signature: present (not checked here: osslsigncode verify checks it)" ] ||
  fail "--show of a signed launcher"
python3 - "$work/signed.exe" "$work/tampered.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[data.index(b"https://tarvo.invalid/") + 8] ^= 1
open(sys.argv[2], "wb").write(data)
PY
checks=$((checks + 1))
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >/dev/null 2>&1 && fail "a tampered launcher verifies"
"$tool" --show "$work/tampered.exe" | grep -qx signed && fail "--show of a tampered launcher says signed"
refused "signed input" "--strip-signature" "$work/signed.exe" https://example.org/built-in "$work/out.exe"
"$tool" "$work/signed.exe" https://example.org/built-in -o "$work/d.exe" --strip-signature &&
  same "stripped and stamped = stamped unsigned" "$work/d.exe" "$built_in"
cat "$work/signed.exe" "$work/text.exe" > "$work/appended.exe"
refused "bytes after the signature" "certificate table does not lie" "$work/appended.exe" https://example.org/ "$work/out.exe" --strip-signature
sign "$work/a.exe" "$work/a-signed.exe" -certs "$work/cert.pem" -key "$work/key.pem"
checks=$((checks + 1))
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/a-signed.exe" >/dev/null || fail "stamped, then signed: verify"
sign "$work/a.exe" "$work/a-signed-again.exe" -pkcs12 "$work/signer.p12" -pass test
same "a fixed -time signs reproducibly" "$work/a-signed.exe" "$work/a-signed-again.exe"

# Sign once, tag per download: the release is signed with the tag certificate added; each
# tagged copy keeps its size, its digest, its timestamp, and verifies.
"$tool" --tag-certificate "$work/tag.crt" && "$tool" --tag-certificate "$work/tag-again.crt" &&
  same "the tag certificate is the same every time" "$work/tag.crt" "$work/tag-again.crt"
checks=$((checks + 1))
openssl x509 -in "$work/tag.crt" -noout 2>/dev/null || fail "the tag certificate is no X.509 certificate"
"$tool" "$placeholder" https://desk.example.org/ -o "$work/release.exe"
sign "$work/release.exe" "$work/release-signed.exe" -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt"
checks=$((checks + 1))
message=$("$tool" --tag "$work/release.exe" mia -o "$work/out.exe" 2>&1) && fail "tagging an unsigned release: accepted"
[[ $message == *unsigned* ]] && [ ! -e "$work/out.exe" ] || fail "tagging an unsigned release: '$message'"
digest() { osslsigncode verify -CAfile "$work/cert.pem" "${@:2}" -in "$1" 2>&1 | sed -n 's/^Current message digest *: //p'; }
checks=$((checks + 1))
"$tool" --tag "$work/release-signed.exe" mia -o "$work/mia.exe" &&
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/mia.exe" >/dev/null &&
  [ "$(stat -c %s "$work/mia.exe")" = "$(stat -c %s "$work/release-signed.exe")" ] &&
  [ "$(digest "$work/mia.exe")" = "$(digest "$work/release-signed.exe")" ] &&
  [ "$("$tool" --show "$work/mia.exe" | grep -E '^(tag|taggable|opens):')" = $'tag: mia\ntaggable: yes\nopens: https://desk.example.org/mia' ] ||
  fail "signed with -ac, tagged, verified"
# A server's tag, whatever it holds, is an operand after --: one shaped like an option is
# refused as a tag, and the stale output that a server might serve is neither replaced nor
# reported as written.
for tag in -h --help --version -abc; do
  checks=$((checks + 1))
  printf 'stale' > "$work/stale.exe"
  out=$("$tool" --tag -o "$work/stale.exe" -- "$work/release-signed.exe" "$tag" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $out == *"begin with an ASCII letter or digit"* ]] && [ "$(cat "$work/stale.exe")" = stale ] ||
    fail "tag $tag: status $status, '$out'"
done
# A longer chain puts the tag certificate past the 32 KiB of the table that the launcher reads
# (certificates of a signature are sorted by their encoding, so the small ones come first).
openssl ecparam -name prime256v1 -genkey -noout -out "$work/chain-key.pem"
for n in $(seq 60); do
  openssl req -x509 -key "$work/chain-key.pem" -out - -days 2 -subj "/CN=Tarvo test chain $n" \
    -addext "nsComment=$(printf 'c%.0s' $(seq 180))" 2>/dev/null
done > "$work/chain.pem"
cat "$work/tag.crt" >> "$work/chain.pem"
sign "$work/release.exe" "$work/release-long.exe" -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/chain.pem"
checks=$((checks + 1))
message=$("$tool" --tag "$work/release-long.exe" mia -o "$work/long-mia.exe" 2>&1); status=$?
[ $status -eq 1 ] && [[ $message == *"beyond the 32 KiB"* ]] && [ ! -e "$work/long-mia.exe" ] &&
  "$tool" --show "$work/release-long.exe" | grep -qx "opens: https://desk.example.org/" || fail "a tag field past 32 KiB: '$message'"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tsa-key.pem" -out "$work/tsa.pem" -days 2 \
  -subj "/CN=Tarvo test TSA" -addext "extendedKeyUsage=critical,timeStamping" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo -h sha256 \
  -TSA-certs "$work/tsa.pem" -TSA-key "$work/tsa-key.pem" -TSA-time "$(date +%s)" \
  -in "$work/release.exe" -out "$work/release-stamped.exe" >/dev/null
timestamp() {  # osslsigncode verify exits 0 even when the timestamp fails: read its verdict
  osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa.pem" -in "$1" 2>&1 |
    grep -E "^(Timestamp Server Signature verification: ok|Succeeded)$|Timestamp time"
}
checks=$((checks + 1))
"$tool" --tag "$work/release-stamped.exe" mia -o "$work/mia-stamped.exe" &&
  [ "$(timestamp "$work/mia-stamped.exe" | wc -l)" = 3 ] &&
  [ "$(timestamp "$work/mia-stamped.exe")" = "$(timestamp "$work/release-stamped.exe")" ] ||
  fail "a timestamped release keeps its timestamp after tagging: $(timestamp "$work/mia-stamped.exe")"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
