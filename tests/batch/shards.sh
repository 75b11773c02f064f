#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A batch split into shards under GNU parallel, given as a reversed file list,
# or interrupted and resumed, renders every image exactly as one whole run.
# Usage: shards.sh RENDER_PROGRAM
set -euo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Twelve small pictures in two folders, each with its own base name.
mkdir -p in/a in/b
for i in $(seq 12); do
  folder=in/$([ $((i % 2)) = 0 ] && echo a || echo b)
  "$render" -q -a $((4 + i)) -b upper -o "$folder/picture$i.png"
done
find in -name '*.png' | sort > list.txt
[ "$(wc -l < list.txt)" = 12 ]

batch() { "$render" -q --seed 20261208 "$@"; }
batch -d whole $(cat list.txt)

echo "4 shards under GNU parallel"
parallel --halt now,fail=1 "$render" -q --seed 20261208 --shard {}/4 -d shards --files-from list.txt ::: 1 2 3 4
diff -r whole shards

echo "a reversed list, NUL-separated, from standard input"
tac list.txt | tr '\n' '\0' | batch -d reversed --files-from - --null
diff -r whole reversed

echo "interrupted, then resumed with --skip-existing"
cp -a whole resumed
rm resumed/picture3.png resumed/picture8.png resumed/picture11.png
touch -d '2001-01-01 00:00' resumed/*.png
before=$(stat -c '%n %Y' resumed/*.png)
batch -d resumed --skip-existing --files-from list.txt
diff -r whole resumed
for kept in $(echo "$before" | cut -d' ' -f1); do
  grep -qx "$kept $(stat -c %Y "$kept")" <<<"$before"
done
echo "outputs found were left untouched"

echo "a collision stops the whole run and every shard alike"
cp in/a/picture2.png in/b/picture2.png
{ cat list.txt; echo in/b/picture2.png; } > colliding.txt
for run in "" "--shard 1/4" "--shard 2/4" "--shard 3/4" "--shard 4/4"; do
  status=0
  # shellcheck disable=SC2086
  batch -d collided $run --files-from colliding.txt 2>/dev/null || status=$?
  [ "$status" = 1 ] && [ ! -e collided ]
done

echo "shards cover every input exactly once"
for k in 1 2 3 4; do
  batch -d "count$k" --shard "$k/4" --files-from list.txt
done
[ "$(ls count1 count2 count3 count4 | grep -c png)" = 12 ]
[ "$(ls count1 count2 count3 count4 | grep png | sort -u | wc -l)" = 12 ]
echo "all agree"
