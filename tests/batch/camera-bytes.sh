#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Camera metadata as the camera wrote it, on real camera files: into JPEG,
# WebP and PNG the EXIF block travels byte for byte (its maker notes'
# bytes and every value equal), with no preview of the unrendered picture
# left and no new warning; into TIFF every value reads the same, but a
# maker note Exiv2 cannot read (so cannot move safely), left out with a line.
# XMP and IPTC as written; pages of any size; --salvage where it keeps.
# Usage: camera-bytes.sh RENDER_PROGRAM
cameras=$(realpath "$(dirname "$0")/../data/camera")
source "$(dirname "$0")/workfolder.sh"
# EXIF and maker-note values, but what says where the thumbnail lies and
# what a TIFF's own structure holds.
values() { # FILE [GROUPS]
  exiftool -a -G1 -q -q -n -s ${2:--EXIF:all -MakerNotes:all} "$1" | grep -vE \
    '^\[(IFD1|PreviewIFD)\] |^\[[^]]*\] *(Thumbnail|ImageWidth|ImageHeight|BitsPerSample|Compression|PhotometricInterpretation|StripOffsets|SamplesPerPixel|RowsPerStrip|StripByteCounts|PlanarConfiguration|SampleFormat|YCbCr|XResolution|YResolution|ResolutionUnit|Orientation)' \
    | sort
}
warnings() { exiftool -a -validate -warning "$1" | sed -n 's/^Warning *: //p' | sort; }

for input in "$cameras"/*.jpg; do
  name=$(basename "$input" .jpg)
  for format in jpg webp png tif; do
    out="$name.$format"
    "$render" -q -o "$out" "$input" 2>said.txt || fail "$name to $format failed: $(cat said.txt)"
    [ -z "$(exiftool -q -q -b -ThumbnailImage -PreviewImage "$out" 2>/dev/null | tr -d '\0')" ] \
      || fail "$out carries a preview of the unrendered picture"
    # Into TIFF, Exiv2 writes maker notes anew: their values read the same,
    # but exiftool may find fault with how (a Nikon scan IFD's format).
    new=$(comm -13 <(warnings "$input") <(warnings "$out"))
    [ -z "$new" ] || [ "$format" = tif ] || fail "$out: exiftool warns: $new"
    if [ "$format" = tif ] && grep -qE "maker note \([^)]+\) not kept in TIFF" said.txt; then
      kept=$(comm -23 <(values "$input" -EXIF:all) <(values "$out" -EXIF:all) | wc -l)
    else
      [ ! -s said.txt ] || fail "$name to $format: $(cat said.txt)"
      [ "$format" = tif ] || [ "$(exiftool -b -MakerNotes "$input" 2>/dev/null | md5sum)" = \
        "$(exiftool -b -MakerNotes "$out" 2>/dev/null | md5sum)" ] \
        || fail "$out: the maker notes' bytes changed"
      kept=$(comm -23 <(values "$input") <(values "$out") | wc -l)
    fi
    [ "$kept" = 0 ] || fail "$out: values differ: $(diff <(values "$input") <(values "$out") | head -4)"
  done
  printf '%-26s maker notes and EXIF values kept in JPEG, WebP, PNG and TIFF\n' "$name"
done

echo "a maker note's preview is blanked"
cp "$cameras/Olympus_C8080WZ.jpg" olympus.jpg && convert -size 64x48 xc:red preview.jpg \
  && exiv2 -q -M"set Exif.Olympus.ThumbnailImage Undefined $(od -An -tu1 -v preview.jpg | tr -s ' \n' ' ')" olympus.jpg \
  && [ -n "$(exiftool -q -q -b -PreviewImage -ThumbnailImage olympus.jpg | head -c 2)" ] || fail "cannot plant a preview"
for format in jpg webp png tif; do
  "$render" -q -o "olympus-out.$format" olympus.jpg 2>/dev/null
  [ -z "$(exiftool -q -q -b -ThumbnailImage -PreviewImage "olympus-out.$format" | tr -d '\0')" ] \
    || fail "the maker note's preview went into $format"
done

echo "XMP and IPTC as they were written"
"$render" -q -o xmp.jpg "$cameras/DSCN0012.jpg" && cmp -s <(exiftool -b -XMP "$cameras/DSCN0012.jpg") <(exiftool -b -XMP xmp.jpg) \
  || fail "the XMP packet was written anew"
python3 - "$cameras/Canon_40D.jpg" iptc.jpg <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
def record(dataset, value): return bytes([0x1c, 2, dataset]) + struct.pack('>H', len(value)) + value
records = record(0, b'\0\4') + record(60, b'163823')
resource = b'8BIM\x04\x04\0\0' + struct.pack('>I', len(records)) + records
segment = b'Photoshop 3.0\0' + resource
open(sys.argv[2], 'wb').write(data[:2] + b'\xff\xed' + struct.pack('>H', len(segment) + 2) + segment + data[2:])
PY
"$render" -q -o iptc-out.jpg iptc.jpg && [ "$(exiftool -s3 -IPTC:TimeCreated iptc-out.jpg)" = 16:38:23 ] \
  || fail "IPTC's time became $(exiftool -s3 -IPTC:TimeCreated iptc-out.jpg)"

echo "TIFF: resolution from EXIF, no description under --strip, pages of any size"
cp "$cameras/Canon_40D.jpg" dpi.jpg && exiftool -q -q -overwrite_original -XResolution=300 -YResolution=300 -ResolutionUnit=inches dpi.jpg \
  && "$render" -q -o dpi.webp dpi.jpg && "$render" -q -o dpi.tif dpi.webp || fail "cannot render through WebP"
[ "$(exiftool -s3 -XResolution dpi.tif)" = 300 ] || fail "the TIFF says $(exiftool -s3 -XResolution dpi.tif) dpi"
cp "$cameras/Arbitro.tiff" described.tif && chmod u+w described.tif && exiftool -q -q -overwrite_original -ImageDescription=/home/drone/flight described.tif \
  && "$render" -q --strip -o stripped.tif described.tif && [ -z "$(exiftool -s3 -ImageDescription stripped.tif)" ] \
  || fail "--strip kept the description"
convert -size 64x48 xc:gray -size 32x20 xc:white mixed.tif && "$render" -q -o mixed-out.tif mixed.tif \
  && [ "$(identify -format '%wx%h ' mixed-out.tif)" = "64x48 32x20 " ] || fail "pages of two sizes: $(identify mixed-out.tif)"
"$render" -q -o mixed-out.png mixed.tif 2>said.txt
[ $? = 1 ] && grep -q "TIFF" said.txt || fail "pages of two sizes into PNG: $(cat said.txt)"

echo "--salvage is offered where it keeps something"
python3 - "$cameras/DSCN0012.jpg" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
start = data.find(b'\xff\xda')
open('cut.jpg', 'wb').write(data[:start + (len(data) - start) // 2])
PY
"$render" -q -o cut.png cut.jpg 2>said.txt
grep -q "(--salvage renders what can be read)" said.txt || fail "a cut JPEG: $(cat said.txt)"
"$render" -q --salvage -o cut.png cut.jpg 2>said.txt && grep -q "warning: damaged" said.txt \
  || fail "--salvage on a cut JPEG: $(cat said.txt)"
echo "camera-bytes: ok"
