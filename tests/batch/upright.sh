#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# --autorotate: a picture stored sideways (or mirrored) under each of the
# eight Orientations comes out with its pixels upright and Orientation 1,
# in every format that writes metadata and in one that writes none; without
# it, the pixels stay as stored and the Orientation says how to show them.
# Usage: upright.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"

# An upright picture no turn or mirror leaves alike: wider than high, one corner marked.
convert -size 48x32 xc:black -fill red -draw 'rectangle 0,0 11,7' -type TrueColor PNG24:upright.png \
  || fail "cannot make the picture"
# How each Orientation's picture is stored, as libvips's own operations.
stored() {
  case $1 in
  1) vips copy upright.png "$2" ;;
  2) vips flip upright.png "$2" horizontal ;;
  3) vips rot upright.png "$2" d180 ;;
  4) vips flip upright.png "$2" vertical ;;
  5) vips rot upright.png r.v d90 && vips flip r.v "$2" horizontal ;;
  6) vips rot upright.png "$2" d270 ;;
  7) vips rot upright.png r.v d270 && vips flip r.v "$2" horizontal ;;
  8) vips rot upright.png "$2" d90 ;;
  esac
}
"$render" -q -b lower -o expected.png upright.png || fail "cannot render the upright picture"
largest_difference() {
  vips subtract "$1" "$2" d.v && vips abs d.v e.v && vips max e.v
}
for orientation in 1 2 3 4 5 6 7 8; do
  stored $orientation "o$orientation.png" \
    && exiftool -q -q -overwrite_original "-Orientation#=$orientation" "o$orientation.png" \
    || fail "cannot store orientation $orientation"
  # suffix | what -Q or --lossless keeps | the largest difference allowed from the upright rendering
  while IFS='|' read -r suffix options most; do
    # shellcheck disable=SC2086 # the options are words
    "$render" -q -b lower --autorotate $options -o "turned$orientation.$suffix" "o$orientation.png" \
      || fail "orientation $orientation into .$suffix failed"
    vips copy "turned$orientation.$suffix" turned.png \
      && [ "$(vipsheader -f width turned.png)x$(vipsheader -f height turned.png)" = 48x32 ] \
      && [ "$(largest_difference turned.png expected.png | cut -d. -f1)" -le "$most" ] \
      || fail "orientation $orientation into .$suffix is not upright"
    shown=$(exiftool -s3 -n -Orientation "turned$orientation.$suffix")
    [ -z "$shown" ] || [ "$shown" = 1 ] || fail "orientation $orientation into .$suffix says $shown"
  done <<'TABLE'
png||0
tif||0
webp|--lossless|0
jpg|-Q 100|64
ppm||0
TABLE
done
"$render" -q -b lower -o kept.png o6.png && [ "$(vipsheader -f width kept.png)" = 32 ] \
  && [ "$(exiftool -s3 -n -Orientation kept.png)" = 6 ] || fail "without --autorotate, the pixels moved"
echo "upright: ok"
