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
