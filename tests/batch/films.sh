#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Films in one command: a table of clips made here with ffmpeg (a rate of
# 24000/1001 with sound and chapters, a rotation, a variable rate, HD with colour tags,
# 10 bits, a phone's clip with subtitles, GPS, make, model and creation
# time), each rendered and compared with ffprobe and exiftool before and
# after: streams, pictures and their timestamps, duration, rate, rotation,
# colour tags, metadata, fast start; then its pictures against the input's
# mapped by the program's own table in RGB (both decoded with the source's
# matrix and range), and against the other branch, which must differ.
# Hostile films fail alone, each with one line.
# Usage: films.sh RENDER_PROGRAM
set -euo pipefail
render=$(realpath "$1")
for tool in ffmpeg ffprobe exiftool python3 vipsheader; do
  command -v "$tool" >/dev/null || { echo "films: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "films: $*" >&2
  exit 1
}
make_clip() { ffmpeg -nostdin -v error -y "$@"; }
printf '1\n00:00:00,000 --> 00:00:01,000\nhello\n\n2\n00:00:01,000 --> 00:00:02,000\nworld\n' > subs.srt
printf ';FFMETADATA1\ntitle=Two parts\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=First\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Second\n' > chapters.txt

# name | how ffmpeg makes it (after its inputs) | what exiftool must still find
clips=(
  "rate.mp4|-f lavfi -i testsrc2=size=320x240:rate=24000/1001 -f lavfi -i sine=frequency=440:sample_rate=48000 -i chapters.txt -map_metadata 2 -map_chapters 2 -map 0 -map 1 -t 2 -c:v libx264 -pix_fmt yuv420p -c:a aac|"
  "rotated.mp4|-f lavfi -i testsrc2=size=320x240:rate=30 -t 1 -c:v libx264 -pix_fmt yuv420p|Rotation"
  "vfr.mp4|-f lavfi -i testsrc2=size=320x240:rate=30 -t 2 -vf setpts=if(lt(N\\,30)\\,N\\,2*N-30)/30/TB -fps_mode passthrough -c:v libx264|"
  "hd.mp4|-f lavfi -i smptehdbars=size=1280x720:rate=25 -t 0.4 -c:v libx264 -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv|"
  "ten.mkv|-f lavfi -i testsrc2=size=320x240:rate=25 -t 1 -c:v libx265 -x265-params log-level=error -pix_fmt yuv420p10le|"
  "phone.mov|-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -i subs.srt -t 2 -map 0 -map 1 -map 2 -c:v libx264 -c:a aac -c:s mov_text -movflags use_metadata_tags -metadata creation_time=2024-05-01T10:20:30Z -metadata com.apple.quicktime.location.ISO6709=+48.8577+002.2950+035.000/ -metadata com.apple.quicktime.make=Apple -metadata com.apple.quicktime.model=iPhone|Make Model GPSCoordinates CreationTime CreateDate"
)

# What ffprobe says of a film that the rendering must keep: every stream
# (kind, codec, pixel format, rate, colour tags, rotation, tags), each
# video stream's pictures and their timestamps, the chapters, the
# container's duration and tags; but the muxer's own name. (A stream's own duration and average
# rate, as ffprobe works them out, count the encoder's delay for B-frames
# that an edit list hides: the container's duration says how long it plays.)
describe() {
  ffprobe -v error -count_frames -show_chapters -show_entries "stream=index,codec_type,codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames,nb_read_packets,color_range,color_space,color_primaries,color_transfer,time_base,start_time:stream_tags:stream_side_data=rotation:format=duration,nb_streams:format_tags" \
    -of flat "$1" | grep -v -i -E '\.tags\.(encoder|duration)=' | sort
  ffprobe -v error -select_streams v -show_entries frame=pts -of csv=p=0 "$1" | md5sum
}
# The boxes at the top of an MP4 or MOV, in order.
boxes() {
  python3 - "$1" <<'EOF'
import struct, sys
data, at, names = open(sys.argv[1], 'rb').read(), 0, []
while at + 8 <= len(data):
    size, kind = struct.unpack('>I4s', data[at:at + 8])
    if size == 1:
        size = struct.unpack('>Q', data[at + 8:at + 16])[0]
    names.append(kind.decode('latin-1'))
    if size < 8:
        break
    at += size
print(' '.join(names))
EOF
}
# A film's pictures as RGB (16 bits for deep sources), decoded with the
# source's matrix and range (an untagged one as players take it).
rgb_frames() {
  local film=$1 source=$2 matrix range depth
  matrix=$(ffprobe -v error -select_streams v:0 -show_entries stream=color_space -of default=nw=1:nk=1 "$source")
  range=$(ffprobe -v error -select_streams v:0 -show_entries stream=color_range -of default=nw=1:nk=1 "$source")
  read -r width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$source" | tr x ' ')
  case $matrix in bt709 | bt470bg | smpte170m | bt2020nc) ;; *) matrix=$([ "$width" -ge 1280 ] || [ "$height" -gt 576 ] && echo bt709 || echo bt601) ;; esac
  [ "$range" = pc ] && range=pc || range=tv
  depth=$(ffprobe -v error -select_streams v:0 -show_entries stream=bits_per_raw_sample,pix_fmt -of csv=p=0 "$source")
  local format=rgb24
  [[ $depth == *10* || $depth == *12* ]] && format=rgb48be
  ffmpeg -nostdin -v error -noautorotate -i "$film" -map 0:v:0 \
    -vf "scale=in_color_matrix=$matrix:in_range=$range,format=$format" -f image2pipe -c:v ppm -
}
# The PSNR (average over the pictures, dB) of two streams of PPM pictures.
psnr() {
  ffmpeg -nostdin -v info -f image2pipe -c:v ppm -i "$1" -f image2pipe -c:v ppm -i "$2" \
    -lavfi psnr -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p'
}

for row in "${clips[@]}"; do
  IFS='|' read -r name making kept <<<"$row"
  # shellcheck disable=SC2086 # the table's words are ffmpeg's arguments
  make_clip $making "$name"
  [ "$name" = rotated.mp4 ] && exiftool -q -overwrite_original -Rotation=90 "$name"
  out=out-$name
  "$render" -q -a 4.5 -b upper -Q 100 -o "$out" "$name" || fail "$name: the renderer failed"
  describe "$name" > "$name.before"
  describe "$out" > "$name.after"
  # The encoder may name its own profile, level and bit rate: the rest must be kept.
  diff "$name.before" "$name.after" > "$name.diff" \
    || { cat "$name.diff"; fail "$name: what ffprobe sees changed"; }
  case $name in
    rotated.mp4) grep -q 'rotation=-90$' "$name.after" || fail "$name: the rotation is gone" ;;
    hd.mp4) grep -q 'color_space="bt709"$' "$name.after" || fail "$name: the colour tags are gone" ;;
    ten.mkv) grep -q 'pix_fmt="yuv420p10le"$' "$name.after" || fail "$name: 10 bits became fewer" ;;
  esac
  for tag in $kept; do
    before=$(exiftool -s3 -a -"$tag" "$name")
    after=$(exiftool -s3 -a -"$tag" "$out")
    [ -n "$before" ] && [ "$before" = "$after" ] || fail "$name: exiftool's $tag was '$before', is '$after'"
  done
  case $name in
    *.mp4 | *.mov) [[ $(boxes "$out") == "ftyp moov "* ]] || fail "$name: no fast start: $(boxes "$out")" ;;
  esac
  rgb_frames "$name" "$name" | "$render" -q -a 4.5 -b upper -o - - > "$name.expected.ppm"
  rgb_frames "$name" "$name" | "$render" -q -a 4.5 -b lower -o - - > "$name.other.ppm"
  rgb_frames "$out" "$name" > "$name.rendered.ppm"
  same=$(psnr "$name.rendered.ppm" "$name.expected.ppm")
  other=$(psnr "$name.rendered.ppm" "$name.other.ppm")
  python3 -c "import sys; s, o = float(sys.argv[1]), float(sys.argv[2]); sys.exit(not (s >= 38 and o < 15))" \
    "$same" "$other" || fail "$name: PSNR $same dB against its map (38 at least), $other against the other branch"
  echo "$name: $(grep -c 'codec_type=' "$name.after") streams, $(grep -m1 '0.r_frame_rate' "$name.after" | cut -d. -f4), $(grep -m1 '0.nb_read_frames' "$name.after" | cut -d. -f4), $(grep '^format.duration' "$name.after" | cut -d. -f2-), kept as ffprobe and exiftool see them; PSNR $same dB (other branch $other dB)"
done

echo "-r finds films among photographs, by suffix in any case or by first bytes"
mkdir -p tree/card
cp rate.mp4 tree/card/MVI_0001.MP4
cp phone.mov tree/card/clip
"$render" -q -f heif -o tree/card/IMG_0002.HEIC
"$render" -q -o tree/card/IMG_0003.JPG
"$render" -q --seed 1 -r tree -d rendered || fail "the tree did not render"
for made in MVI_0001.MP4 clip.mov IMG_0002.HEIC IMG_0003.JPG; do
  [ -s "rendered/tree/card/$made" ] || fail "-r wrote no $made: $(find rendered | sort)"
done
[ "$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 rendered/tree/card/clip.mov | sort | tr '\n' ' ')" = "audio subtitle video " ] \
  || fail "the film found by its first bytes lost streams"
[ "$(vipsheader -f format rendered/tree/card/IMG_0002.HEIC 2>/dev/null || echo none)" != none ] \
  || fail "the HEIF picture among films was not rendered as one"

echo "a film with a codec the container cannot hold as it is, and hostile films, fail alone"
"$render" -q -o subs-in.mkv phone.mov 2> refused.err && fail "mov_text went into Matroska"
grep -q 'cannot go into Matroska' refused.err || fail "the refusal does not say why: $(cat refused.err)"
[ ! -e subs-in.mkv ] || fail "a refused film left an output"
echo font >font.ttf && make_clip -f lavfi -i testsrc2=size=160x120:rate=10 -t 1 -c:v libx264 -attach font.ttf \
  -metadata:s:t mimetype=application/x-truetype-font attached.mkv
"$render" -q -o attached-out.mkv attached.mkv && [ "$(ffprobe -v error -show_entries stream=codec_type \
  -of csv=p=0 attached-out.mkv | tr '\n' ' ')" = "video attachment " ] || fail "Matroska lost its attachment"
"$render" -q -o attached.mp4 attached.mkv 2>refused.err && fail "an attachment went into MP4"
grep -q 'its attachment cannot go into MP4' refused.err || fail "the attachment's refusal: $(cat refused.err)"
ffmpeg -nostdin -v error -y -i rate.mp4 -c copy -movflags +faststart whole.mp4
head -c $(($(stat -c %s whole.mp4) / 2)) whole.mp4 > cut.mp4
(head -c 12 rate.mp4 && head -c 4096 /dev/zero | tr '\0' 'x') > header.mp4
printf '\x1a\x45\xdf\xa3garbage' > header.mkv
status=0
"$render" -q -d hostile cut.mp4 header.mp4 header.mkv rate.mp4 2> hostile.err || status=$?
[ "$status" = 1 ] || fail "hostile films: status $status"
[ "$(wc -l < hostile.err)" = 3 ] || fail "hostile films: not one line each: $(cat hostile.err)"
for bad in cut.mp4 header.mp4 header.mkv; do
  grep -q "^inverse-logistic-render: $bad: " hostile.err || fail "no line for $bad: $(cat hostile.err)"
  [ ! -e "hostile/$bad" ] || fail "$bad left an output"
done
[ -s hostile/rate.mp4 ] || fail "the good film beside them was not rendered"
cat hostile.err
echo "films: all kept"
