#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A worker that a hostile file takes over: once the sandbox is on it has no
# privileges, no capabilities and a seccomp filter; it can open no file,
# create no socket and run no program; that file fails with one line and
# the batch goes on. The decoder taken over is a test library preloaded
# into the program (tests/sandbox/tryescape.cpp), which the sanitizers'
# runtime, wanting to be loaded first, does not allow.
# Usage: sandbox.sh RENDER_PROGRAM TRY_ESCAPE_LIBRARY
source "$(dirname "$0")/workfolder.sh"
escape=$2
for name in a.png b.jpg c.png; do "$render" -q -o "$name" || fail "cannot make $name"; done

echo "strace: after the filter, a worker opens nothing by path"
if command -v strace >/dev/null; then
  # (The leak checker cannot run under a tracer.)
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
    strace -f -qq -o trace -e trace=openat,open,seccomp,clone,clone3 "$render" -q -o out.jpg b.jpg \
    || fail "no render under strace"
  # Threads started after the filter are under it too.
  awk '/seccomp\(SECCOMP_SET_MODE_FILTER, .* = 0$/ { sandboxed[$1] = 1; next }
       sandboxed[$1] && /clone/ && / = [0-9]+$/ { sandboxed[$NF] = 1 }
       sandboxed[$1] && /open/ && !/= -1 E/ { print; bad = 1 }
       END { exit bad }' trace || fail "a sandboxed worker opened a file"
  grep -q 'seccomp(SECCOMP_SET_MODE_FILTER, .* = 0$' trace || fail "no worker entered the filter: $(grep -c . trace) calls traced"
else
  echo "  skipped: strace is not installed"
fi

echo "a file whose first bytes need a module its name did not: loaded before the sandbox"
"$render" -q -o real.heic && cp real.heic heic.jpg || fail "cannot make a HEIF file"
"$render" -q -j 1 -d mixed b.jpg heic.jpg a.png 2>said.txt && [ "$(ls mixed | wc -l)" = 3 ] \
  || fail "a HEIF file named .jpg: $(cat said.txt)"

echo "an image decoded whole past libvips's disc threshold stays in memory"
vips black black.v 6200 6200 --bands 3 && vips webpsave black.v black.webp --lossless && rm black.v \
  || fail "cannot make a large WebP"
"$render" -q -o black.ppm black.webp 2>said.txt || fail "a 115 MB decode: $(cat said.txt)"

if [ -n "${ASAN_OPTIONS:-}" ]; then
  echo "the rest skipped: the sanitizers' runtime must be loaded before any preloaded library"
  echo "sandbox: ok"
  exit 0
fi

echo "a worker's status while it decodes: Seccomp 2, NoNewPrivs 1, CapEff 0"
IL_TRY_ESCAPE=wait LD_PRELOAD=$escape "$render" -q -o waiting.png b.jpg 2>/dev/null &
program=$!
status=
for _ in $(seq 200); do
  for worker in $(jobProcesses "$program"); do
    status=$(grep -E '^(Seccomp|NoNewPrivs|CapEff):' "/proc/$worker/status" 2>/dev/null | tr -s '\t ' ' ')
    [[ $status == *"Seccomp: 2"* ]] && break 2
  done
  sleep 0.05
done
kill "$program"; wait "$program" 2>/dev/null
[ "$(echo "$status" | tr '\n' ' ')" = "CapEff: 0000000000000000 NoNewPrivs: 1 Seccomp: 2 " ] \
  || fail "a worker decoding: $status"

echo "a taken-over decoder tries to escape: each try refused, its file failed alone"
IL_TRY_ESCAPE=try LD_PRELOAD=$escape "$render" -q -j 1 -d out a.png b.jpg c.png 2>said.txt
[ $? = 1 ] || fail "the batch did not fail one file: $(cat said.txt)"
[ "$(wc -l < said.txt)" = 1 ] && grep -q '^inverse-logistic-render: b.jpg: .*escape: open Operation not permitted; socket Operation not permitted; signal owner Operation not permitted; execve Operation not permitted' said.txt \
  || fail "the escape gave: $(cat said.txt)"
[ -f out/a.png ] && [ -f out/c.png ] && [ ! -e out/b.jpg ] || fail "the batch did not go on: $(ls out)"

echo "without the sandbox the same tries succeed (the test's own control)"
IL_TRY_ESCAPE=try LD_PRELOAD=$escape "$render" -q --no-sandbox -o free.jpg b.jpg 2>said.txt
grep -q 'escape: open succeeded; socket succeeded; signal owner succeeded' said.txt \
  || fail "without the sandbox: $(cat said.txt)"

echo "a worker that could not enter its sandbox runs no job"
IL_REFUSE_FILTER=1 IL_TRY_ESCAPE=try LD_PRELOAD=$escape "$render" -q -j 1 -d refused a.png b.jpg c.png 2>said.txt
[ $? = 1 ] && [ "$(grep -c 'cannot enter the sandbox: cannot load the filter' said.txt)" = 3 ] \
  && [ -z "$(ls -A refused 2>/dev/null)" ] || fail "with the filter refused: $(cat said.txt); $(ls refused 2>&1)"
echo "sandbox: ok"
