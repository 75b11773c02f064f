#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# No built or installed program looks for libraries in the working folder:
# every RPATH entry is absolute or starts at the program's own ($ORIGIN).
# Usage: runpath.sh BUILD_DIR PROGRAM...
set -euo pipefail
build=$1
shift
installed=$(mktemp -d)
trap 'rm -rf "$installed"' EXIT
cmake --install "$build" --prefix "$installed" >/dev/null
checked=0
for program in "$@" "$installed"/bin/*; do
  paths=$(readelf -d "$program" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\2/p')
  checked=$((checked + 1))
  [ -n "$paths" ] || continue
  # The extra colon keeps a trailing empty entry, which read would drop.
  IFS=: read -ra entries <<<"$paths:"
  for entry in "${entries[@]}"; do
    case $entry in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *) echo "$program: RPATH [$paths] holds '$entry', which names the working folder"; exit 1 ;;
    esac
  done
done
[ "$checked" -ge 4 ] || { echo "only $checked programs checked"; exit 1; }
echo "runpath: $checked programs, no entry names the working folder"
