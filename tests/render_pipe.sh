#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The renderer between two video tools: 50 frames piped in as a Netpbm stream
# come out as 50 frames; and a reader that goes away is a write error (status 1,
# one line naming standard output), not a silent success or a signal.
# Usage: render_pipe.sh RENDER_PROGRAM
set -uo pipefail
render=$1
fail() { echo "render_pipe: $*" >&2; exit 1; }

frames=$(ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 50 \
           -f image2pipe -c:v ppm - \
         | "$render" -q -a 4.5 -o - - \
         | ffmpeg -nostdin -v error -f image2pipe -c:v ppm -i - -f framecrc - | grep -c '^0,')
[ "$frames" = 50 ] || fail "50 frames in, $frames out"

err=$(mktemp)
trap 'rm -f "$err"' EXIT
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=640x480:rate=25 -frames:v 50 \
    -f image2pipe -c:v ppm - \
  | "$render" -q -o - - 2>"$err" | head -c 1000 >/dev/null
status=${PIPESTATUS[1]}
[ "$status" = 1 ] || fail "a closed pipe gave status $status, not 1"
[ "$(wc -l < "$err")" = 1 ] && grep -q 'cannot write standard output' "$err" \
  || fail "a closed pipe gave: $(cat "$err")"
echo "render_pipe: ok"
