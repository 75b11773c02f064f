#!/usr/bin/env bash
# Clicks Go and Restart in the real window 200 times, then checks that the
# program still renders and quits with 0. Each Restart follows the rendering
# its Go started: a Restart clicked before Go's event step would run inside
# it, and Go's message about the fresh, empty box would then hold the window
# (a case realwindow.sh checks on its own).
# Usage: soak.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
start_program "$program"

for i in $(seq 200); do
  click "$win" "${text_box[@]}"
  xdotool type "$((4 + i % 20))"
  click "$win" "${go[@]}"
  shows_rendering "$((4 + i % 20))"
  restart_window
done
kill -0 "$pid"
echo "200 cycles done, program alive"

# Responsive: a last Go renders what the colour map says, with a parameter
# no earlier Go used, so that only this Go's loop can draw it.
click "$win" "${text_box[@]}"
xdotool type 50
click "$win" "${go[@]}"
shows_rendering 50
quit_program
