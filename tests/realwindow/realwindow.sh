#!/usr/bin/env bash
# Drives the built program in a real window, as a person would, and checks
# what it shows pixel by pixel.  Usage: realwindow.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
# Passes ten minutes apart: after Go's first pass, what the window shows
# stays until this test has looked at it.
export INVERSE_LOGISTIC_TEST_PASS_INTERVAL_MS=600000
start_program "$program"
echo "initial window shows the photograph"

echo "type 3, Go"
click "$win" "${text_box[@]}"
xdotool type 3
click "$win" "${go[@]}"
# Only the typed 3, clamped to 4, renders this; a lost keystroke would give a message instead.
shows_rendering 4

echo "Restart"
old=$win
click "$win" "${restart[@]}"
win=$(wait_for_window Form1 "$old")
shows_photograph "$work/restarted.png"
QT_QPA_PLATFORM=offscreen "$screencheck" same "$work/initial.png" "$work/restarted.png" 130 270 51 31

echo "type abc, Go"
click "$win" "${text_box[@]}"
xdotool type abc
click "$win" "${go[@]}"
wait_for_window inverse-logistic >/dev/null
kill -0 "$pid"
echo "message shown, program alive"
xdotool key Return
wait_for_no_window inverse-logistic
kill -0 "$pid"
echo "message closed, program alive"

echo "Quit"
quit_program
