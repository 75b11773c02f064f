#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Bash completion of the renderer: its options as --help lists them, the
# formats it writes after -f, the branches after -b.
# Usage: completion.sh RENDER_PROGRAM COMPLETION_SCRIPT
source "$(dirname "$0")/workfolder.sh"
# shellcheck source=/dev/null
source "$2"
complete_words() {
  COMP_WORDS=("$render" "$@")
  COMP_CWORD=$#
  _inverse_logistic_render "$render" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  echo "${COMPREPLY[*]}"
}
# words typed | what completes them
while IFS='|' read -r words expected; do
  # shellcheck disable=SC2086 # the words are words
  got=$(complete_words $words)
  [ "$got" = "$expected" ] || fail "'$words' completes to '$got', not '$expected'"
done <<'TABLE'
--js|--json
--auto|--autorotate
-b u|upper
-f we|webp
--tiff-compression z|zstd
TABLE
echo "completion: ok"
