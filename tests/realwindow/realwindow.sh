#!/usr/bin/env bash
# Drives the built program in a real window, as a person would, and checks
# what it shows pixel by pixel.  Usage: realwindow.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
check() { QT_QPA_PLATFORM=offscreen "$screencheck" "$@"; }
start_program "$program"

echo "initial window"
shoot "$win" "$work/initial.png"
check fresh "$work/initial.png"

echo "type 3, Go"
click "$win" "${text_box[@]}"; sleep 0.2
xdotool type 3
click "$win" "${go[@]}"; sleep 1
shows_rendering "$screencheck" 4

echo "Restart"
# The loop goes on and covers the fresh photograph within 250 ms, so the
# shot is taken straight after the click, and the click repeated if it missed.
fresh=no
for _ in $(seq 10); do
  click "$win" "${restart[@]}"
  win=$(wait_for_window Form1)
  shoot "$win" "$work/restarted.png"
  if check fresh "$work/restarted.png"; then
    fresh=yes; break
  fi
done
[ "$fresh" = yes ]
check same "$work/initial.png" "$work/restarted.png" 130 270 51 31

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
quit_program
