# Sourced by scripts/run.sh and scripts/screenshots.sh: a virtual display of their own, and
# pictures of a window taken once it has been drawn.

# start_display WIDTHxHEIGHT FOLDER: Xvfb on a display that it picks and names itself, so that
# no other server's display is ever taken; exports DISPLAY, and $xvfb is its process. 1, with
# no Xvfb left running, if it named none.
start_display() {
  local number
  rm -f "$2/display" && mkfifo "$2/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$2/display" >/dev/null 2>&1 &
  xvfb=$!
  read -r -t 10 number <"$2/display" || { kill "$xvfb" 2>/dev/null; return 1; }
  export DISPLAY=:$number
}

# photograph WINDOW FILE [BEFORE]: the window's picture once it is drawn: the same twice in a
# row, text in it (a bare window has a colour or two), and unlike the picture BEFORE, when one
# is named (a change asked for has been drawn). Polls for up to 20 s; 1 if it never settled.
photograph() {
  local previous="" current before=""
  [ -z "${3:-}" ] || before=$(identify -format '%# %k' "$3")
  for _ in $(seq 100); do
    import -window "$1" "$2.tmp.png" 2>/dev/null || true
    current=$(identify -format '%# %k' "$2.tmp.png" 2>/dev/null || true)
    if [ -n "$current" ] && [ "$current" = "$previous" ] && [ "${current#* }" -gt 8 ] && [ "$current" != "$before" ]; then
      mv "$2.tmp.png" "$2"
      return 0
    fi
    previous=$current
    sleep 0.2
  done
  rm -f "$2.tmp.png"
  return 1
}
