#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Drives the built program in a real window, as a person would, and checks
# what it shows pixel by pixel.
# Usage: realwindow.sh PROGRAM SCREENCHECK SCREENSAMPLER
set -euo pipefail
program=$1
screencheck=$2
sampler=$3
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

echo "Restart, watched: what is behind the window never shows"
read -r x y < <(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{print x, $NF}')
"$sampler" "$x" "$y" >"$work/samples" &
sampler_pid=$!
restart_window
shows_photograph "$work/restarted.png"
kill -TERM "$sampler_pid"
wait "$sampler_pid"
cat "$work/samples"
grep -qx "samples showing the root colour in the window's background: 0" "$work/samples"
grep -q "^photograph shown" "$work/samples"
QT_QPA_PLATFORM=offscreen "$screencheck" same "$work/initial.png" "$work/restarted.png" 130 270 51 31

echo "Go and Restart queued together: Restart runs inside Go's event step"
restart_window
kill -STOP "$pid"
click "$win" "${text_box[@]}"
xdotool type 6
click "$win" "${go[@]}"
click "$win" "${restart[@]}"
known=$(all_windows Form1)
kill -CONT "$pid"
win=$(wait_for_window Form1 "$known")
# Go then read the fresh, empty box: its message holds the fresh window
# until it is closed, so clicks sent on without closing it would be lost.
wait_for_window inverse-logistic >/dev/null
xdotool key Return
wait_for_no_window inverse-logistic
eventually only_window_is "$win"
shows_photograph

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

echo "after Restart, focus is on the first tab stop: four Tabs reach Quit, Space presses it"
restart_window
quit_program xdotool key Tab Tab Tab Tab space
