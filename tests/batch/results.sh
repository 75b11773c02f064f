#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a script and a person read of a batch: --json's line per input and
# its summary, with every outcome; the exit status of each kind of end; the
# summary off a terminal; and a run stopped by a signal, which says how far
# it got and how to go on.
# Usage: results.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"

"$render" -q -o a.jpg && "$render" -q -o exists.png && "$render" -q -o skipped.png \
  && head -c 4000 a.jpg > cut.jpg && printf 'x' > broken.png || fail "cannot make the inputs"
mkdir out && "$render" -q -d out exists.png && "$render" -q -d out skipped.png \
  || fail "cannot render ahead"

echo "every outcome, as JSON Lines and as the status"
# (outcome of each input | status) for: no option, --skip-existing, -y
while IFS='|' read -r option outcomes status; do
  rm -f out/a.jpg out/cut.jpg
  # shellcheck disable=SC2086 # the option is one word or none
  "$render" -d out --salvage --json results.json $option a.jpg cut.jpg broken.png exists.png \
    2>said.txt >stdout.txt
  got=$?
  [ "$got" = "$status" ] || fail "${option:-no option}: status $got, not $status: $(cat said.txt)"
  [ ! -s stdout.txt ] || fail "--json FILE wrote to standard output"
  python3 - "$outcomes" "$status" results.json <<'PY' || fail "${option:-no option}: $(cat results.json)"
import json, sys
want, status, lines = sys.argv[1].split(), int(sys.argv[2]), open(sys.argv[3]).read().splitlines()
objects = [json.loads(line) for line in lines]
*inputs, summary = objects
got = {o["input"]: o["outcome"] for o in inputs}
assert [got[name] for name in ["a.jpg", "cut.jpg", "broken.png", "exists.png"]] == want, got
for o in inputs:
    assert set(o) == {"input", "output", "outcome", "branch", "a", "seconds", "reason"}, o
    assert (o["branch"] in ("lower", "upper")) == (o["outcome"] in ("rendered", "warned")), o
    assert bool(o["reason"]) == (o["outcome"] in ("warned", "failed", "exists")), o
counts = summary["summary"]
for kind in ("rendered", "warned", "skipped", "exists", "failed"):
    assert counts[kind] == want.count(kind), (kind, counts)
assert counts["status"] == status and counts["left"] == 0, counts
PY
  # Off a terminal the summary is still said.
  tail -1 said.txt | grep -qE '^[0-9]+ rendered.* failed, [0-9.]+ s$' || fail "no summary: $(cat said.txt)"
done <<'TABLE'
|rendered warned failed exists|1
--skip-existing|rendered warned failed skipped|1
-y|rendered warned failed rendered|1
TABLE
"$render" -d out --json - exists.png skipped.png >results.json 2>said.txt
[ $? = 3 ] && [ "$(grep -c '"outcome":"exists"' results.json)" = 2 ] \
  || fail "outputs already there: $(cat said.txt results.json)"
"$render" -q -d out --skip-existing exists.png && "$render" -q -o fresh.png a.jpg \
  || fail "a run with nothing to do, or all rendered, did not end with status 0"
"$render" -o - --json - a.jpg 2>said.txt >/dev/null
[ $? = 2 ] && grep -q "would both write standard output" said.txt || fail "--json - with -o -: $(cat said.txt)"
# A name that is not UTF-8 is the file it names, given as input or output.
cp exists.png $'\xff.png' && "$render" -q -y $'\xff.png' -o $'\xfe.png' && [ -s $'\xfe.png' ] \
  && cmp -s exists.png $'\xff.png' || fail "names that are not UTF-8 were taken for others"
"$render" -o - --json /dev/stdout a.jpg >/dev/null 2>said.txt
[ $? = 2 ] && grep -q "would both write standard output" said.txt || fail "--json /dev/stdout -o -: $(cat said.txt)"
"$render" -q -d full --json /dev/full a.jpg 2>said.txt
[ $? = 1 ] && grep -q "cannot write --json's results" said.txt || fail "--json /dev/full: $(cat said.txt)"
names=$'odd\x1b[2J\xff.png'
cp exists.png "$names" && "$render" -q -d odd --json - "$names" | python3 -c '
import json, sys
o = json.loads(sys.stdin.read().splitlines()[0])
assert o["input"] == "odd\x1b[2J\xff.png", o' || fail "a name with an escape and a stray byte is no JSON string"

echo "on a terminal: done of all, the share, the failures, then the line cleared for the summary"
rm -rf tty && script -qec "'$render' -d tty a.jpg broken.png exists.png" /dev/null </dev/null >screen.txt
grep -q $'3 of 3 (100%), 1 failed\e\[K\r\e\[K2 rendered, 0 skipped, 1 failed' screen.txt \
  || fail "the terminal showed: $(cat -v screen.txt)"

echo "messages that say what was wrong and what works"
# arguments | status | words of the one line
while IFS='|' read -r arguments status words; do
  # shellcheck disable=SC2086 # the arguments are words
  "$render" $arguments -o table.png </dev/null 2>said.txt
  got=$?
  [ "$got" = "$status" ] && grep -qF -- "$words" said.txt || fail "$arguments: status $got, $(cat said.txt)"
done <<'TABLE'
-|1|standard input: is empty: no image came through it; give it one, as
-a abc|2|-a: “abc” is not a number this program takes; give one such as 4, 4.5 or 6
--sheet 3,4|2|--sheet: “3” is below 4, where every value draws what 4 does
--sheet 4,5 -b lower|2|-b chooses the branch of a rendering; a sheet shows both
--sheet 4,,5|2|--sheet: “” is not a value of a; give them as 4,5,6
TABLE
rm -rf sheets && "$render" -q --sheet 4,5 -d sheets a.jpg && [ -f sheets/a-sheet.jpg ] \
  || fail "a sheet under -d: $(ls sheets)"

echo "a run stopped by SIGINT: its summary, its status, and how to go on"
mkfifo waits.jpg
rm -rf stopped && mkdir stopped
"$render" -j 1 -d stopped --json progress.json a.jpg waits.jpg exists.png 2>said.txt &
program=$!
# a.jpg is rendered, then the run waits for the FIFO's writer, which never comes.
until grep -q '"outcome":"rendered"' progress.json 2>/dev/null; do
  kill -0 $program 2>/dev/null || fail "the run ended before it could be stopped: $(cat said.txt)"
done
kill -INT $program
wait $program
status=$?
[ "$status" = 130 ] || fail "a stopped run gave status $status"
grep -q '^1 rendered, 0 skipped, 0 failed' said.txt \
  && grep -q 'stopped by SIGINT with 2 of 3 left; the same command with --skip-existing renders the rest' said.txt \
  && tail -1 progress.json | grep -q '"left":2,.*"status":130' || fail "a stopped run said: $(cat said.txt progress.json)"
echo "results: ok"
