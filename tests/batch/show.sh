#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window's show as a file (--passes): from the embedded photograph, 12
# passes as GIF, WebP, MP4 and WebM, and on a film and an animated GIF a new
# branch every pass of their time. Each output is read back: how long each picture shows, and
# whether it is the dark or the bright rendering (its mean against the
# middle grey). Then: the passes add up, each shows at least 250 ms, no
# second holds more than three changes, a show changes at all, and the same
# --seed makes the same bytes while another seed makes another show.
# Usage: show.sh RENDER_PROGRAM
set -euo pipefail
render=$(realpath "$1")
for tool in ffmpeg ffprobe vips vipsheader python3; do
  command -v "$tool" >/dev/null || { echo "show: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "show: $*" >&2
  exit 1
}

# Each picture of a show, one a line: how long it shows (ms) and its mean.
pictures() {
  case $1 in
    *.gif | *.webp)
      local pages delays
      pages=$(vipsheader -f n-pages "$1")
      read -ra delays <<<"$(vipsheader -f delay "$1")"
      [ "${#delays[@]}" = "$pages" ] || fail "$1: $pages pages, ${#delays[@]} delays"
      for ((page = 0; page < pages; page++)); do
        echo "${delays[page]} $(vips avg "$1[page=$page]")"
      done
      ;;
    *)
      # A picture shows from its time to the next one's, the last to the end.
      local end
      end=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1")
      { ffprobe -v error -f lavfi "movie=$1,signalstats" \
        -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0 && echo "$end,"; } |
        awk -F, 'NR > 1 { printf "%d %s\n", int($1 * 1000 + 0.5) - at, mean } { at = int($1 * 1000 + 0.5); mean = $2 }'
      ;;
  esac
}
# Checks the pictures of a show on standard input: their total time
# (EXPECTED ms), at least 250 ms each (but for a film's own pictures,
# CHANGES_EVERY 250 ms of its time), at most three changes in any second,
# and at least one change. Prints the passes' branches.
judge() {
  python3 -c '
import sys
expected, per_picture = int(sys.argv[1]), sys.argv[2] == "pictures"
rows = [line.split() for line in sys.stdin if line.strip()]
at, changes, branches, last = 0, [], "", None
for duration, mean in rows:
    duration, bright = int(duration), float(mean) > 128
    if per_picture and duration < 250:
        sys.exit(f"a picture shows {duration} ms, less than a pass")
    if last is not None and bright != last:
        changes.append(at)
    branches += "U" if bright else "L"
    last, at = bright, at + duration
if abs(at - expected) > 1:
    sys.exit(f"the show lasts {at} ms, not {expected}")
if not changes:
    sys.exit("the show never changes branch")
for n in range(len(changes) - 3):
    if changes[n + 3] - changes[n] <= 1000:
        sys.exit(f"four changes within a second, at {changes[n:n + 4]} ms")
print(f"{len(rows)} pictures, {at} ms, changes at {changes} ms: {branches}")
' "$@"
}

for show in show.gif show.webp show.mp4 show.webm; do
  "$render" -q --passes 12 --seed 7 -a 4.5 -o "$show"
  summary=$(pictures "$show" | judge 3000 pictures) || fail "$show: $summary"
  echo "$show: $summary"
  "$render" -q --passes 12 --seed 7 -a 4.5 -o "again-$show"
  cmp -s "$show" "again-$show" || fail "$show: the same --seed made other bytes"
done
[ "$(vipsheader -f n-pages show.gif)" = 12 ] || fail "show.gif: not 12 pictures"
[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of default=nw=1:nk=1 show.mp4)" = 12 ] \
  || fail "show.mp4: not 12 pictures"
"$render" -q --passes 12 --seed 8 -a 4.5 -o other.gif
! cmp -s show.gif other.gif || fail "another seed made the same show"

echo "on a film: a new branch every 250 ms of film time"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x120:rate=24 -t 4 -c:v libx264 -pix_fmt yuv420p clip.mp4
"$render" -q --passes 1 --seed 7 -o film-show.mp4 clip.mp4
summary=$(pictures film-show.mp4 | judge 4000 film) || fail "film-show.mp4: $summary"
echo "film-show.mp4: $summary"
"$render" -q --seed 7 -o film-one.mp4 clip.mp4
branches=$(pictures film-one.mp4 | awk '{ print ($2 > 128) }' | sort -u | wc -l)
[ "$branches" = 1 ] || fail "without --passes a film changed branch"
echo "on an animation: each frame on the branch of the pass its time falls in"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=160x120:rate=10 -t 3 anim.gif
"$render" -q --passes 1 --seed 7 -o anim-show.gif anim.gif
[ "$(vipsheader -f n-pages anim-show.gif)" = "$(vipsheader -f n-pages anim.gif)" ] \
  || fail "anim-show.gif: not a picture for each of the animation's"
summary=$(pictures anim-show.gif | judge 3000 film) || fail "anim-show.gif: $summary"
echo "anim-show.gif: $summary"
echo "show: all passes paced"
