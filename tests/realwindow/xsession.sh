# Helpers for driving the real window under Xvfb with xdotool; sourced.
# Nothing here sleeps for a fixed time and hopes: every step waits until it
# sees the state it expects, and gives up (failing) only after a long bound.

# Starts a private X server and sets DISPLAY; stops it on exit.
start_x_server() {
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 300); do
    [ -s "$displayfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -1 "$displayfile")"
  rm -f "$displayfile"
  trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
  # The number is written before the server takes clients on a loaded
  # machine; the program starts only once the display answers.
  eventually xdpyinfo >/dev/null 2>&1
}

# eventually COMMAND...: true as soon as the command succeeds, false if it
# has not within 30 s.
eventually() {
  for _ in $(seq 300); do
    "$@" && return 0
    sleep 0.1
  done
  echo "gave up waiting for: $*" >&2
  return 1
}

visible_windows() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; }

# wait_for_window NAME [OLD_ID]: prints the id of a visible window named NAME
# other than OLD_ID (after Restart the old window may still be mapped).
wait_for_window() {
  local id
  for _ in $(seq 300); do
    id=$(visible_windows "$1" | grep -vx "${2:-none}" | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no new window named $1 appeared" >&2
  return 1
}

# wait_for_no_window NAME: true once no visible window is named NAME.
no_window() { [ -z "$(visible_windows "$1")" ]; }
wait_for_no_window() { eventually no_window "$1"; }

# click WINDOW X Y: a left click at (X, Y) in the window's coordinates. The
# click, and keys typed after it, reach the program in the order sent.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# shoot WINDOW FILE: a screenshot of the window's contents.
shoot() { import -window "$1" "$2" 2>/dev/null; }

# Control centres, in window pixels at 12 twips per pixel.
text_box=(155 285); go=(440 285); restart=(555 285); quit=(440 375)

# start_program PROGRAM: starts it in a fresh work folder ($work), with its
# standard error kept there; sets $pid and $win once the window shows the
# photograph.
start_program() {
  work=$(mktemp -d)
  export XDG_RUNTIME_DIR=$work
  start_x_server
  "$1" 2>"$work/stderr" &
  pid=$!
  win=$(wait_for_window Form1)
  shows_photograph "$work/initial.png"
}

# shows_photograph [FILE]: waits until a shot of the window (kept in FILE)
# shows the photograph in PicTo.
shot_is() { shoot "$win" "$1" && QT_QPA_PLATFORM=offscreen "$screencheck" "${@:2}" >/dev/null; }
shows_photograph() { eventually shot_is "${1:-$work/fresh.png}" fresh "${1:-$work/fresh.png}"; }

# shows_rendering A: waits until a shot of the window shows the colour map at A.
shows_rendering() { eventually shot_is "$work/rendered.png" rendered "$work/rendered.png" "$1"; }

# quit_program: clicks Quit; fails unless the program ends with status 0.
quit_program() {
  click "$win" "${quit[@]}"
  if ! eventually program_ended; then
    kill "$pid"
    return 1
  fi
  local status=0
  wait "$pid" || status=$?
  echo "exit status $status"
  if [ "$status" -ne 0 ]; then
    echo "the program's standard error:"; cat "$work/stderr"
    return 1
  fi
  rm -rf "$work"
}
program_ended() { ! kill -0 "$pid" 2>/dev/null; }
