#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# One input read once, one output written once: a JPEG whose decoder warns
# gives a stream one image, byte-equal to the file; each input's path is
# opened once; a full disk leaves one line and nothing under the final
# name; every WebP's EXIF chunk is valid; PNG text after the image data
# stays there; what no output of the format can hold is a warning; a large
# TIFF keeps its metadata within the memory budget.
# Usage: once.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"
chunks() { # FILE: a PNG's or WebP's chunk types in order, and how an EXIF chunk starts
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
riff = data[:4] == b'RIFF'
at, kinds = (12 if riff else 8), []
while at + 8 <= len(data):
    if riff:
        kind, length = data[at:at + 4].decode(), struct.unpack('<I', data[at + 4:at + 8])[0]
    else:
        length, kind = struct.unpack('>I', data[at:at + 4])[0], data[at + 4:at + 8].decode()
    kinds.append(kind + ('=' + data[at + 8:at + 14].hex() if kind == 'EXIF' else ''))
    at += 8 + length + (length & 1 if riff else 4)
print(' '.join(kinds))
PY
}

"$render" -q -a 5 -o p.png || fail "cannot make the test picture"
vips resize p.png large.png 8 && vips jpegsave large.png restarts.jpg --restart-interval 4 \
  || fail "cannot make a JPEG with restart markers"
python3 - <<'PY' || fail "cannot make the test files"
import struct, zlib
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
# Three stray bytes before a restart marker late in the scan, when rows
# have gone out: the decoder warns, and loses nothing.
jpeg = bytearray(open('restarts.jpg', 'rb').read())
at = jpeg.index(b'\xff\xd3', (jpeg.index(b'\xff\xda') + len(jpeg)) * 3 // 4)
open('stray.jpg', 'wb').write(jpeg[:at] + b'\x01\x02\x03' + jpeg[at:])
png = open('p.png', 'rb').read()
ihdr = 8 + 25
end = png.rindex(b'IEND') - 4
text = chunk(b'tEXt', b'Title\0before')
late = chunk(b'tEXt', b'Comment\0after') + chunk(b'zTXt', b'Copyright\0\0' + zlib.compress(b'2026'))
open('late-text.png', 'wb').write(png[:ihdr] + text + png[ihdr:end] + late + png[end:])
# Text past what the copy keeps, and a 50 MiB ICC profile (deflated small).
wide = chunk(b'tEXt', b'Big\0' + b'x' * (9 << 20))
open('much-text.png', 'wb').write(png[:ihdr] + wide + wide + png[ihdr:])
profile = bytearray(50 << 20)
struct.pack_into('>I', profile, 0, len(profile))
profile[12:24], profile[36:40] = b'mntrRGB XYZ ', b'acsp'
iccp = chunk(b'iCCP', b'big\0\0' + zlib.compress(bytes(profile), 9))
open('big-profile.png', 'wb').write(png[:ihdr] + iccp + png[ihdr:])
PY

echo "a JPEG whose decoder warns, to a stream: one image, as to a file"
for format in png jpeg tiff; do
  "$render" -q -b lower -f $format -o "file.$format" stray.jpg \
    && "$render" -q -b lower -f $format -o - stray.jpg >"stream.$format" || fail "stray.jpg to $format failed"
  cmp -s "file.$format" "stream.$format" || fail "$format: the stream ($(stat -c %s "stream.$format") bytes) is not the file ($(stat -c %s "file.$format"))"
done
[ "$(grep -c $'\xff\xd8\xff' stream.jpeg)" = 1 ] || fail "the JPEG stream holds more than one image"

echo "each input's path opened once"
if command -v strace >/dev/null; then
  for input in stray.jpg p.png; do
    # LeakSanitizer cannot run under ptrace: a sanitized build leaves it out here.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 \
      strace -f -e trace=open,openat -o trace.txt "$render" -q -y -o once.webp "$input" \
      || fail "$input under strace failed"
    opened=$(grep -c "\"$input\"" trace.txt)
    [ "$opened" = 1 ] || fail "$input was opened $opened times"
  done
else
  echo "(strace is not installed: skipped)"
fi

echo "a disk that fills: one line, status 1, nothing left"
mkdir full
if mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  trap 'umount "$work/full"; rm -rf "$work"' EXIT
  head -c 100000 /dev/urandom | base64 -w0 >long.txt
  for format in tif webp; do
    vips copy p.png "tagged.$format" && exiftool -q -q -overwrite_original "-XMP-dc:Description<=long.txt" "tagged.$format" \
      || fail "cannot make tagged.$format"
    "$render" -q -o "full/out.$format" "tagged.$format" 2>err.txt
    status=$?
    [ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "No space left" err.txt \
      && [ -z "$(ls -A full)" ] || fail "$format on a full disk: status $status, $(cat err.txt), left $(ls -A full)"
  done
else
  echo "(cannot mount a small tmpfs here: skipped)"
fi

echo "every WebP's EXIF chunk as readers take it"
convert p.png bare.webp && "$render" -q -f ppm -o bare.ppm p.png || fail "cannot make the bare inputs"
for input in p.png bare.ppm bare.webp; do
  "$render" -q -y -o out.webp "$input" || fail "$input to WebP failed"
  case " $(chunks out.webp) " in *" EXIF=457869660000 "*) fail "$input to WebP: the EXIF chunk starts with Exif\\0\\0" ;; esac
  warned=$(exiftool -q -q -a -Warning out.webp)
  [ -z "$warned" ] || fail "$input to WebP: exiftool warns: $warned"
done

echo "PNG text after the image data stays after it; what is left out is said"
"$render" -q -o late-out.png late-text.png || fail "late-text.png failed"
text_and_image() { chunks "$1" | tr ' ' '\n' | grep -E 'tEXt|zTXt|IDAT' | uniq | tr '\n' ' '; }
[ "$(text_and_image late-out.png)" = "tEXt IDAT tEXt zTXt " ] \
  || fail "the text chunks moved: $(chunks late-out.png)"
"$render" -q -o much-out.png much-text.png 2>err.txt && grep -q "warning: its PNG text past 16 MiB" err.txt \
  || fail "text past the bound: $(cat err.txt)"
"$render" -q -o big-profile.jpg big-profile.png 2>err.txt && grep -q "warning: its ICC profile (50 MiB)" err.txt \
  || fail "a profile JPEG cannot hold: $(cat err.txt)"
[ -z "$(exiftool -q -q -a -Warning -ICC_Profile:all big-profile.jpg)" ] || fail "the JPEG holds a broken profile"

echo "a TIFF larger than the memory budget keeps its metadata"
vips black black.v 8000 6250 --bands 3 && vips copy black.v large.tif \
  && exiftool -q -q -overwrite_original -Make=Maker -GPSLatitude=48.85 -GPSLatitudeRef=N \
    -XMP-dc:Title=Title -IPTC:Keywords=kw large.tif || fail "cannot make the large TIFF"
rm black.v
"$render" -q --max-memory 64M -o large-out.tif large.tif 2>err.txt || fail "the large TIFF failed: $(cat err.txt)"
[ ! -s err.txt ] || fail "the large TIFF: $(cat err.txt)"
[ "$(exiftool -q -q -s3 -Make -GPSLatitudeRef -XMP-dc:Title -IPTC:Keywords large-out.tif | tr '\n' ' ')" = "Maker North Title kw " ] \
  || fail "the large TIFF lost metadata: $(exiftool -s -Make -GPSLatitude -Title -Keywords large-out.tif)"
echo "once: ok"
