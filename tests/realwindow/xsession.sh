# SPDX-License-Identifier: GPL-3.0-or-later
# Helpers for driving the real window under Xvfb with xdotool; sourced.
# Nothing here sleeps for a fixed time and hopes: every step waits until it
# sees the state it expects, and gives up (failing) only after a long bound.

# Starts a private X server and sets DISPLAY; stops it on exit. The display
# number is drawn at random from a wide range rather than taken as the lowest
# free one: a server of an earlier test that is still ending removes its
# socket by name, and would remove the socket of a new server on the same
# number from under the program. The server itself says when it takes
# connections (-displayfd), so no probing client has to come and go first;
# and it never resets (-noreset) when its last client leaves.
start_x_server() {
  local number ready="$work/display"
  for _ in $(seq 50); do
    number=$((100 + RANDOM % 800))
    [ -e "/tmp/.X$number-lock" ] && continue
    : >"$ready"
    Xvfb ":$number" -displayfd 3 3>"$ready" -screen 0 1024x768x24 -nolisten tcp \
      -noreset 2>"$work/xvfb.log" &
    xvfb_pid=$!
    # Until it is listening, or has ended (its number taken meanwhile).
    for _ in $(seq 300); do
      kill -0 "$xvfb_pid" 2>/dev/null && [ ! -s "$ready" ] || break
      sleep 0.1
    done
    [ -s "$ready" ] && kill -0 "$xvfb_pid" 2>/dev/null && break
  done
  export DISPLAY=":$number"
  # Only the test's own shell explains and stops the server, not a subshell.
  trap 'status=$?; if [ "$BASHPID" = "$$" ]; then explain_failure $status;
          kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi' EXIT
  [ -s "$ready" ]
}

# On a failing exit, shows what the screen held: the window list, the
# program's standard error, and a screenshot of the whole screen, kept in
# failures/ under the folder the test ran in.
explain_failure() {
  [ "$1" -eq 0 ] && return
  local keep
  keep="$PWD/failures/$(basename "$0" .sh)-$(date +%Y%m%d-%H%M%S)-$$"
  mkdir -p "$keep"
  echo "--- failed (status $1); the windows on $DISPLAY:" >&2
  xwininfo -root -tree >&2 || true
  if [ -n "${work:-}" ] && [ -f "$work/stderr" ]; then
    echo "--- the program's standard error:" >&2
    cat "$work/stderr" >&2
    cp "$work"/*.png "$work/stderr" "$keep/" 2>/dev/null || true
  fi
  if [ -n "${work:-}" ] && [ -s "$work/xvfb.log" ]; then
    echo "--- the X server's log:" >&2
    cat "$work/xvfb.log" >&2
    cp "$work/xvfb.log" "$keep/" || true
  fi
  import -window root "$keep/screen.png" 2>/dev/null || true
  echo "--- screenshot of the whole screen and the test's shots: $keep/" >&2
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
all_windows() { xdotool search --name "^$1\$" 2>/dev/null; }

# wait_for_window NAME [KNOWN]: prints the id of a visible window named NAME
# that is not in KNOWN, a list of ids (windows of that name that existed
# before; after Restart the old window stays mapped until the fresh one
# covers it).
wait_for_window() {
  local id
  for _ in $(seq 300); do
    # No match yet is no failure: the function may run where errexit holds.
    id=$(visible_windows "$1" | grep -vxF "${2:-none}" | head -1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no new window named $1 appeared; known before: ${2:-none}" >&2
  return 1
}

# restart_window: clicks Restart and sets $win to the fresh window once it
# is shown and the old one has gone. Every window of the name that ever
# existed is excluded, so an id seen before can never pass for the fresh one.
restart_window() {
  local known
  known=$(all_windows Form1)
  click "$win" "${restart[@]}"
  win=$(wait_for_window Form1 "$known")
  eventually only_window_is "$win"
}
only_window_is() { [ "$(visible_windows Form1)" = "$1" ]; }

# wait_for_no_window NAME: true once no visible window is named NAME.
no_window() { [ -z "$(visible_windows "$1")" ]; }
wait_for_no_window() { eventually no_window "$1"; }

# click WINDOW X Y: a left click at (X, Y) in the window's coordinates. The
# click, and keys typed after it, reach the program in the order sent.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# click_and_type WINDOW X Y TEXT: the click, then TEXT typed, in one run of
# xdotool (each run costs a start; type takes the rest of the line).
click_and_type() { xdotool mousemove --window "$1" "$2" "$3" click 1 type "$4"; }

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

# quit_program [COMMAND...]: clicks Quit (or runs the command given, which
# should press it); fails unless the program ends with status 0.
quit_program() {
  if [ $# -gt 0 ]; then "$@"; else click "$win" "${quit[@]}"; fi
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
