#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A decoder taken over by a hostile file lies to the program or hoards: it
# answers half a frame, answers and never ends, answers what does not
# exist or twice, forges lines, maps memory no data limit counts, writes
# to standard output, or leaves a thread writing over any later file it may
# write. Each time that file fails with one line, or renders as it should,
# the files beside it render, nothing is placed that is not whole, and the
# run ends. The decoder taken over is tests/sandbox/tryescape.cpp, preloaded
# (which the sanitizers' runtime, wanting to be loaded first, does not allow).
# Usage: liars.sh RENDER_PROGRAM TRY_ESCAPE_LIBRARY
source "$(dirname "$0")/workfolder.sh"
escape=$2
if [ -n "${ASAN_OPTIONS:-}" ]; then
  echo "skipped: the sanitizers' runtime must be loaded before any preloaded library"
  exit 0
fi
"$render" -q -o b.jpg && "$render" -q -o a.png && "$render" -q -o c.png || fail "cannot make the inputs"
"$render" -q -b lower -o clean-a.png a.png && "$render" -q -b lower -o clean-c.png c.png \
  || fail "cannot render the inputs cleanly"

# lie | status | what b.jpg's line says ("" for no line: it rendered)
while IFS='|' read -r lie status said; do
  echo "$lie"
  rm -rf out
  # b.jpg is job 0; the PNGs beside it meet no stand-in.
  IL_TRY_LIE=$lie LD_PRELOAD=$escape timeout 60 "$render" -q -j 1 -b lower --time-limit 3 \
    --max-memory 64M -d out b.jpg a.png c.png >stdout.txt 2>said.txt
  got=$?
  [ "$got" = "$status" ] || fail "$lie: status $got: $(cat said.txt)"
  if [ -n "$said" ]; then
    [ "$(wc -l <said.txt)" = 1 ] && grep -q "^inverse-logistic-render: b.jpg: " said.txt && grep -qF "$said" said.txt || fail "$lie said: $(cat -v said.txt)"
    [ ! -e out/b.jpg ] || fail "$lie: the lying file's output was placed"
  else
    [ ! -s said.txt ] && vips copy out/b.jpg out/b.v 2>/dev/null || fail "$lie: $(cat -v said.txt)"
  fi
  # Nothing but the program's own bytes on its standard output; no control character in a line.
  [ ! -s stdout.txt ] || fail "$lie: standard output got $(cat -v stdout.txt)"
  ! grep -q $'[\x01-\x08\x0b-\x1f]' said.txt || fail "$lie: a control character reached a line"
  cmp -s out/a.png clean-a.png && cmp -s out/c.png clean-c.png || fail "$lie: the files beside it were touched"
  [ -z "$(find out -name '.il-*')" ] || fail "$lie: a temporary was left"
done <<'TABLE'
partial|1|took more than 3 s (--time-limit)
linger|1|answered but did not end
unknown|1|sent a frame of a kind the program does not know
extra|1|said more after its answer
empty|1|answered that it rendered the file but wrote nothing
exists|1|answered that its output exists, which the program made itself
forge|1|$'\033''[2J'$'\r''inverse-logistic-render: 3 rendered
shared|1|hoard: shared map Operation not permitted; memfd Operation not permitted
stdout|0|
overwrite|0|
TABLE
echo "without the sandbox, a memory group of its own still bounds what a job hoards"
if "$render" -v -o probe.png a.png 2>&1 | grep "counted in a memory group of its own" >/dev/null; then
  IL_TRY_LIE=shared LD_PRELOAD=$escape "$render" -q --no-sandbox --max-memory 64M -o hoard.jpg b.jpg \
    2>said.txt
  [ $? = 1 ] && grep -q "b.jpg: ran out of memory .* (the 64 MiB it may take of --max-memory), counted" \
    said.txt && [ ! -e hoard.jpg ] || fail "a hoard without the sandbox: $(cat said.txt)"
else
  echo "  skipped: this machine lets the program make no memory group"
fi
echo "liars: ok"
