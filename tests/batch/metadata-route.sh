#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Each file's metadata route, on real camera files and every output format
# that holds metadata. Where the output holds EXIF as one block (JPEG, PNG,
# WebP), the block is the input's byte for byte but for the bytes zeroed
# in place (pictures, the thumbnail directory's link), so maker notes keep
# every entry's offset, type and count; elsewhere (TIFF, HEIF) the maker
# note's values read the same, or one line names its maker. No output holds
# a picture of the unrendered input, none gets a validation warning its
# input lacked (TIFF's and HEIF's EXIF are written anew, whose readers may
# judge differently), and nothing is said of what was kept. Then: extended
# XMP, a TIFF of several pages, no EXIF made up, raw files refused, and
# -Q keep.
# Usage: metadata-route.sh RENDER_PROGRAM
cameras=$(realpath "$(dirname "$0")/../data/camera")
source "$(dirname "$0")/workfolder.sh"

# Every picture exiftool can pull out of a file's metadata, as one stream.
pictures() {
  exiftool -q -q -a -b -PreviewImage -ThumbnailImage -JpgFromRaw -OtherImage -PreviewTIFF \
    -ThumbnailTIFF "$1" 2>/dev/null
}
makernote() { exiftool -a -G1 -q -q -n -s -MakerNotes:all "$1" | grep -vE '^\[[^]]*\] *(Preview|Thumbnail)' | sort; }
warnings() { exiftool -a -validate -warning "$1" | sed -n 's/^Warning *: //p' | sort; }
# Whether the output's EXIF block is the input's, each byte equal or zeroed.
same_block() { # INPUT OUTPUT
  python3 - <(exiftool -b -EXIF "$1") <(exiftool -b -EXIF "$2") <<'PY'
import sys
a, b = (open(name, 'rb').read() for name in sys.argv[1:3])
changed = [i for i in range(min(len(a), len(b))) if a[i] != b[i] and b[i] != 0]
sys.exit(0 if a and len(a) == len(b) and not changed else 1)
PY
}

# file | in TIFF: kept or the maker named | in HEIF: the same
table=(
  "Canon_PowerShot_S40.jpg|kept|Canon"
  "Canon_IXUS_40_offsetschema.jpg|Canon|Canon"
  "Nikon_D300_shotinfo.jpeg|NIKON|NIKON"
  "Nikon_E5000.jpg|NIKON|NIKON"
  "DSCN0012.jpg|NIKON|NIKON"
  "Panasonic_DMC-FZ30.jpg|kept|Panasonic"
  "sanyo-vpcsx550.jpg|SANYO|SANYO"
  "Canon_40D.jpg|kept|kept"
  "Canon_PowerShot_S330.jpg|Canon|Canon"
)
for row in "${table[@]}"; do
  IFS='|' read -r file tiff heif <<<"$row"
  input="$cameras/$file"
  for format in jpg png webp tif heic; do
    out="$file.$format"
    "$render" -q -o "$out" "$input" 2>said.txt || fail "$file to $format failed: $(cat said.txt)"
    ! pictures "$out" | grep -aP '\xff\xd8\xff' >/dev/null || fail "$out holds a picture of the unrendered input"
    case $format in
      jpg | png | webp)
        [ ! -s said.txt ] || fail "$out: $(cat said.txt)"
        same_block "$input" "$out" || fail "$out: the EXIF block is not the input's"
        new=$(comm -13 <(warnings "$input") <(warnings "$out"))
        [ -z "$new" ] || fail "$out: exiftool warns: $new" ;;
      *)
        maker=$([ "$format" = tif ] && echo "$tiff" || echo "$heif")
        if [ "$maker" = kept ]; then
          [ ! -s said.txt ] || fail "$out: $(cat said.txt)"
          lost=$(comm -23 <(makernote "$input") <(makernote "$out"))
          [ -z "$lost" ] || fail "$out lost maker-note values: $(head -3 <<<"$lost")"
        else
          grep -qF "maker note ($maker) not kept in $([ "$format" = tif ] && echo TIFF || echo HEIF)" said.txt \
            && [ "$(grep -c . said.txt)" = 1 ] || fail "$out: said $(cat said.txt)"
          [ -z "$(makernote "$out")" ] || fail "$out holds a maker note it was said to lose"
        fi ;;
    esac
  done
  printf '%-32s blocks as written; in TIFF %-9s in HEIF %s\n' "$file" "$tiff," "$heif"
done

echo "HEIC: its XMP as written, its Apple maker note named where it cannot go"
"$render" -q -o heic.jpg "$cameras/IMG_5195.HEIC" 2>said.txt && [ ! -s said.txt ] \
  && cmp -s <(exiftool -b -XMP "$cameras/IMG_5195.HEIC") <(exiftool -b -XMP heic.jpg) \
  || fail "HEIC to JPEG: the XMP changed, or: $(cat said.txt)"
"$render" -q -o heic.tif "$cameras/IMG_5195.HEIC" 2>said.txt
grep -q "maker note (Apple) not kept in TIFF" said.txt || fail "HEIC to TIFF: $(cat said.txt)"

echo "extended XMP: kept in JPEG as written, merged elsewhere, named where it cannot go"
cp "$cameras/Canon_40D.jpg" extended-in.jpg && python3 -c "print('word ' * 17000)" >long.txt \
  && exiftool -q -q -overwrite_original '-XMP-dc:Description<=long.txt' extended-in.jpg \
  && [ -n "$(exiftool -s3 -HasExtendedXMP extended-in.jpg)" ] || fail "cannot make extended XMP"
for format in jpg png webp tif; do
  "$render" -q -o "extended.$format" extended-in.jpg 2>said.txt && [ ! -s said.txt ] || fail "$format: $(cat said.txt)"
  [ "$(exiftool -s3 -XMP-dc:Description "extended.$format")" = "$(exiftool -s3 -XMP-dc:Description extended-in.jpg)" ] \
    || fail "extended XMP lost in $format"
  pointer=$(exiftool -s3 -HasExtendedXMP "extended.$format")
  [ "$format" = jpg ] && [ -z "$pointer" ] && fail "the JPEG lost the pointer to its extension"
  [ "$format" != jpg ] && [ -n "$pointer" ] && fail "$format points at an extension it has not"
done
"$render" -q -o extended.gif extended-in.jpg 2>said.txt
grep -q "XMP and its extension: GIF holds none" said.txt || fail "extended XMP into GIF: $(cat said.txt)"

echo "a TIFF of several pages, alike and apart, keeps XMP, IPTC and EXIF"
convert -size 64x48 xc:red xc:blue alike.tif && convert -size 64x48 xc:gray -size 32x20 xc:white apart.tif
for pages in alike apart; do
  exiftool -q -q -overwrite_original -Artist=Ann -Copyright='CC BY' -XMP-dc:Title=Title -IPTC:Keywords=kw \
    -DateTimeOriginal='2021:02:03 04:05:06' -GPSLatitude=48.85 -GPSLatitudeRef=N "$pages.tif"
  "$render" -q -o "$pages-out.tif" "$pages.tif" 2>said.txt && [ ! -s said.txt ] || fail "$pages: $(cat said.txt)"
  [ "$(identify "$pages-out.tif" | wc -l)" = 2 ] || fail "$pages: pages lost"
  kept=$(exiftool -q -q -T -Artist -Copyright -XMP-dc:Title -IPTC:Keywords -DateTimeOriginal -GPSLatitude# "$pages-out.tif")
  [ "$kept" = $'Ann\tCC BY\tTitle\tkw\t2021:02:03 04:05:06\t48.85' ] || fail "$pages kept: $kept"
  # libtiff knows IPTC's tag as bytes, and libvips writes XMP on every page,
  # which exiftool calls non-standard, if minor.
  new=$(comm -13 <(warnings "$pages.tif") <(warnings "$pages-out.tif") \
    | grep -vE 'format \(undef\) for IFD0 0x83bb IPTC-NAA|XMP at TIFF-IFD[0-9]+-XMP')
  [ -z "$new" ] || fail "$pages-out.tif: exiftool warns: $new"
done

echo "nothing made up: no EXIF where the input had none (a TIFF upright says nothing more)"
"$render" -q -a 5 -o plain-in.png
for input in plain-in.png "$cameras/Arbitro.tiff"; do
  for format in jpg webp png; do
    "$render" -q -y -o "plain.$format" "$input" || fail "$input to $format"
    [ -z "$(exiftool -q -q -EXIF:all "plain.$format")" ] || fail "$input to plain.$format got EXIF"
  done
done

echo "raw files: refused with one line, and counted in a tree"
convert -size 64x48 xc:gray dng.tif && exiftool -q -q -overwrite_original -DNGVersion=1.4.0.0 dng.tif
mkdir -p card/DCIM && cp dng.tif card/DCIM/IMG_0001.DNG && printf 'IIRO\010\0\0\0' >card/DCIM/P0001.ORF \
  && cp "$cameras/Canon_40D.jpg" card/DCIM/IMG_0002.JPG
"$render" -q -o dng.jpg dng.tif 2>said.txt
[ $? = 1 ] && [ "$(cat said.txt)" = "inverse-logistic-render: dng.tif: a raw file; develop it first" ] \
  || fail "a DNG-structured file: $(cat said.txt)"
"$render" -q -r -d developed card 2>said.txt
[ $? = 1 ] && [ "$(grep -c 'a raw file; develop it first' said.txt)" = 2 ] && [ -f developed/card/DCIM/IMG_0002.JPG ] \
  || fail "raw files in a tree: $(cat said.txt)"
echo "-Q keep: a JPEG's quality and chroma into a JPEG"
for coding in 95:1x1 75:2x2 88:2x1; do
  IFS=: read -r quality sampling <<<"$coding"
  convert plain-in.png -quality "$quality" -sampling-factor "$sampling" "q$quality.jpg"
  "$render" -q -Q keep -o "q$quality-out.jpg" "q$quality.jpg" || fail "-Q keep on Q $quality"
  # libvips writes no 4:2:2: it halves the colour both ways.
  want="$quality ${sampling/2x1/2x2},1x1,1x1"
  got=$(identify -format '%Q %[jpeg:sampling-factor]' "q$quality-out.jpg")
  [ "$got" = "$want" ] || fail "-Q keep on Q $quality $sampling gave $got"
done
"$render" -q -o q95-default.jpg q95.jpg && [ "$(identify -format %Q q95-default.jpg)" = 90 ] \
  || fail "without -Q keep, a JPEG is written at $(identify -format %Q q95-default.jpg)"
echo "metadata-route: ok"
