#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A batch nothing can stall, fool or outgrow: a low limit on open files
# means fewer workers, never a failed file or a spin; a FIFO that never
# opens fails alone within the time limit; a link planted in the output
# folder is left alone; names with newlines and escapes stay on one line;
# debris of killed runs goes; the run's jobs share one memory budget.
# Usage: stalls.sh RENDER_PROGRAM STUCK_DECODER_LIBRARY
source "$(dirname "$0")/workfolder.sh"
stuck=$2
outputs() { find "$1" -type f | wc -l; }

"$render" -q -a 5 -o p.png && vips resize p.png tiny.png 0.05 || fail "cannot make the test pictures"
mkdir in && for i in $(seq 80); do cp tiny.png "in/t$i.png"; done

echo "80 files under a limit of 64 open files"
for jobs in 80 40; do
  rm -rf out
  (ulimit -n 64 && exec timeout 120 "$render" -q -j $jobs -d out in/*.png) 2>err.txt
  status=$?
  [ "$status" = 0 ] && [ "$(outputs out)" = 80 ] \
    || fail "-j $jobs under 64 open files: status $status, $(outputs out) outputs: $(head -3 err.txt)"
done
rm -rf out
# A FIFO no one writes holds the run until it is stopped.
mkfifo in/zz-held.png
(ulimit -n 64 && exec "$render" -q -j 80 -f png -d out in/*.png) 2>err.txt &
program=$!
until [ -n "$(jobProcesses $program)" ]; do kill -0 $program || fail "the run ended: $(cat err.txt)"; done
kill -TERM $program
wait $program
status=$?
rm in/zz-held.png
[ "$status" = 143 ] || fail "SIGTERM under 64 open files gave status $status: $(cat err.txt)"

echo "a FIFO that never opens, among inputs and as an output"
mkfifo never.png held.ppm
rm -rf out
timeout 60 "$render" -q -j 1 --time-limit 2 -f png -d out tiny.png never.png p.png 2>err.txt
status=$?
[ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "never.png: took more than 2 s" err.txt \
  && [ "$(outputs out)" = 2 ] || fail "a FIFO input: status $status, $(outputs out) outputs, $(cat err.txt)"
timeout 60 "$render" -q --time-limit 2 -o held.ppm tiny.png 2>err.txt
status=$?
[ "$status" = 1 ] && grep -q "took more than 2 s" err.txt || fail "a FIFO output: status $status, $(cat err.txt)"

echo "a decoder stuck on a file read from a pipe is timed once the pipe is read"
if [ -z "${ASAN_OPTIONS:-}" ]; then
  # The preloaded stand-in for libjpeg's first call waits there for ever.
  "$render" -q -o stuck.jpg || fail "cannot make a JPEG"
  mkdir -p out && cat stuck.jpg | IL_TRY_ESCAPE=wait LD_PRELOAD=$stuck timeout 60 "$render" -q --time-limit 1 -o out/x.png - 2>err.txt
  status=$?
  [ "$status" = 1 ] && grep -q "took more than 1 s" err.txt || fail "from a pipe: status $status, $(cat err.txt)"
else
  echo "  skipped: the sanitizers' runtime must be loaded before any preloaded library"
fi

echo "descriptors the program was not given are no outputs"
# Numbers the program was not given, closed first: it may use them itself.
for output in /dev/stderr /proc/self/fd/{3..12}; do
  (for fd in {3..12}; do eval "exec $fd>&-"; done; exec timeout 60 "$render" -q -o "$output" tiny.png) 2>err.txt
  status=$?
  [ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "names descriptor" err.txt \
    || fail "-o $output: status $status, $(cat err.txt)"
done

echo "a link planted in the output folder"
mkdir -p out && rm -f out/* && mkfifo victim && ln -s ../victim out/p.png
cat victim >victim.txt &
reader=$!
for overwrite in "" -y; do
  # shellcheck disable=SC2086 # no -y, then -y
  timeout 60 "$render" -q $overwrite -d out tiny.png p.png 2>err.txt
  status=$?
  [ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "no regular file" err.txt \
    && [ -f out/tiny.png ] && [ -L out/p.png ] || fail "the planted link ($overwrite): status $status, $(cat err.txt)"
done
# Ends the reader (which got nothing unless the program wrote), however it went.
timeout 10 bash -c ': >victim'
kill $reader 2>/dev/null
wait $reader
[ ! -s victim.txt ] || fail "the planted link's target was written"

echo "names that would forge lines"
forged=$'a\ninverse-logistic-render: b.png: rendered\x1b[2J.jpg'
"$render" -q -d out "$forged" 2>err.txt
[ "$(wc -l <err.txt)" = 1 ] && ! grep -q $'\x1b' err.txt && grep -qF "'a'\$'\\n''" err.txt \
  || fail "a name with a newline and an escape gave: $(cat -v err.txt)"

echo "debris of a run that was killed"
rm -rf out && mkdir out && touch out/.il-999999999-3.tmp "out/.il-$$-3.tmp" out/.il-1-x.tmp
"$render" -q -d out tiny.png || fail "the run after the debris failed"
[ ! -e out/.il-999999999-3.tmp ] && [ -e "out/.il-$$-3.tmp" ] && [ -e out/.il-1-x.tmp ] \
  || fail "the debris left: $(ls -A out)"

echo "the workers of a run share --max-memory"
vips black grey.v 6000 6000 --bands 3 && vips linear grey.v bright.v 1 90 --uchar \
  && vips copy bright.v "i1.png[interlace]" && cp i1.png i2.png && rm -f grey.v bright.v \
  || fail "cannot make the interlaced PNGs"
# Runs the program on the two, sampling the resident memory of its tree.
sampled() {
  "$render" -q --max-memory 128M -d out "$@" i1.png i2.png 2>err.txt &
  local program=$! sum
  peak=0
  while kill -0 $program 2>/dev/null; do
    sum=$(ps -o rss= -p "$program" --ppid "$program" 2>/dev/null | awk '{s += $1} END {print s + 0}')
    [ "$sum" -gt "$peak" ] && peak=$sum
  done
  wait $program
}
# Decoding one takes about 103 MiB, more than half of 128M: two workers
# refuse both; one renders them one after the other.
rm -rf out && sampled -j 2
status=$?
[ "$status" = 1 ] && [ "$(grep -c "its share of --max-memory, 64 MiB" err.txt)" = 2 ] \
  || fail "two workers under 128M: status $status, $(cat err.txt)"
rm -rf out && sampled -j 1 || fail "one worker under 128M failed: $(cat err.txt)"
# The sanitizers' shadow memory and quarantine are no decoder's.
bound=$(((128 + 64) * 1024))
[ -z "${ASAN_OPTIONS:-}" ] || bound=$((1 << 40))
[ "$(outputs out)" = 2 ] && [ "$peak" -lt "$bound" ] \
  || fail "one worker under 128M: $(outputs out) outputs, a peak of $((peak / 1024)) MiB"
echo "a peak of $((peak / 1024)) MiB for the tree, 128 of it the budget"

echo "stalls: ok"
