#!/usr/bin/env bash
# Drives the built program in a real window, as a person would, and checks
# what it shows pixel by pixel.  Usage: realwindow.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
here=$(dirname "$0")
# shellcheck source=xsession.sh
. "$here/xsession.sh"
shots=$(mktemp -d)
export XDG_RUNTIME_DIR=$shots
start_x_server

"$program" 2>"$shots/stderr" &
pid=$!
win=$(wait_for_window Form1)
sleep 0.5

# Control centres, in window pixels at 12 twips per pixel.
text_box=(155 285); go=(440 285); restart=(555 285); quit=(440 375)

echo "initial window"
shoot "$win" "$shots/initial.png"
QT_QPA_PLATFORM=offscreen "$screencheck" fresh "$shots/initial.png"

echo "type 3, Go"
click "$win" "${text_box[@]}"; sleep 0.2
xdotool type 3
click "$win" "${go[@]}"; sleep 0.2
sleep 1
rendered=no
for _ in 1 2 3; do
  shoot "$win" "$shots/rendered.png"
  if QT_QPA_PLATFORM=offscreen "$screencheck" rendered "$shots/rendered.png" 4; then
    rendered=yes; break
  fi
  sleep 0.3
done
[ "$rendered" = yes ]

echo "Restart"
# The loop goes on and covers the fresh photograph within 250 ms, so the
# shot is taken straight after the click, and the click repeated if it missed.
fresh=no
for _ in $(seq 10); do
  click "$win" "${restart[@]}"
  win=$(wait_for_window Form1)
  shoot "$win" "$shots/restarted.png"
  if QT_QPA_PLATFORM=offscreen "$screencheck" fresh "$shots/restarted.png"; then
    fresh=yes; break
  fi
done
[ "$fresh" = yes ]
QT_QPA_PLATFORM=offscreen "$screencheck" same "$shots/initial.png" "$shots/restarted.png" 130 270 51 31

echo "type abc, Go"
click "$win" "${text_box[@]}"; sleep 0.2
xdotool type abc
click "$win" "${go[@]}"; sleep 0.2
wait_for_window inverse-logistic >/dev/null
kill -0 "$pid"
echo "message shown, program alive"
xdotool key Return
sleep 0.3
kill -0 "$pid"

echo "Quit"
click "$win" "${quit[@]}"
for _ in $(seq 20); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "still running 2 s after Quit" >&2
  kill "$pid"
  exit 1
fi
status=0
wait "$pid" || status=$?
echo "exit status $status"
if [ "$status" -ne 0 ]; then
  echo "the program's standard error:"; cat "$shots/stderr"
  exit 1
fi
rm -rf "$shots"
