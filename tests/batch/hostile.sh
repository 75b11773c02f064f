#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Hostile and damaged files, made here from a few header bytes, each fail
# alone: status 1 or 2 (never 0, never a signal), at most one line, nothing
# left in the output folder; and a batch goes on past them. Signals while a
# job runs leave nothing either, and a resumed run completes.
# Usage: hostile.sh RENDER_PROGRAM TRY_ESCAPE_LIBRARY
source "$(dirname "$0")/workfolder.sh"
escape=$2

"$render" -q -a 5 -o p.png || fail "cannot make the test picture"
convert p.png -interlace JPEG prog.jpg
convert p.png plain.jpg
convert p.png -define webp:lossless=true lossless.webp
convert p.png p.png p.png pages.tif
convert -delay 10 p.png \( p.png -flip \) frames.gif
"$render" -q -f ppm -o one.ppm p.png
"$render" -q -o p.avif p.png
python3 - <<'PY'
import struct
def patch(source, target, marker, offset, fmt, *values):
    data = bytearray(open(source, 'rb').read())
    struct.pack_into(fmt, data, data.find(marker) + offset, *values)
    open(target, 'wb').write(data)
# Headers that claim far more pixels than their few bytes hold.
patch('prog.jpg', 'progressive-bomb.jpg', b'\xff\xc2', 5, '>HH', 32767, 32767)
patch('lossless.webp', 'lossless-bomb.webp', b'VP8L', 9, '<I', 16382 | 16382 << 14)
gif = b'GIF89a' + struct.pack('<HHBBB', 16000, 16000, 0x80, 0, 0) + b'\0\0\0\xff\xff\xff'
gif += b',' + struct.pack('<HHHHB', 0, 0, 16000, 16000, 0) + b'\x02\x02\x4c\x01\x00;'
open('frame-bomb.gif', 'wb').write(gif)
# A JPEG whose scan data is cut, its end marker kept.
jpeg = open('prog.jpg', 'rb').read()
start = jpeg.find(b'\xff\xda')
open('cut-scan.jpg', 'wb').write(jpeg[:start + (len(jpeg) - start) // 3] + b'\xff\xd9')
# The same cut behind a harmless oddity, which the decoder reports first and
# alone: padding before the quantisation tables.
plain = bytearray(open('plain.jpg', 'rb').read())
at = plain.find(b'\xff\xdb')
plain[at:at] = b'\x01\x02\x03'
start = plain.find(b'\xff\xda')
open('padded-cut.jpg', 'wb').write(plain[:start + (len(plain) - start) // 3] + b'\xff\xd9')
# A TIFF whose first directory lies past its end.
tiff = bytearray(open('pages.tif', 'rb').read())
struct.pack_into('<I' if tiff[:2] == b'II' else '>I', tiff, 4, len(tiff) + 1000)
open('lost-directory.tif', 'wb').write(tiff)
# Two images apart: far apart, and behind a long header comment.
ppm = open('one.ppm', 'rb').read()
open('apart.ppm', 'wb').write(ppm + b' ' * 100 + ppm)
end = ppm.index(b'\n')
open('commented.ppm', 'wb').write(ppm[:end + 1] + b'#' + b'c' * 5000 + b'\n' + ppm[end + 1:] + ppm)
PY

# Each case: its arguments, then an expected word of its one line.
check() {
  local expect=$1
  shift
  rm -rf out && mkdir out
  "$@" >/dev/null 2>err.txt
  local status=$?
  { [ "$status" = 1 ] || [ "$status" = 2 ]; } || fail "$* gave status $status"
  # A usage error adds only the pointer to --help, a run only its summary.
  [ "$(grep -vEc "^Try '.* --help'|^0 rendered, 0 skipped, 1 failed" err.txt)" -le 1 ] \
    || fail "$* printed $(cat err.txt)"
  grep -q -- "$expect" err.txt || fail "$* said '$(cat err.txt)', not '$expect'"
  [ -z "$(ls -A out)" ] || fail "$* left $(ls -A out)"
}
check "progressive JPEG keeps every coefficient" "$render" -o out/x.png progressive-bomb.jpg
check "each frame is decoded whole" "$render" -o out/x.png frame-bomb.gif
check "each frame is decoded whole" "$render" -o out/x.png lossless-bomb.webp
check "only a TIFF, WebP or GIF output" "$render" -o out/x.png pages.tif
check "only a TIFF, WebP or GIF output" "$render" -o out/x.png frames.gif
check "more than one image" "$render" -o out/x.png apart.ppm
check "more than one image" "$render" -o out/x.png commented.ppm
check "premature end of data segment" "$render" -o out/x.png cut-scan.jpg
check "premature end of data segment" "$render" -o out/x.png padded-cut.jpg
check "bad seek" "$render" -o out/x.png lost-directory.tif
check "holds a NUL byte" "$render" -d out --files-from /dev/zero
check "entry 1 is empty" "$render" -d out --null --files-from /dev/zero
check "the device holds more than --max-memory 8 MiB" "$render" --max-memory 8M -f png -o out/x.png /dev/zero
check "choose the output's with -f" "$render" -d out <(cat p.png)
# Under a limit the program did not set, a decoder that cannot allocate
# fails its file alone. (AddressSanitizer's shadow memory cannot start under
# such a limit, so a sanitized build skips this case.)
[ -n "${ASAN_OPTIONS:-}" ] || check "ran out of memory" sh -c "ulimit -v 1200000; exec \"$render\" --max-memory 0 -d out frame-bomb.gif"
echo "every hostile file failed alone, with one line, leaving nothing"

# What the damage let through, when asked; every page and frame, kept.
"$render" -q --salvage -o salvaged.png cut-scan.jpg 2>err.txt && grep -q warning err.txt \
  || fail "--salvage did not render the cut JPEG with a warning"
"$render" -q -o pages-out.tif pages.tif && "$render" -q -o frames-out.gif frames.gif \
  || fail "pages or frames into formats that keep them failed"
[ "$(identify pages-out.tif | wc -l)" = 3 ] && [ "$(identify frames-out.gif | wc -l)" = 2 ] \
  || fail "pages or frames were lost"
# Standard input, and a pipe given by name, that their loaders must seek in.
"$render" -q -o avif.png - <p.avif || fail "an AVIF on standard input failed"
"$render" -q -y -o avif.png <(cat p.avif) || fail "an AVIF through a named pipe failed"

echo "a batch of 20 with a bomb, a damaged JPEG and a lost directory among them"
mkdir -p batch && for i in $(seq 20); do cp p.png "batch/good$i.png"; done
cp frame-bomb.gif cut-scan.jpg lost-directory.tif batch/
rm -rf out
"$render" -q -d out batch/good{1..10}.png batch/frame-bomb.gif batch/cut-scan.jpg \
  batch/lost-directory.tif batch/good{11..20}.png 2>err.txt
status=$?
[ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 3 ] && [ "$(ls -A out | wc -l)" = 20 ] \
  || fail "the batch gave status $status, $(wc -l <err.txt) lines, $(ls -A out | wc -l) outputs"

echo "outputs that are streams, names of any length, and setuid bits"
"$render" -y -o /dev/stdout p.png >stdout.png && [ -s stdout.png ] && [ -L /dev/stdout ] \
  || fail "-o /dev/stdout did not write standard output"
long=$(printf 'n%.0s' $(seq 251)).png
"$render" -q -o "$long" p.png && [ -s "$long" ] || fail "a 255-byte name could not be written"
cp p.png setuid.png && chmod 6755 setuid.png && "$render" -q -y -o setuid.png p.png
[ "$(stat -c %a setuid.png)" = 755 ] || fail "a replaced file kept mode $(stat -c %a setuid.png)"

echo "signals while a job runs: its output left nowhere"
convert -size 600x400 xc: +noise Random noise.png
mkfifo held.png
for signal in TERM INT HUP KILL; do
  rm -rf out && mkdir out
  "$render" -q -f png -d out held.png 2>err.txt &
  program=$!
  # The job reads the FIFO once this opens it, and waits for bytes that never come.
  exec 3>held.png
  worker=""
  until [ -n "$worker" ]; do worker=$(jobProcesses "$program"); done
  kill -s "$signal" "$program"
  wait "$program"
  status=$?
  exec 3>&-
  while kill -0 "$worker" 2>/dev/null; do sleep 0.05; done
  [ -z "$(ls -A out)" ] || fail "SIG$signal left $(ls -A out)"
  [ "$signal" = KILL ] || [ "$status" = $((128 + $(kill -l "$signal"))) ] \
    || fail "SIG$signal gave status $status: $(cat err.txt)"
done
"$render" -q -d out noise.png && "$render" -q --skip-existing -d out noise.png && [ -s out/noise.png ] \
  || fail "the resumed run failed"

if [ -n "${ASAN_OPTIONS:-}" ]; then
  echo "a decoder that never answers: skipped, as the sanitizers' runtime must be loaded first"
else
  echo "a decoder that never answers, into a folder and into a device"
  "$render" -q -o noise.jpg noise.png || fail "cannot make a JPEG"
  for destination in "-d out" "-f png -o /dev/null"; do
    rm -rf out && mkdir out
    # shellcheck disable=SC2086 # the destination is two or three words
    IL_TRY_ESCAPE=wait LD_PRELOAD=$escape timeout 60 "$render" -q --time-limit 1 $destination noise.jpg \
      2>err.txt
    status=$?
    [ "$status" = 1 ] && [ "$(wc -l <err.txt)" = 1 ] && grep -q "took more than 1 s (--time-limit)" err.txt \
      && [ -z "$(ls -A out)" ] || fail "a stuck decoder ($destination) gave status $status: $(cat err.txt)"
  done
fi
echo "hostile: ok"
