# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the renderer's script tests: `render` is the program given as
# the first argument; the test runs in a temporary folder, removed at exit;
# fail() names the test and ends it.
set -uo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }
# The processes below PID, at any depth: the program's template and its
# jobs' processes (named il-template and il-job).
descendants() {
  local child
  for child in $(pgrep -P "$1"); do echo "$child"; descendants "$child"; done
}
# The jobs' processes below PID.
jobProcesses() {
  local process
  for process in $(descendants "$1"); do
    [ "$(cat "/proc/$process/comm" 2>/dev/null)" = il-job ] && echo "$process"
  done
}
