# Helpers for driving the real window under Xvfb with xdotool; sourced.
# Starts a private X server and sets DISPLAY; stops it on exit.
start_x_server() {
  local displayfile
  displayfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -s "$displayfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -1 "$displayfile")"
  rm -f "$displayfile"
  trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
}

# wait_for_window NAME: prints the id of the first window whose name is NAME.
wait_for_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window named $1 appeared" >&2
  return 1
}

# click WINDOW X Y: a left click at (X, Y) in the window's coordinates.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# shoot WINDOW FILE: a screenshot of the window's contents.
shoot() { import -window "$1" "$2"; }

# Control centres, in window pixels at 12 twips per pixel.
text_box=(155 285); go=(440 285); restart=(555 285); quit=(440 375)

# start_program PROGRAM: starts it in a fresh work folder ($work), with its
# standard error kept there; sets $pid and $win.
start_program() {
  work=$(mktemp -d)
  export XDG_RUNTIME_DIR=$work
  start_x_server
  "$1" 2>"$work/stderr" &
  pid=$!
  win=$(wait_for_window Form1)
  sleep 0.3
}

# shows_rendering SCREENCHECK A: true once a shot of the window shows the
# colour map at A (tried a few times, as a pass may be on its way to the screen).
shows_rendering() {
  for _ in 1 2 3 4 5; do
    shoot "$win" "$work/rendered.png"
    QT_QPA_PLATFORM=offscreen "$1" rendered "$work/rendered.png" "$2" && return 0
    sleep 0.3
  done
  return 1
}

# quit_program: clicks Quit; fails unless the program ends within 2 s with status 0.
quit_program() {
  click "$win" "${quit[@]}"
  for _ in $(seq 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "still running 2 s after Quit" >&2
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
