#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What a user sees of a camera archive: which images a tree holds, what -v
# says of each (its branch as rendered), a resumed run said once, and the
# sheet to choose a by (its cells as the renderings, each labelled).
# Usage: archive.sh RENDER_PROGRAM
source "$(dirname "$0")/workfolder.sh"

echo "a tree: images by suffix in any case or by first bytes, nothing that stalls"
mkdir -p photos/DCIM/100CANON
for name in A.JPG B.jpeg C.Png; do "$render" -q -o "photos/DCIM/100CANON/$name" || fail "cannot make $name"; done
cp photos/DCIM/100CANON/A.JPG photos/DCIM/NOSUFFIX
printf 'notes\n' > photos/README
mkfifo photos/DCIM/100CANON/planted.jpg
"$render" -q -r -d out photos 2>said.txt || fail "the tree failed: $(cat said.txt)"
[ "$(cd out && find . -type f | sort | tr '\n' ' ')" = \
  "./photos/DCIM/100CANON/A.JPG ./photos/DCIM/100CANON/B.jpeg ./photos/DCIM/100CANON/C.Png ./photos/DCIM/NOSUFFIX.jpg " ] \
  || fail "the tree gave: $(cd out && find . -type f | sort)"

echo "the tree stays a tree: a link out of it is passed over with a line, the output folder is no input"
mkdir -p secret up/sub && cp photos/DCIM/100CANON/A.JPG secret/private.jpg && cp secret/private.jpg up/a.jpg
ln -s ../../secret/private.jpg up/sub/stolen.jpg
ln -s "$work/secret/private.jpg" up/sub/absolute.jpg
ln -s ../a.jpg up/sub/inside.jpg
mkdir -p up/out/earlier && cp up/a.jpg up/out/earlier/a.jpg
"$render" -q -r -d up/out up 2>said.txt || fail "a tree with links: $(cat said.txt)"
[ "$(grep -c 'passed over: a link that leads out of up or gives an absolute path$' said.txt)" = 2 ] && [ "$(wc -l <said.txt)" = 2 ] \
  || fail "links out of the tree said: $(cat said.txt)"
[ "$(cd up/out && find . -type f | sort | tr '\n' ' ')" = "./earlier/a.jpg ./up/a.jpg ./up/sub/inside.jpg " ] \
  || fail "a tree with links gave: $(cd up/out && find . -type f | sort)"

echo "several folders keep their names, as cp -r keeps them; DIR/. gives what is in it"
mkdir -p cards/100CANON cards/101CANON && cp photos/DCIM/100CANON/A.JPG cards/100CANON/IMG_0001.JPG \
  && cp photos/DCIM/100CANON/A.JPG cards/101CANON/IMG_0001.JPG
rm -rf out && "$render" -q -r -d out cards/100CANON cards/101CANON/ && "$render" -q -r -d contents cards/. \
  || fail "several folders failed"
[ "$(cd out && find . -type f | sort | tr '\n' ' ')" = "./100CANON/IMG_0001.JPG ./101CANON/IMG_0001.JPG " ] \
  && [ "$(cd contents && find . -type f | sort | tr '\n' ' ')" = "./100CANON/IMG_0001.JPG ./101CANON/IMG_0001.JPG " ] \
  || fail "several folders gave: $(find out contents -type f)"
mkdir -p x/photos y/photos && cp cards/100CANON/IMG_0001.JPG x/photos/ && cp cards/100CANON/IMG_0001.JPG y/photos/
"$render" -q -r -d clash x/photos y/photos 2>said.txt
[ $? = 1 ] && grep -q "would both be written to clash/photos/IMG_0001.JPG; nothing was rendered (give the folders above them with -r, as -r -d clash x y, to keep them apart)" said.txt \
  || fail "a clash said: $(cat said.txt)"

echo "sidecars go with their renderings, named after them, as written, and not with --strip"
mkdir -p xmp && cp cards/100CANON/IMG_0001.JPG xmp/ && cp cards/100CANON/IMG_0001.JPG xmp/IMG_0002.JPG \
  && printf '<x:xmpmeta one/>' >xmp/IMG_0001.xmp && printf '<x:xmpmeta two/>' >xmp/IMG_0002.JPG.xmp
"$render" -r -f png -d sidecars xmp 2>said.txt && cmp xmp/IMG_0001.xmp sidecars/xmp/IMG_0001.xmp \
  && cmp xmp/IMG_0002.JPG.xmp sidecars/xmp/IMG_0002.png.xmp && grep -q "2 sidecars carried" said.txt \
  || fail "sidecars: $(cat said.txt; find sidecars)"
"$render" -q -r --strip -d stripped xmp && [ -z "$(find stripped -name '*.xmp')" ] \
  || fail "--strip carried a sidecar"
# A sidecar is no way to another file: one that is a link is not followed;
# a private image's rendering, and its sidecar, stay private.
mkdir -p private && cp cards/100CANON/IMG_0001.JPG private/a.jpg && chmod 600 private/a.jpg \
  && ln -s /proc/self/environ private/a.xmp && cp private/a.jpg private/b.jpg && printf '<x/>' >private/b.xmp \
  && chmod 600 private/b.xmp
"$render" -q -d kept private/a.jpg private/b.jpg && [ ! -e kept/a.xmp ] \
  && [ "$(stat -c %a kept/a.jpg kept/b.jpg kept/b.xmp | sort -u)" = 600 ] \
  || fail "a linked or private sidecar: $(ls -l kept)"

echo "a folder rendered into itself: its last run's outputs are no inputs of the next"
mkdir -p self && cp cards/100CANON/IMG_0001.JPG self/a.jpg
"$render" -q -r -d self self && "$render" -q -r --skip-existing -d self self \
  && [ "$(find self -type f | sort | tr '\n' ' ')" = "self/a.jpg self/self/a.jpg " ] \
  || fail "a folder rendered into itself: $(find self -type f)"

echo "-v names each image's branch, as rendered"
rm -rf out && "$render" -q -v --seed 3 -r -d out photos 2>said.txt || fail "$(cat said.txt)"
[ "$(grep -c ' -> ' said.txt)" = 4 ] || fail "-v said: $(cat said.txt)"
while read -r input _ output branch _; do
  "$render" -q -b "${branch%%,*}" --seed 3 -o "check.${output##*.}" "$input" \
    && cmp -s "${output%:}" "check.${output##*.}" || fail "$input was not rendered on the $branch branch -v named"
  rm -f check.*
done < <(grep ' -> ' said.txt | sed 's/: / /')

echo "a resumed run names a few existing outputs, then counts them"
for n in 1 2 3 4 5 6; do cp photos/DCIM/100CANON/A.JPG "many$n.jpg"; done
"$render" -q -d again many*.jpg && "$render" -q -d again many*.jpg 2>said.txt
# Outputs already there are their own outcome, with a status of their own.
[ $? = 3 ] && [ "$(grep -c 'already exists' said.txt)" = 3 ] \
  && grep -q '^inverse-logistic-render: 3 more outputs already exist (.*--skip-existing' said.txt \
  && [ "$(wc -l < said.txt)" = 4 ] || fail "a resumed run said: $(cat said.txt)"

echo "a sheet: each cell the rendering, each label its own"
"$render" -q --sheet 4,5,6 -o sheet.png || fail "no sheet"
"$render" -q -o photo.png && width=$(vipsheader -f width photo.png) && height=$(vipsheader -f height photo.png) \
  || fail "no photograph"
gap=12
for cell in "0 lower 4" "1 lower 5" "2 lower 6" "0 upper 4" "2 upper 6"; do
  read -r column branch a <<<"$cell"
  row=$([ "$branch" = lower ] && echo 0 || echo 1)
  rowHeight=$(( ($(vipsheader -f height sheet.png) - 3 * gap) / 2 ))
  x=$((gap + column * (width + gap))) y=$((gap + row * (rowHeight + gap)))
  "$render" -q -y -a "$a" -b "$branch" -o rendered.png
  vips crop sheet.png cell.png "$x" "$y" "$width" "$height"
  vips subtract cell.png rendered.png diff.v && vips abs diff.v apart.v && [ "$(vips max apart.v)" = 0.000000 ] \
    || fail "the cell for a = $a, $branch is not its rendering"
  vips crop sheet.png "label-$column-$row.png" "$x" $((y + height)) "$width" $((rowHeight - height))
  [ "$(vips min "label-$column-$row.png" | cut -d. -f1)" -lt 64 ] || fail "the cell for a = $a, $branch has no label"
done
! cmp -s label-0-0.png label-1-0.png && ! cmp -s label-0-0.png label-0-1.png || fail "two cells share one label"
echo "archive: ok"
