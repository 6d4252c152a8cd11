#!/usr/bin/env bash
# tarvo-stamp against real builds: a stamped launcher is byte-identical to one configured
# with the same TARVO_ADDRESS, every refused input exits non-zero and writes nothing, and
# the stamp-then-sign pipeline with osslsigncode gives launchers whose signature verifies, and
# a release signed once with the tag certificate stays signed when tagged.
# Usage: check_stamp.sh TOOL PLACEHOLDER_BUILD ADDRESS_BUILD STOP_AT (the address build's
# address is below; STOP_AT is tests/stop_at.c built, to bring a signal at a step of writing)
set -uo pipefail
tool=$1 windows_build=$2 placeholder=$2/Tarvo.exe built_in=$3/Tarvo.exe stop_at=$4
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarvo-stamp-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$source_dir/tests/expect.sh"

# Conditions of the rows below, each saying what it saw when it fails.
same() { cmp -s "$1" "$2" || saw "$1 and $2 differ"; }
says() {  # says STATUS TEXT ARGUMENT...: the tool exits with STATUS and its output holds TEXT
  local message status
  message=$("$tool" "${@:3}" 2>&1); status=$?
  [ $status -eq "$1" ] && [[ $message == *"$2"* ]] || saw "status $status: $message"
}
configured() {  # configured OUT CMAKE-OPTION...: Tarvo.exe configured with the options, copied to OUT
  cmake -S "$source_dir" --preset windows -B "$work/build" "${@:2}" >/dev/null &&
    cmake --build "$work/build" --target Tarvo >/dev/null && cp "$work/build/Tarvo.exe" "$1"
  local status=$?
  rm -rf "$work/build"
  return $status
}
prints() {  # prints TEXT ARGUMENT...: the tool exits with 0 and TEXT on standard output
  local out status
  out=$("$tool" "${@:2}" 2>/dev/null); status=$?
  [ $status -eq 0 ] && [[ $out == *"$1"* ]] || saw "status $status: $out"
}
shows() {  # shows FILE LINE...: --show exits with 0 and prints each LINE as a whole line
  local shown status line
  shown=$("$tool" --show "$1" 2>&1); status=$?
  [ $status -eq 0 ] || { saw "status $status: $shown"; return; }
  for line in "${@:2}"; do grep -qxF -- "$line" <<<"$shown" || { saw "no '$line' in: $shown"; return; }; done
}
stamps() {  # stamps NAME EXPECTED OUTPUT ARGUMENT...: two rows, the tool succeeds and OUTPUT holds EXPECTED's bytes
  expect "$1: status 0" -- "$tool" "${@:4}"
  expect "$1: the bytes" -- same "$3" "$2"
}
quietly() { "$@" >/dev/null 2>&1; }
fails() { ! quietly "$@"; }
verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >/dev/null 2>&1 || saw "osslsigncode verify refuses $1"; }

stamps "stamped = configured" "$built_in" "$work/a.exe" "$placeholder" https://example.org/built-in -o "$work/a.exe"
stamps "stamped back to the placeholder" "$placeholder" "$work/b.exe" "$built_in" https://tarvo.invalid/ -o "$work/b.exe"
for address in "https://$(printf 'a%.0s' $(seq 172))" 'https://a.example/q@x@\y?z=%20${HOME}'; do
  rm -f "$work/configured.exe" "$work/c.exe"
  expect "configured with ${address:0:30}..." -- configured "$work/configured.exe" "-DTARVO_ADDRESS=$address"
  stamps "stamped with ${address:0:30}... = configured" "$work/configured.exe" "$work/c.exe" "$placeholder" "$address" -o "$work/c.exe"
done

expect "--show" -- shows "$built_in" "address: https://example.org/built-in" \
  "used: yes, the launcher opens this address when started without one" "signature: none, unsigned" "tag: none" \
  "taggable: no, it is unsigned: sign the release with the tag certificate added (-ac), then tag copies of it" \
  "name: Tarvo" "icon: 16, 32, 48, 64, 256" "opens: https://example.org/built-in"
expect "--show prints eight lines" -- [ "$("$tool" --show "$built_in" | wc -l)" = 8 ]

# The command line of a conventional tool: help and version on stdout, usage errors with
# status 2 and a reason, options in any order, the input never its own output.
for option in --help -h --version; do
  expect "$option" -- prints tarvo-stamp $option
done
expect "--help has a line per option" -- prints "--strip-signature " --help
expect "--help has the -- form" -- prints "-- SIGNED.exe \"\$TAG\"" --help
expect "no -o" -- says 2 "missing -o OUT.exe" "$placeholder" https://example.org/
expect "one operand" -- says 2 "got 1 operand"$'\n' -o "$work/out.exe" "$placeholder"
expect "unknown option" -- says 2 "tarvo-stamp: unrecognized option '--sign'" "$placeholder" https://example.org/ -o "$work/out.exe" --sign
expect "ambiguous option" -- says 2 "option '--ta' is ambiguous" --ta "$placeholder" mia
expect "option given twice" -- says 2 "--name given twice" "$placeholder" https://example.org/ -o "$work/out.exe" --name a --name b
expect "option without its value" -- says 2 "option '--icon' requires an argument" "$placeholder" https://example.org/ -o "$work/out.exe" --icon
expect "--show with an output" -- says 2 "--show takes no other options" --show "$placeholder" -o "$work/out.exe"
expect "two modes" -- says 2 "only one of" --show --tag "$placeholder"
stamps "options before the operands" "$built_in" "$work/anywhere.exe" -o "$work/anywhere.exe" --name Tarvo "$placeholder" \
  https://example.org/built-in
# Output that cannot be written is a failure, whatever the mode.
to_full() {  # to_full ARGUMENT...: with standard output on a full device, status 1 and the system's reason
  local message status
  message=$("$tool" "$@" 2>&1 >/dev/full); status=$?
  [ $status -eq 1 ] && [[ $message == *"standard output: No space left on device"* ]] || saw "status $status: $message"
}
expect "--help onto a full disk" -- to_full --help
expect "--version onto a full disk" -- to_full --version
expect "--show onto a full disk" -- to_full --show "$built_in"
expect "-o - onto a full disk" -- to_full -o - "$placeholder" https://example.org/
to_closed_pipe() {  # to_closed_pipe SIGPIPE-HANDLING STATUS: --show onto a pipe nobody reads, with that status and why
  python3 -c 'import os, signal, subprocess, sys
signal.signal(signal.SIGPIPE, getattr(signal, sys.argv[1])); read, write = os.pipe(); os.close(read)
run = subprocess.run(sys.argv[3:], stdout=write, stderr=subprocess.PIPE, restore_signals=False)
sys.exit(run.returncode != int(sys.argv[2]) or (run.returncode == 1 and b"Broken pipe" not in run.stderr))' "$@" "$tool" \
    --show "$built_in" || saw "not as documented"
}
expect "--show onto a closed pipe: stopped by SIGPIPE" -- to_closed_pipe SIG_DFL -13
expect "--show onto a closed pipe, SIGPIPE ignored: status 1 and why" -- to_closed_pipe SIG_IGN 1
without_stdout() { "$tool" "$@" >&-; }
expect "a stamp with standard output closed: status 0" -- without_stdout "$placeholder" https://example.org/ -o "$work/closed.exe"
expect "--show with standard output closed: status 1" -- fails without_stdout --show "$built_in"
# getopt_long's forms, and what a server passes: a user's text after -- is never an option,
# and an option's value never one either.
stamps "--output=, --name=, --icon=" "$built_in" "$work/long.exe" "--output=$work/long.exe" --name=Tarvo \
  "--icon=$source_dir/res/tarvo.ico" "$placeholder" https://example.org/built-in
stamps "-oFILE and --" "$built_in" "$work/joined.exe" "-o$work/joined.exe" -- "$placeholder" https://example.org/built-in
streams() { "$tool" "$@" > "$work/streamed.exe"; }
expect "-o -: status 0" -- streams "$placeholder" https://example.org/built-in -o -
expect "-o - equals the file" -- same "$work/streamed.exe" "$built_in"
for form in "--name --help" "--name=--help"; do
  rm -f "$work/named.exe"
  expect "$form: status 0" -- "$tool" -o "$work/named.exe" $form -- "$placeholder" https://example.org/
  expect "$form: a launcher named --help" -- shows "$work/named.exe" "name: --help"
done
refused_silently() {  # refused_silently ARGUMENT...: status 1 and nothing on standard output
  local status
  "$tool" "$@" >"$work/refused-stdout" 2>/dev/null; status=$?
  [ $status -eq 1 ] && [ ! -s "$work/refused-stdout" ] || saw "status $status, $(wc -c < "$work/refused-stdout") bytes out"
}
expect "-o - on a refusal: status 1, nothing out" -- refused_silently --tag -o - -- "$placeholder" mia
onto_terminal() {
  local message; message=$(script -qec "'$tool' '$placeholder' https://example.org/ -o -" /dev/null)
  [[ $message == *"standard output is a terminal"* ]] || saw "$message"
}
expect "-o - onto a terminal" -- onto_terminal
# A path that is not a regular file is never replaced or written through.
mkfifo "$work/out-fifo"; mkdir "$work/out-folder"; printf 'keep me' > "$work/kept"; ln -s kept "$work/out-link"
targets=("$work/out-fifo" "$work/out-folder" "$work/out-link")
[ "$(id -u)" = 0 ] && mknod "$work/out-null" c 1 3 && targets+=("$work/out-null")
left_alone() {  # left_alone TARGET: -o TARGET refused with status 1, TARGET and what it names as they were
  local before message status
  before=$(stat -c '%F %i' "$1")
  message=$(timeout 10 "$tool" "$placeholder" https://example.org/ -o "$1" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"not a regular file"* ]] && [ "$(stat -c '%F %i' "$1")" = "$before" ] &&
    [ "$(cat "$work/kept")" = "keep me" ] || saw "status $status: $message"
}
for target in "${targets[@]}"; do
  expect "-o $(basename "$target")" -- left_alone "$target"
done
long_name=$work/$(printf 'n%.0s' $(seq 246)).exe  # 250 bytes: legal, though the usual temporary name is not
stamps "a 250-byte output name" "$built_in" "$long_name" "$placeholder" https://example.org/built-in -o "$long_name"
longest_name=$work/$(printf 'n%.0s' $(seq 251)).exe  # 255 bytes, the longest a file name may be
stamps "a 255-byte output name" "$built_in" "$longest_name" "$placeholder" https://example.org/built-in -o "$longest_name"
expect "a 256-byte output name" -- says 1 "File name too long" "$placeholder" https://example.org/built-in -o "${longest_name}x"
cp "$placeholder" "$work/input.exe"
chmod 0751 "$work/input.exe"
ln -s input.exe "$work/input-link.exe"
expect "stamps a launcher of mode 751" -- "$tool" "$work/input.exe" https://example.org/built-in -o "$work/moded.exe"
expect "the input's mode bits" -- [ "$(stat -c %a "$work/moded.exe")" = 751 ]
for output in "$work/input.exe" "$work/input-link.exe" "$work/../$(basename "$work")/input.exe"; do
  expect "-o $output: refused" -- says 1 "names the input" "$work/input.exe" https://example.org/x -o "$output"
  expect "-o $output: the input unchanged" -- same "$work/input.exe" "$placeholder"
done

file_hash() { [ -f "$1" ] && sha256sum < "$1"; }
refused() {  # refused EXPECTED-MESSAGE INPUT ADDRESS OUTPUT [OPTION...]: status 1, the reason, nothing written, INPUT unchanged
  local before message status
  before=$(file_hash "$2")
  message=$("$tool" "$2" "$3" -o "$4" "${@:5}" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $message == *"$1"* ]] || { saw "status $status: $message"; return; }
  ! compgen -G "$4*" || { saw "wrote $4"; return; }
  [ "$(file_hash "$2")" = "$before" ] || saw "changed its input"
}
printf 'not an executable' > "$work/text.exe"
expect "181 bytes" -- refused "at most 180" "$placeholder" "https://$(printf 'a%.0s' $(seq 173))" "$work/out.exe"
expect "http" -- refused '"https://"' "$placeholder" http://example.org/ "$work/out.exe"
expect "blank" -- refused "percent-encode" "$placeholder" "https://example.org/a b" "$work/out.exe"
expect "double quote" -- refused "%22" "$placeholder" 'https://example.org/a"b' "$work/out.exe"
expect "control character" -- refused "percent-encode" "$placeholder" $'https://example.org/\t' "$work/out.exe"
expect "non-ASCII" -- refused "percent-encode" "$placeholder" $'https://example.org/\xc3\xa9' "$work/out.exe"
expect "no host" -- refused "no host that a browser can open" "$placeholder" 'https://?x' "$work/out.exe"
expect "not PE" -- refused "not a PE32+" "$work/text.exe" https://example.org/ "$work/out.exe"
expect "no slot" -- refused "no address slot" "$windows_build/tests/e2e/fake_browser.exe" https://example.org/ "$work/out.exe"
expect "missing input" -- refused "missing.exe: No such file or directory" "$work/missing.exe" https://example.org/ "$work/out.exe"
expect "unwritable output" -- refused "out.exe: No such file or directory" "$placeholder" https://example.org/ "$work/no/such/folder/out.exe"
expect "endless input" -- refused "/dev/zero: not a regular file" /dev/zero https://example.org/ "$work/out.exe"
expect "endless icon" -- refused "/dev/zero: not a regular file" "$placeholder" https://example.org/ "$work/out.exe" --icon /dev/zero
# The input cap, at its edge: 4 MiB is read (and then judged as a launcher), a byte more is not.
head -c $((4 << 20)) /dev/zero > "$work/4mib.exe"
head -c $(((4 << 20) + 1)) /dev/zero > "$work/4mib-and-1.exe"
expect "an input of exactly 4 MiB is read" -- refused "not a PE32+" "$work/4mib.exe" https://example.org/ "$work/out.exe"
expect "an input a byte over 4 MiB" -- refused "larger than 4 MiB" "$work/4mib-and-1.exe" https://example.org/ "$work/out.exe"
expect "--show /dev/zero" -- says 1 "not a regular file" --show /dev/zero
mkfifo "$work/fifo"
not_waited_on() {  # not_waited_on ARGUMENT...: a FIFO nobody writes to is refused, not waited on
  local message status
  message=$(timeout 10 "$tool" "$@" 2>&1); status=$?
  [ $status -ne 0 ] && [ $status -ne 124 ] && [[ $message == *"not a regular file"* ]] || saw "status $status: $message"
}
expect "FIFO as input" -- not_waited_on "$work/fifo" https://example.org/ -o "$work/out.exe"
expect "FIFO as icon" -- not_waited_on "$placeholder" https://example.org/ -o "$work/out.exe" --icon "$work/fifo"

# The temporary file is the tool's own: a link or a folder at the old fixed name stays as it
# was, and eight stamps at once onto one output always leave one whole launcher.
printf 'keep me' > "$work/victim"
ln -s "$work/victim" "$work/linked.exe.partial"
mkdir "$work/folder.exe.partial"
stamps "a link at the temporary name" "$built_in" "$work/linked.exe" "$placeholder" https://example.org/built-in -o "$work/linked.exe"
link_kept() { [ "$(cat "$work/victim")" = "keep me" ] && [ -L "$work/linked.exe.partial" ] && [ ! -L "$work/linked.exe" ]; }
expect "a link at the temporary name stays, and what it names" -- link_kept
stamps "a folder at the temporary name" "$built_in" "$work/folder.exe" "$placeholder" https://example.org/built-in -o "$work/folder.exe"
expect "a folder at the temporary name stays" -- [ -d "$work/folder.exe.partial" ]
for n in 1 2 3 4 5 6 7 8; do
  expect "stamps https://example.org/$n" -- "$tool" "$placeholder" "https://example.org/$n" -o "$work/each-$n.exe"
done
stamp_at_once() {  # fifty rounds of eight stamps onto one output: each succeeds, one whole launcher is left
  local round n pid pids whole
  for round in $(seq 50); do
    pids=()
    for n in 1 2 3 4 5 6 7 8; do "$tool" "$placeholder" "https://example.org/$n" -o "$work/shared.exe" & pids+=($!); done
    for pid in "${pids[@]}"; do wait "$pid" || { saw "round $round: one failed"; return; }; done
    whole=0
    for n in 1 2 3 4 5 6 7 8; do cmp -s "$work/shared.exe" "$work/each-$n.exe" && whole=1; done
    [ $whole -eq 1 ] || { saw "round $round: a torn output"; return; }
  done
}
expect "eight stamps at once" -- stamp_at_once
expect "no temporary file left" -- fails compgen -G "$work/*.partial-*"
# A signal while the output is written: the temporary file goes, the tool dies by the signal,
# and the output is the old one, or the new one whole when the signal came at the rename.
stopped() {  # stopped FUNCTION SIGNAL EXPECTED: stopped at FUNCTION, no temporary file left, the output EXPECTED's bytes
  local status number; number=$(kill -l "$2")
  cp "$work/old-output" "$work/stopped.exe"
  LD_PRELOAD=$stop_at TARVO_STOP_AT=$1 TARVO_STOP_SIGNAL=$number "$tool" "$placeholder" https://example.org/built-in \
    -o "$work/stopped.exe"
  status=$?
  [ $status -eq $((128 + number)) ] || { saw "status $status"; return; }
  ! compgen -G "$work/stopped.exe.partial-*" || { saw "a temporary file left"; return; }
  cmp -s "$work/stopped.exe" "$3" || saw "the output is neither as it was nor the new one, whole"
}
printf 'the old output' > "$work/old-output"
expect "SIGTERM while writing" -- stopped write TERM "$work/old-output"
expect "SIGINT before the rename" -- stopped fchmod INT "$work/old-output"
expect "SIGPIPE while writing" -- stopped write PIPE "$work/old-output"
expect "SIGHUP at the rename" -- stopped rename HUP "$built_in"
ignored_then_written() {  # a signal the caller ignores (nohup) stays ignored: the output is written whole
  (trap '' HUP; LD_PRELOAD=$stop_at TARVO_STOP_AT=write TARVO_STOP_SIGNAL=1 "$tool" "$placeholder" \
    https://example.org/built-in -o "$work/ignored.exe") && cmp -s "$work/ignored.exe" "$built_in" || saw "not written whole"
}
expect "SIGHUP ignored by the caller while writing" -- ignored_then_written

# Branding: a launcher stamped with an icon and a name equals one configured with them, for
# two icons of different sizes, and a branded launcher stamped again equals the other.
python3 "$source_dir/tests/make_icons.py" "$work/icons"
name='Café ✓ "Desk" \ 😀'
for icon in a b; do
  expect "configured with desk-$icon.ico" -- configured "$work/configured-$icon.exe" \
    "-DTARVO_ADDRESS=https://example.org/$icon" "-DTARVO_ICON=$work/icons/desk-$icon.ico" "-DTARVO_NAME=$name $icon"
  stamps "branded with desk-$icon.ico = configured" "$work/configured-$icon.exe" "$work/branded-$icon.exe" \
    "$placeholder" "https://example.org/$icon" -o "$work/branded-$icon.exe" --icon "$work/icons/desk-$icon.ico" --name "$name $icon"
  expect "resources of the launcher branded with desk-$icon.ico" -- quietly python3 "$source_dir/tests/check_resources.py" \
    "$work/branded-$icon.exe" --icon "$work/icons/desk-$icon.ico" --name "$name $icon"
done
stamps "branded again, with the smaller icon" "$work/configured-b.exe" "$work/rebranded.exe" \
  "$work/branded-a.exe" https://example.org/b -o "$work/rebranded.exe" --name "$name b" --icon "$work/icons/desk-b.ico"
stamps "no branding options keep the resources" "$work/configured-a.exe" "$work/plain.exe" \
  "$work/branded-a.exe" https://example.org/a -o "$work/plain.exe"
for bad in bad-header:"bad header" outside:"lies outside the file" wrong-size:"but its entry says" too-large:"larger than 1 MiB" \
    aliased:"overlap each other"; do
  expect "icon ${bad%%:*}" -- refused "${bad#*:}" "$placeholder" https://example.org/ "$work/out.exe" --icon "$work/icons/${bad%%:*}.ico"
done
expect "empty name" -- refused "1 to 64" "$placeholder" https://example.org/ "$work/out.exe" --name ""
expect "64-character name" -- "$tool" "$placeholder" https://example.org/ -o "$work/name64.exe" --name "$(printf 'n%.0s' $(seq 64))"
expect "65-character name" -- refused "65 characters" "$placeholder" https://example.org/ "$work/out.exe" --name "$(printf 'n%.0s' $(seq 65))"
expect "control character in the name" -- refused "control character" "$placeholder" https://example.org/ "$work/out.exe" --name $'a\tb'
expect "name not UTF-8" -- refused "not UTF-8" "$placeholder" https://example.org/ "$work/out.exe" --name $'a\xe9b'
python3 - "$placeholder" "$work/moved.exe" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(b".reloc\0\0", b".zzzzz\0\0", 1))
PY
expect "resources not last but for .reloc" -- refused "not the last section" "$work/moved.exe" https://example.org/ "$work/out.exe" --name Desk
shows_what_it_can() {  # --show of moved.exe, whose resources cannot be read: every other line, status 1, and why
  local shown status
  shown=$("$tool" --show "$work/moved.exe" 2>&1); status=$?
  [ $status -eq 1 ] && grep -qx "address: https://tarvo.invalid/" <<<"$shown" && grep -qx "name: unreadable" <<<"$shown" &&
    grep -q "^taggable: no, it is unsigned" <<<"$shown" && grep -q "resources could not be read: .*not the last section" <<<"$shown" ||
    saw "status $status: $shown"
}
expect "--show prints what it can read" -- shows_what_it_can
# A version block crafted to put a line break and an escape sequence in the name.
"$tool" "$placeholder" https://example.org/ -o "$work/forged.exe" --name 'deskZopens: evil/Q[2J'
python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); u = lambda t: t.encode("utf-16-le")
open(sys.argv[1], "wb").write(d.replace(u("Zopens"), u("\nopens")).replace(u("/Q["), u("/\x1b[")))' "$work/forged.exe"
expect "--show escapes a forged name" -- shows "$work/forged.exe" 'name: desk\nopens: evil/\x1b[2J'

# Signing, with a throwaway code-signing certificate made here and removed with $work.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Tarvo test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -passout pass:test -out "$work/signer.p12"
sign() {  # sign IN OUT KEY-OPTION...: a fixed time and no timestamp, so the bytes repeat
  osslsigncode sign "${@:3}" -n Tarvo -h sha256 -time 1767225600 -in "$1" -out "$2" >/dev/null
}
signature_present="signature: present (not checked here: osslsigncode verify checks it)"
expect "signs the placeholder" -- sign "$placeholder" "$work/signed.exe" -pkcs12 "$work/signer.p12" -pass test
expect "--show of a signed launcher" -- shows "$work/signed.exe" "$signature_present"
python3 - "$work/signed.exe" "$work/tampered.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[data.index(b"https://tarvo.invalid/") + 8] ^= 1
open(sys.argv[2], "wb").write(data)
PY
expect "a tampered launcher fails verify" -- fails osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe"
expect "--show never vouches for a tampered signature" -- shows "$work/tampered.exe" "$signature_present"
expect "signed input" -- refused "--strip-signature" "$work/signed.exe" https://example.org/built-in "$work/out.exe"
stamps "stripped and stamped = stamped unsigned" "$built_in" "$work/d.exe" \
  "$work/signed.exe" https://example.org/built-in -o "$work/d.exe" --strip-signature
cat "$work/signed.exe" "$work/text.exe" > "$work/appended.exe"
expect "bytes after the signature" -- refused "certificate table does not lie" "$work/appended.exe" https://example.org/ "$work/out.exe" --strip-signature
expect "signs the stamped launcher" -- sign "$work/a.exe" "$work/a-signed.exe" -certs "$work/cert.pem" -key "$work/key.pem"
expect "stamped, then signed: verify" -- verifies "$work/a-signed.exe"
expect "signs it again from PKCS#12" -- sign "$work/a.exe" "$work/a-signed-again.exe" -pkcs12 "$work/signer.p12" -pass test
expect "a fixed -time signs reproducibly" -- same "$work/a-signed.exe" "$work/a-signed-again.exe"

# Sign once, tag per download: the release is signed with the tag certificate added; each
# tagged copy keeps its size, its digest, its timestamp, and verifies.
expect "writes the tag certificate" -- "$tool" --tag-certificate "$work/tag.crt"
expect "writes it again" -- "$tool" --tag-certificate "$work/tag-again.crt"
expect "the tag certificate is the same every time" -- same "$work/tag.crt" "$work/tag-again.crt"
expect "the tag certificate is an X.509 certificate" -- quietly openssl x509 -in "$work/tag.crt" -noout
expect "stamps the release" -- "$tool" "$placeholder" https://desk.example.org/ -o "$work/release.exe"
expect "signs the release with -ac" -- sign "$work/release.exe" "$work/release-signed.exe" -certs "$work/cert.pem" \
  -key "$work/key.pem" -ac "$work/tag.crt"
expect "tagging an unsigned release" -- says 1 unsigned --tag "$work/release.exe" mia -o "$work/out.exe"
expect "tagging an unsigned release writes nothing" -- [ ! -e "$work/out.exe" ]
digest() { osslsigncode verify -CAfile "$work/cert.pem" "${@:2}" -in "$1" 2>&1 | sed -n 's/^Current message digest *: //p'; }
expect "tags the release" -- "$tool" --tag "$work/release-signed.exe" mia -o "$work/mia.exe"
expect "the tagged copy verifies" -- verifies "$work/mia.exe"
expect "the tagged copy keeps the size" -- [ "$(stat -c %s "$work/mia.exe")" = "$(stat -c %s "$work/release-signed.exe")" ]
expect "the tagged copy keeps the digest" -- [ -n "$(digest "$work/mia.exe")" -a "$(digest "$work/mia.exe")" = "$(digest "$work/release-signed.exe")" ]
expect "--show of the tagged copy" -- shows "$work/mia.exe" "tag: mia" "taggable: yes" "opens: https://desk.example.org/mia"
synopsis_works() {  # each form of --help's synopsis, with files and texts for its words, works under POSIXLY_CORRECT
  local line words
  while read -r line; do
    line=${line#usage: } line=${line//\[OPTION...\] /}
    line=${line//OUT.exe/$work/synopsis.exe} line=${line//IN.exe/$placeholder} line=${line//OUT.crt/$work/synopsis.crt}
    line=${line//SIGNED.exe/$work/release-signed.exe} line=${line//ADDRESS/https://example.org/} line=${line//TAG/mia}
    read -ra words <<<"${line#tarvo-stamp }"
    POSIXLY_CORRECT=1 "$tool" "${words[@]}" >/dev/null 2>&1 || { saw "POSIXLY_CORRECT=1 tarvo-stamp ${words[*]}"; return; }
  done < <("$tool" --help | sed '/^$/q' | sed '/^$/d')
}
expect "the synopsis's forms work with POSIXLY_CORRECT" -- synopsis_works
# A server's tag, whatever it holds, is an operand after --: one shaped like an option is
# refused as a tag, and the stale output that a server might serve is neither replaced nor
# reported as written.
stale_kept() {  # stale_kept TAG: refused as a tag, the stale output left as it was
  local out status
  printf 'stale' > "$work/stale.exe"
  out=$("$tool" --tag -o "$work/stale.exe" -- "$work/release-signed.exe" "$1" 2>&1); status=$?
  [ $status -eq 1 ] && [[ $out == *"begin with an ASCII letter or digit"* ]] && [ "$(cat "$work/stale.exe")" = stale ] ||
    saw "status $status: $out"
}
for tag in -h --help --version -abc; do
  expect "tag $tag" -- stale_kept "$tag"
done
# A longer chain puts the tag certificate past the 32 KiB of the table that the launcher reads
# (certificates of a signature are sorted by their encoding, so the small ones come first).
openssl ecparam -name prime256v1 -genkey -noout -out "$work/chain-key.pem"
for n in $(seq 60); do
  openssl req -x509 -key "$work/chain-key.pem" -out - -days 2 -subj "/CN=Tarvo test chain $n" \
    -addext "nsComment=$(printf 'c%.0s' $(seq 180))" 2>/dev/null
done > "$work/chain.pem"
cat "$work/tag.crt" >> "$work/chain.pem"
expect "signs with a long chain" -- sign "$work/release.exe" "$work/release-long.exe" -certs "$work/cert.pem" \
  -key "$work/key.pem" -ac "$work/chain.pem"
expect "a tag field past 32 KiB is refused" -- says 1 "beyond the 32 KiB" --tag "$work/release-long.exe" mia -o "$work/long-mia.exe"
expect "a tag field past 32 KiB: nothing written" -- [ ! -e "$work/long-mia.exe" ]
expect "a tag field past 32 KiB: --show says the bare address" -- shows "$work/release-long.exe" "opens: https://desk.example.org/"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/tsa-key.pem" -out "$work/tsa.pem" -days 2 \
  -subj "/CN=Tarvo test TSA" -addext "extendedKeyUsage=critical,timeStamping" 2>/dev/null
expect "signs with a timestamp" -- quietly osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -ac "$work/tag.crt" -n Tarvo \
  -h sha256 -TSA-certs "$work/tsa.pem" -TSA-key "$work/tsa-key.pem" -TSA-time "$(date +%s)" \
  -in "$work/release.exe" -out "$work/release-stamped.exe"
timestamp() {  # osslsigncode verify exits 0 even when the timestamp fails: read its verdict
  osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$work/tsa.pem" -in "$1" 2>&1 |
    grep -E "^(Timestamp Server Signature verification: ok|Succeeded)$|Timestamp time"
}
expect "tags the timestamped release" -- "$tool" --tag "$work/release-stamped.exe" mia -o "$work/mia-stamped.exe"
expect "the timestamp verifies after tagging" -- [ "$(timestamp "$work/mia-stamped.exe" | wc -l)" = 3 ]
expect "the timestamp is the release's" -- [ "$(timestamp "$work/mia-stamped.exe")" = "$(timestamp "$work/release-stamped.exe")" ]

report
