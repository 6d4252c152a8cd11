# The shell runners' one assertion, sourced by each: expect NAME -- COMMAND [ARGUMENT...]
# counts a row and fails it unless COMMAND succeeds. COMMAND is the whole condition (a
# function of the runner when it has several parts), so nothing can be chained after it:
# a runner holding a row such as `expect NAME -- A && B` refuses to start, and so does one
# whose row sends expect's own output elsewhere (`expect NAME -- A >/dev/null`, `| grep`), FAIL
# included, or loses its verdict to the last command of a pipe.
failures=0 checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() {
  [ $# -ge 3 ] && [ "$2" = -- ] || { echo "expect $1: not in the form expect NAME -- COMMAND..." >&2; exit 2; }
  checks=$((checks + 1))
  seen=
  "${@:3}" || fail "$1${seen:+ (saw: $seen)}"
}
# A condition's failure with what it saw, for the FAIL line to say why.
saw() { seen=$*; return 1; }
report() { echo "$((checks - failures)) passed, $failures failed"; [ "$failures" -eq 0 ]; }

# Continuation lines joined, quoted text dropped: what is left of an expect line may not
# chain, pipe or redirect.
if sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$0" | sed -E "s/\"([^\"\\\\]|\\\\.)*\"//g; s/'[^']*'//g" |
    grep -nE '^\s*expect .*(&&|\||>)'; then
  echo "$0: a row above chains, pipes or redirects expect; put the whole condition in a function" >&2
  exit 2
fi
