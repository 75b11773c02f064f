#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Clicks Go and Restart in the real window, cycle after cycle, then checks
# that the program still renders and quits with 0. Every cycle sees Go's
# parameter rendered before it clicks Restart, and the fresh window alone on
# screen after it: a Restart clicked before Go's event step would run inside
# it, and Go's message about the fresh, empty box would then hold the window
# (a case realwindow.sh checks on its own). Widget and timer counts over many
# more cycles are tst_soak's; this one runs through the window system.
# Usage: soak.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
cycles=100
# shellcheck source=xsession.sh
. "$(dirname "$0")/xsession.sh"
start_program "$program"

for i in $(seq "$cycles"); do
  a=$((4 + i % 20))
  click_and_type "$win" "${text_box[@]}" "$a"
  click "$win" "${go[@]}"
  shows_rendering "$a"
  restart_window
done
kill -0 "$pid"
echo "$cycles cycles done, program alive"

# Responsive: a last Go renders what the colour map says, with a parameter
# no earlier Go used, so that only this Go's loop can draw it.
click_and_type "$win" "${text_box[@]}" 50
click "$win" "${go[@]}"
shows_rendering 50
quit_program
