#!/usr/bin/env bash
# Clicks Restart and Go in the real window 200 times, as fast as a person
# never could, then checks that the program still renders and quits with 0.
# Usage: soak.sh PROGRAM SCREENCHECK
set -euo pipefail
program=$1
screencheck=$2
. "$(dirname "$0")/xsession.sh"
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work
start_x_server

"$program" 2>"$work/stderr" &
pid=$!
win=$(wait_for_window Form1)
sleep 0.3
text_box=(155 285); go=(440 285); restart=(555 285); quit=(440 375)

for i in $(seq 200); do
  click "$win" "${text_box[@]}"
  xdotool type "$((4 + i % 20))"
  click "$win" "${go[@]}"
  click "$win" "${restart[@]}"
  win=$(wait_for_window Form1)
done
kill -0 "$pid"
echo "200 cycles done, program alive"

# Responsive: a last Go renders what the colour map says.
sleep 0.3
click "$win" "${text_box[@]}"; sleep 0.2
xdotool type 4
click "$win" "${go[@]}"
sleep 0.6
ok=no
for _ in 1 2 3 4 5; do
  shoot "$win" "$work/last.png"
  QT_QPA_PLATFORM=offscreen "$screencheck" rendered "$work/last.png" 4 && { ok=yes; break; }
  sleep 0.3
done
[ "$ok" = yes ]

click "$win" "${quit[@]}"
status=0
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
wait "$pid" || status=$?
echo "exit status $status"
if [ "$status" -ne 0 ]; then cat "$work/stderr"; exit 1; fi
rm -rf "$work"
