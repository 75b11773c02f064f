#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Camera files: JPEGs whose maker notes Exiv2's tool writes as each maker's
# cameras do, with GPS and Orientation. Rendered to JPEG, WebP and PNG, each
# keeps every EXIF and maker-note tag (counted by exiftool, before and after)
# with exiftool finding nothing new to warn of; to TIFF, each tag is still
# there beside the TIFF's own (but YCbCrPositioning).
# Usage: metadata-cameras.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"
# make | model | maker-note tags, as Exiv2 names them
cameras=(
  "Canon|EOS 5D|Exif.Canon.OwnerName Ann;Exif.Canon.FirmwareVersion 1.0.2;Exif.CanonCs.Macro 1;Exif.CanonCs.Quality 3;Exif.CanonSi.ISOSpeed 160"
  "NIKON CORPORATION|NIKON D70|Exif.Nikon3.Quality FINE;Exif.Nikon3.WhiteBalance AUTO"
  "NIKON|E990|Exif.Nikon2.Quality 1;Exif.Nikon2.WhiteBalance 1"
  "OLYMPUS IMAGING CORP.|E-1|Exif.Olympus.Quality 2;Exif.Olympus.Macro 0"
  "PENTAX Corporation|PENTAX K10D|Exif.Pentax.Quality 1;Exif.Pentax.ISO 3"
  "SONY|DSLR-A700|Exif.Sony1.Quality 1;Exif.Sony1.Teleconverter 0"
  "FUJIFILM|X-T1|Exif.Fujifilm.Quality NORMAL;Exif.Fujifilm.Sharpness 3"
  "Panasonic|DMC-GH1|Exif.Panasonic.Quality 2;Exif.Panasonic.WhiteBalance 1"
  "Minolta Co., Ltd.|DiMAGE 7|Exif.Minolta.Quality 1;Exif.Minolta.ColorMode 0"
  "KONICA MINOLTA|DYNAX 5D|Exif.Minolta.Quality 1;Exif.Minolta.ColorMode 0"
  "SIGMA|SIGMA SD14|Exif.Sigma.Quality High;Exif.Sigma.Sharpness 1"
  "CASIO COMPUTER CO.,LTD.|EX-Z750|Exif.Casio2.QualityMode 1;Exif.Casio2.WhiteBalance 0"
  "CASIO|QV-3000EX|Exif.Casio.Quality 1;Exif.Casio.Sharpness 0"
)
# Splits one exiftool listing of several files into FILE.tags, one per file.
split_tags() {
  exiftool -a -G0 -s "$@" | awk '/^======== /{f = $2 ".tags"; next} {print > f}'
}
count() { grep -cE "^\[($2)\]" "$1.tags"; }
names() { grep -E '^\[(EXIF|MakerNotes)\]' "$1.tags" | awk '{print $1, $2}' | sort -u; }

"$render" -q -a 5 -o p.png
vips copy p.png plain.jpg || fail "cannot make the picture"
n=0
for camera in "${cameras[@]}"; do
  IFS='|' read -r make model notes <<<"$camera"
  n=$((n + 1))
  edits=(-M"set Exif.Image.Make $make" -M"set Exif.Image.Model $model"
    -M"set Exif.Image.Orientation 6" -M"set Exif.Photo.DateTimeOriginal 2021:02:03 04:05:06"
    -M"set Exif.GPSInfo.GPSLatitudeRef N" -M"set Exif.GPSInfo.GPSLatitude 48/1 51/1 0/1")
  IFS=';' read -ra tags <<<"$notes"
  for tag in "${tags[@]}"; do edits+=(-M"set $tag"); done
  cp plain.jpg "cam$n.jpg" && exiv2 -q "${edits[@]}" "cam$n.jpg" || fail "exiv2 cannot make $make"
  for out in jpg webp png tif; do
    "$render" -q -o "cam$n-out.$out" "cam$n.jpg" || fail "$make $model to $out failed"
  done
  split_tags "cam$n.jpg" "cam$n-out."{jpg,webp,png,tif}
  notes_in=$(count "cam$n.jpg" MakerNotes) exif_in=$(count "cam$n.jpg" EXIF)
  [ "$notes_in" -ge 2 ] || fail "$make $model: exiv2 wrote no maker notes"
  for out in jpg webp png tif; do
    warned=$(grep 'Warning' "cam$n-out.$out.tags")
    [ -z "$warned" ] || fail "$make $model to $out: exiftool warns: $warned"
    notes_out=$(count "cam$n-out.$out" MakerNotes) exif_out=$(count "cam$n-out.$out" EXIF)
    if [ "$out" = tif ]; then
      # YCbCrPositioning describes YCbCr samples, which an RGB TIFF has not.
      lost=$(comm -23 <(names "cam$n.jpg" | grep -v YCbCrPositioning) <(names "cam$n-out.$out"))
      [ -z "$lost" ] || fail "$make $model to TIFF lost: $lost"
    elif [ "$notes_out/$exif_out" != "$notes_in/$exif_in" ]; then
      fail "$make $model to $out: maker notes $notes_in -> $notes_out, EXIF $exif_in -> $exif_out"
    fi
  done
  printf '%-24s %-12s EXIF %2d, maker notes %2d: kept in JPEG, WebP, PNG and TIFF\n' \
    "$make" "$model" "$exif_in" "$notes_in"
done
echo "metadata-cameras: ok"
