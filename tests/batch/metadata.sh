#!/usr/bin/env bash
# What travels with a rendering: --strip drops every identifying item in
# every format and keeps Orientation; EXIF's stale thumbnail never travels;
# a lossless WebP stays lossless and an LZW TIFF stays LZW; JPEG 2000 is
# written whole, to a file or a pipe.
# Usage: metadata.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"
tags() { exiftool -q -a -G1 -s "$@"; }

"$render" -q -a 5 -o p.png
convert p.png -resize 64x64 thumb.jpg
convert p.png photo.jpg
exiftool -q -overwrite_original -Make=Maker -Artist=Ann -Orientation#=6 -GPSLatitude=48.85 \
  -GPSLatitudeRef=N -XMP-dc:Title=Title -IPTC:Keywords=kw "-ThumbnailImage<=thumb.jpg" photo.jpg

for format in jpg webp tif png; do
  "$render" -q -o "kept.$format" photo.jpg || fail "photo.jpg to $format failed"
  ! tags kept.$format | grep -q Thumbnail || fail "$format kept the unrendered thumbnail"
  "$render" -q --strip -o "stripped.$format" photo.jpg || fail "--strip to $format failed"
  left=$(tags "stripped.$format" | grep -E 'Make|Artist|GPS|Title|Keywords|Thumbnail')
  [ -z "$left" ] || fail "--strip to $format left: $left"
done
for format in jpg webp; do
  tags "kept.$format" | grep -q 'GPSLatitude ' || fail "$format lost GPS"
done
for format in jpg webp tif; do
  tags "stripped.$format" | grep -q 'Orientation *: Rotate 90 CW' \
    || fail "--strip to $format lost Orientation"
done
echo "--strip drops what identifies the picture, keeps Orientation; no stale thumbnail"

convert p.png -define webp:lossless=true lossless.webp
"$render" -q -o lossless-out.webp lossless.webp
grep -q VP8L lossless-out.webp || fail "a lossless WebP was written lossy"
convert p.png -compress LZW lzw.tif
"$render" -q -o lzw-out.tif lzw.tif
[ "$(exiftool -s3 -Compression lzw-out.tif)" = LZW ] || fail "an LZW TIFF lost its compression"
"$render" -q --tiff-compression deflate -o deflate.tif lzw.tif
exiftool -s3 -Compression deflate.tif | grep -qi deflate || fail "--tiff-compression deflate"
echo "lossless stays lossless, compressed stays compressed"

"$render" -q -b lower -o p.jp2 p.png && "$render" -q -b lower -f jp2 -o - p.png >piped.jp2 || fail "JPEG 2000 failed"
cmp -s p.jp2 piped.jp2 && "$render" -q --allow-untrusted -o back.png piped.jp2 \
  || fail "JPEG 2000 to a pipe differs from the file or does not read back"
echo "metadata: ok"
