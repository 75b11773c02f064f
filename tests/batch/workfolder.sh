# Sourced by the renderer's script tests: `render` is the program given as
# the first argument; the test runs in a temporary folder, removed at exit;
# fail() names the test and ends it.
set -uo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "$(basename "$0" .sh): $*" >&2; exit 1; }
