#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages as a user installs them, on a bare Debian 12
# (debootstrap --variant=minbase, kept in the build folder between runs):
# `apt install ./...deb` of both, a JPEG and a film rendered, the man pages found, the
# window started under Xvfb, then `apt purge`, after which nothing of either
# is left under /usr. Skipped (status 77) where it cannot run: not root, no
# debootstrap, no way to Debian's archive, or a sanitizer build, whose
# programs are no package's.
# Usage: install.sh BUILD_DIR
set -uo pipefail
build=$(realpath "$1")
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "packages: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || skip "installing into a chroot needs root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed"
[ -z "${ASAN_OPTIONS:-}" ] || skip "a sanitizer build is packaged by no one"
getent hosts deb.debian.org >/dev/null || skip "deb.debian.org, where the bare system and the libraries come from, cannot be found"

work=$(mktemp -d -p "$build" packages-test.XXXXXX)
root=$work/root
cleanup() {
  umount -l "$root/proc" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

echo "packages: built from this build"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 \
  || fail "cpack: $(tail -5 "$work/cpack.log")"
for deb in "$work"/debs/*.deb; do
  echo "  $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
  echo "    Depends: $(dpkg-deb -f "$deb" Depends)"
done
depends=$(dpkg-deb -f "$work"/debs/inverse-logistic-render_*.deb Depends)
for library in libqt6gui6 libqt6widgets6 libgl1 libx11-6; do
  [[ " $depends," != *" $library "* && " $depends," != *" $library,"* ]] \
    || fail "the renderer depends on $library"
done

echo "packages: a bare Debian 12"
bare=$build/debian12-minbase.tar
if [ ! -f "$bare" ]; then
  debootstrap --variant=minbase bookworm "$work/bare" http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 \
    || fail "debootstrap: $(tail -5 "$work/debootstrap.log")"
  tar -C "$work/bare" -cf "$bare.part" . && mv "$bare.part" "$bare" && rm -rf "$work/bare"
fi
mkdir "$root" && tar -C "$root" -xf "$bare" || fail "cannot unpack $bare"
cat >"$root/etc/apt/sources.list" <<'SOURCES'
deb http://deb.debian.org/debian bookworm main
deb http://deb.debian.org/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
SOURCES
mount -t proc proc "$root/proc" || fail "cannot mount /proc in the chroot"
cp "$work"/debs/*.deb "$root/tmp/"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=10 -t 0.5 -c:v libx264 -pix_fmt yuv420p \
  "$root/tmp/clip.mp4" || fail "cannot make a film"
# Downloads kept from an earlier run are used again.
cache=$build/packages-test-apt-cache
mkdir -p "$cache" && cp "$cache"/*.deb "$root/var/cache/apt/archives/" 2>/dev/null
inside() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive sh -c "$1" >>"$work/inside.log" 2>&1 \
    || fail "$2: $(tail -15 "$work/inside.log")"
}

inside "apt-get update -q && apt-get install -y -q --no-install-recommends /tmp/*.deb \
        && apt-get install -y -q --no-install-recommends man-db xvfb xauth x11-utils" "apt install"
cp "$root"/var/cache/apt/archives/*.deb "$cache/" 2>/dev/null
echo "packages: installed $(chroot "$root" dpkg-query -W -f '${Package} ${Version}\n' inverse-logistic inverse-logistic-render | paste -sd,)"

inside "cd /tmp && inverse-logistic-render -q -o in.jpg && inverse-logistic-render -q -a 5 -b lower -o out.jpg in.jpg \
        && [ \"\$(od -An -tx1 -N3 out.jpg | tr -d ' ')\" = ffd8ff ]" "rendering a JPEG"
inside "cd /tmp && inverse-logistic-render -q -o out.mp4 clip.mp4 && [ -s out.mp4 ]" \
  "rendering a film, through the film module the package installs"
inside "man -w inverse-logistic-render && man -w inverse-logistic" "the man pages"
inside "[ -f /usr/share/bash-completion/completions/inverse-logistic-render ] \
        && [ -f /usr/share/bash-completion/completions/inverse-logistic ] \
        && grep -q GPL-3.0-or-later /usr/share/doc/inverse-logistic-render/copyright \
        && grep -q GPL-3.0-or-later /usr/share/doc/inverse-logistic/copyright" "completion and licence"
inside "xvfb-run -a inverse-logistic --version | grep -qx 'inverse-logistic 1.00'" "the window's --version"
inside "xvfb-run -a sh -c 'inverse-logistic & window=\$!
          for i in \$(seq 300); do
            xwininfo -root -tree | grep -q '\"Form1\"' && { kill \$window; exit 0; }
            sleep 0.1
          done; exit 1'" "starting the window under Xvfb"
echo "packages: rendered a JPEG, found both man pages, completions and licences, started the window under Xvfb"

files=$(chroot "$root" dpkg -L inverse-logistic inverse-logistic-render | sort -u)
inside "apt-get purge -y -q inverse-logistic inverse-logistic-render" "apt purge"
left=$(chroot "$root" find /usr -name '*inverse-logistic*')
for path in $files; do [ -f "$root$path" ] && left="$left $path"; done
[ -z "$left" ] || fail "left under /usr after purge: $left"
echo "packages: purged, nothing left under /usr"
