#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Many damaged files of different kinds rendered on four threads: each file's
# one line gives that file's own reason, exactly as a run on one thread does,
# however the failures interleave.
# Usage: failures.sh RENDER_PROGRAM
set -euo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Each format cut at six places, and its start followed by noise at three.
n=0
for suffix in jpg png webp tif gif; do
  "$render" -q -a 5 -o "good.$suffix"
  size=$(stat -c %s "good.$suffix")
  for part in 2 3 4 5 6 7; do
    n=$((n + 1)); head -c $((size * (part - 1) / part)) "good.$suffix" > "d$n.$suffix"
  done
  for noise in 100 200 400; do
    n=$((n + 1)); { head -c $noise "good.$suffix"; head -c 5000 /dev/zero | tr '\0' 'x'; } > "d$n.$suffix"
  done
done

status=0
"$render" -q -j 1 -d one d* 2> one.txt || status=$?
# Each file fails with a line or renders whole (a lossy WebP's decoder takes
# noise for picture data).
[ "$status" = 1 ] && [ $(($(wc -l < one.txt) + $(ls one | wc -l))) = "$n" ] \
  && [ "$(wc -l < one.txt)" -ge $((n - 3)) ] || { cat one.txt; exit 1; }
for run in 1 2 3 4 5; do
  rm -rf four && "$render" -q -j 4 -d four d* 2> four.txt || true
  if ! diff <(sort one.txt) <(sort four.txt); then
    echo "run $run on four threads gave other reasons than one thread"
    exit 1
  fi
done
echo "$n damaged files: every reason on four threads equals its one-thread reason"
