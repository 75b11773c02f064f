#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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
  [ -z "$(exiftool -q -q -b -ThumbnailImage -PreviewImage "kept.$format" | tr -d '\0')" ] \
    || fail "$format kept the unrendered thumbnail"
  "$render" -q --strip -o "stripped.$format" photo.jpg || fail "--strip to $format failed"
  left=$(tags "stripped.$format" | grep -E 'Make|Artist|GPS|Title|Keywords|Thumbnail')
  [ -z "$left" ] || fail "--strip to $format left: $left"
done
for format in jpg webp; do
  tags "kept.$format" | grep -e 'GPSLatitude ' >/dev/null || fail "$format lost GPS"
done
for format in jpg webp tif; do
  tags "stripped.$format" | grep -e 'Orientation *: Rotate 90 CW' >/dev/null \
    || fail "--strip to $format lost Orientation"
done
echo "--strip drops what identifies the picture, keeps Orientation; no stale thumbnail"

# A path that reads as a URL is a file all the same: the metadata library
# fetched such a path over the network (and spun on a refused connection).
mkdir -p http:/127.0.0.1:9 && cp photo.jpg http:/127.0.0.1:9/photo.jpg
said=$("$render" -q -o url.jpg http://127.0.0.1:9/photo.jpg 2>&1) || fail "a URL-like path failed: $said"
[ -z "$said" ] && tags url.jpg | grep -e 'Make *: Maker' >/dev/null || fail "a URL-like path: $said"

# IPTC whose Photoshop resource claims more bytes than its segment holds:
# Exiv2 cannot rewrite a file holding it, so the rendering carries what
# libvips reads, with a warning, and succeeds.
python3 - photo.jpg bad-iptc.jpg <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
at = data.index(b'8BIM\x04\x04') + 8  # past the resource's type, id and empty name
data[at:at + 4] = b'\x00\xff\x00\x00'
open(sys.argv[2], 'wb').write(data)
PY
"$render" -q -o bad-iptc-out.jpg bad-iptc.jpg 2>warned.txt || fail "damaged IPTC failed the file: $(cat warned.txt)"
grep -q 'warning: rendered, but' warned.txt || fail "damaged IPTC gave no warning: $(cat warned.txt)"
tags bad-iptc-out.jpg | grep -e 'Make *: Maker' >/dev/null || fail "damaged IPTC lost the EXIF too"

# Where Exiv2 writes the metadata into the file, a pipe gets the same file
# (made in a spool first) and standard input gives the same as the file.
for format in jpg tif webp; do
  "$render" -q -b lower -o "file.$format" photo.jpg && "$render" -q -b lower -f $format -o - photo.jpg >"piped.$format" \
    && "$render" -q -b lower -f $format -o "stdin.$format" - <photo.jpg || fail "$format to a pipe or from stdin failed"
  cmp -s "file.$format" "piped.$format" && cmp -s "file.$format" "stdin.$format" \
    || fail "$format: the file, the pipe's and standard input's renderings differ"
  tags "piped.$format" | grep -e 'Make *: Maker' >/dev/null || fail "$format to a pipe lost EXIF"
done

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
# PNG's own chunks, copied as they were: iTXt keeps its language, its
# translated keyword and its UTF-8; tEXt and zTXt stay; gAMA, cHRM, sBIT and
# pHYs stay, under --strip too, which drops the text.
chunks() { # FILE [TYPES...]: each kept chunk as TYPE:HEX, in order
  python3 - "$@" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
types = sys.argv[2:] or ['tEXt', 'zTXt', 'iTXt', 'gAMA', 'cHRM', 'sRGB', 'sBIT', 'pHYs']
at = 8
while at < len(data):
    length, kind = struct.unpack('>I4s', data[at:at + 8])
    if kind.decode() in types:
        print(kind.decode() + ':' + data[at + 8:at + 8 + length].hex())
    at += 12 + length
PY
}
python3 - p.png text.png <<'PY'
import struct, sys, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
data = open(sys.argv[1], 'rb').read()
end = 8 + 12 + struct.unpack('>I', data[8:12])[0]  # after IHDR
extra = (chunk(b'gAMA', struct.pack('>I', 45455))
         + chunk(b'cHRM', struct.pack('>8I', 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
         + chunk(b'sBIT', bytes([8, 8, 8]))
         + chunk(b'tEXt', b'Comment\0plain Latin-1 \xe9')
         + chunk(b'zTXt', b'Description\0\0' + zlib.compress(b'compressed text'))
         + chunk(b'iTXt', b'Title\0\0\0fr\0Titre\0' + 'ünïcödé'.encode()))
open(sys.argv[2], 'wb').write(data[:end] + extra + data[end:])
PY
"$render" -q -b lower -o text-out.png text.png && "$render" -q --strip -b lower -o text-stripped.png text.png \
  || fail "cannot render the PNG with text"
for kinds in "tEXt zTXt iTXt" "gAMA cHRM sRGB sBIT pHYs"; do
  [ "$(chunks text.png $kinds)" = "$(chunks text-out.png $kinds)" ] \
    || fail "PNG chunks changed: $(diff <(chunks text.png) <(chunks text-out.png) | tr '\n' ' ')"
done
[ "$(chunks text.png gAMA cHRM sBIT pHYs)" = "$(chunks text-stripped.png)" ] \
  || fail "--strip kept text or lost colour chunks: $(chunks text-stripped.png | tr '\n' ' ')"
echo "iTXt before: $(exiftool -q -s -a -G1 -Title-fr text.png)"
echo "iTXt after:  $(exiftool -q -s -a -G1 -Title-fr text-out.png)"
echo "metadata: ok"
