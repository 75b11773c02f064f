#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What survives a rendering, for every pair of the formats photographs are
# kept in, without and with --strip; printed as a table (rows input, columns
# output) and compared with what each pair is known to achieve. A cell names
# what came through: E EXIF (Make, Artist, DateTimeOriginal), G GPS, X XMP,
# I IPTC, C the ICC profile, O Orientation (Rotate 90 CW); '.' for lost.
# Usage: metadata-matrix.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"
formats=(jpg png tif webp heic avif)

# IPTC is written where the input has it (here JPEG and TIFF) and the output
# has a place for it (JPEG, TIFF). HEIF's EXIF Orientation is no
# instruction: its decoder applies the file's own transforms, so what comes
# out of HEIF/AVIF is upright (Orientation 1), and what goes into HEIF/AVIF
# is turned upright.
upright() { case $1 in heic | avif) return 0 ;; *) return 1 ;; esac; }
expected_kept() { # input output
  local cell="E G X I C O"
  case $1-$2 in jpg-jpg | jpg-tif | tif-jpg | tif-tif) ;; *) cell=${cell/I/.} ;; esac
  upright "$1" && cell="E G X . C ."
  upright "$2" && cell=${cell/%O/.}
  echo "$cell"
}
expected_stripped() { # input output
  if upright "$1" || upright "$2"; then echo ". . . . C ."; else echo ". . . . C O"; fi
}

# One line per file: its name, then its cell, then exiftool's warning (or -).
cells() {
  exiftool -q -T -FileName -EXIF:Make -EXIF:Artist -EXIF:DateTimeOriginal -GPSLatitude \
    -XMP-dc:Title -IPTC:Keywords -ICC_Profile:ProfileDescription -EXIF:Orientation -Warning "$@" \
    | awk -F'\t' '{
      e = ($2 == "Maker" && $3 == "Ann" && $4 ~ /^2021:02:03/) ? "E" : "."
      g = ($5 ~ /^48 deg 51/) ? "G" : "."
      x = ($6 == "Title") ? "X" : "."
      i = ($7 == "kw") ? "I" : "."
      c = ($8 == "sRGB") ? "C" : "."
      o = ($9 == "Rotate 90 CW") ? "O" : "."
      print $1 "\t" e " " g " " x " " i " " c " " o "\t" $10
    }'
}
cell() { cells "$1" | cut -f2; }

"$render" -q -a 5 -o p.png
vips icc_transform p.png plain.jpg srgb --input-profile srgb || fail "cannot make the picture"
exiftool -b -ICC_Profile plain.jpg >srgb.icc
# The picture's metadata, written by exiftool (IPTC only where the format
# has a place for it); libvips's PNG saver writes its EXIF twice, so PNG
# starts stripped and gets its profile from exiftool too.
for in in "${formats[@]}"; do
  case $in in
    jpg | tif) vips copy plain.jpg "in.$in" && iptc=(-IPTC:Keywords=kw) ;;
    png | webp) vips copy plain.jpg "in.$in[strip]" && iptc=('-ICC_Profile<=srgb.icc') ;;
    *) vips copy plain.jpg "in.$in" && iptc=() ;;
  esac
  exiftool -q -q -overwrite_original -Make=Maker -Artist=Ann -Orientation#=6 -XMP-tiff:Orientation#=6 \
    -DateTimeOriginal='2021:02:03 04:05:06' -GPSLatitude=48.85 -GPSLatitudeRef=N \
    -XMP-dc:Title=Title "${iptc[@]}" "in.$in" || fail "cannot make in.$in"
  echo "in.$in holds $(cell "in.$in")"
done

for in in "${formats[@]}"; do
  for out in "${formats[@]}"; do
    "$render" -q -o "$in-kept.$out" "in.$in" && "$render" -q --strip -o "$in-stripped.$out" "in.$in" \
      || fail "$in to $out failed"
    # Upright (decoded so from HEIF/AVIF, turned so into them), XMP no longer
    # says to turn it; turned, the picture is as wide as it was high.
    if upright "$in" || upright "$out"; then
      [ "$(exiftool -s3 -n -XMP-tiff:Orientation "$in-kept.$out")" = 1 ] \
        || fail "$in to $out kept XMP's Orientation"
    fi
    if upright "$out" && ! upright "$in"; then
      [ "$(vipsheader -f width "$in-kept.$out")" = "$(vipsheader -f height "in.$in")" ] \
        || fail "$in to $out was not turned upright"
    fi
  done
done
cells *-kept.* *-stripped.* >cells.tsv
status=0
printf '%-6s' in/out >table
printf '| %-13s ' "${formats[@]}" >>table
echo >>table
for in in "${formats[@]}"; do
  row=$(printf '%-6s' "$in")
  for out in "${formats[@]}"; do
    kept=$(grep -P "^$in-kept\\.$out\t" cells.tsv | cut -f2)
    stripped=$(grep -P "^$in-stripped\\.$out\t" cells.tsv | cut -f2)
    row+=$(printf '| %s ' "${kept// /}/${stripped// /}")
    want="$(expected_kept "$in" "$out")|$(expected_stripped "$in" "$out")"
    if [ "$kept|$stripped" != "$want" ]; then
      echo "$in to $out kept [$kept], stripped [$stripped]; expected [${want/|/], [}]" >&2
      status=1
    fi
  done
  echo "$row" >>table
done
warned=$(awk -F'\t' '$3 != "-"' cells.tsv)
[ -z "$warned" ] || { echo "exiftool warns of: $warned" >&2; status=1; }
echo "cell: kept without --strip / kept with --strip (E EXIF, G GPS, X XMP, I IPTC, C ICC, O Orientation)"
cat table
[ $status = 0 ] || fail "the matrix differs from what each pair achieves"
echo "metadata-matrix: ok"
