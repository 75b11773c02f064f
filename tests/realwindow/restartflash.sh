#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures what the screen shows while Restart is clicked during a render
# loop: starts the program, presses Go, then clicks Restart CLICKS times at
# RATE a second while screensampler watches the window's area.
# Usage: restartflash.sh PROGRAM SCREENCHECK SCREENSAMPLER [RATE] [CLICKS]
set -euo pipefail
program=$1
screencheck=$2
sampler=$3
rate=${4:-8}
clicks=${5:-40}
# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
start_program "$program"
click "$win" "${text_box[@]}"
xdotool type 4
click "$win" "${go[@]}"
shows_rendering 4
read -r x y < <(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{print x, $NF}')
"$sampler" "$x" "$y" &
sampler_pid=$!
xdotool mousemove "$((x + restart[0]))" "$((y + restart[1]))" \
  click --repeat "$clicks" --delay "$((1000 / rate))" 1
# Sampled until the loop's first pass after the last Restart shows.
win=$(visible_windows Form1 | tail -1)
shows_rendering 4
kill -TERM "$sampler_pid"
wait "$sampler_pid"
quit_program
