#!/usr/bin/env bash
# samefiles.sh CLI REFERENCE_CLI: two builds (Qt 6 and Qt 5 in CI) draw the
# same default library and make the same tiles, atlas, tilesets, maps and
# level picture from it, byte for byte: with the default design, and with one
# that takes patterns, opacities and the flipped top at sizes that scale the
# masks down and up, in a sheet with every layout option.
set -euo pipefail
# shellcheck source=tests/clirun.sh
. "$(dirname "$0")/clirun.sh"
cli=$1 reference=$2
[ -x "$reference" ] || fail "no program at $reference"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sameFiles "$(dirname "$cli")/Assets" "$(dirname "$reference")/Assets"
appProject "$tmp/design.twr"
n=0
for options in "" "-p $tmp/design.twr -s 48 --columns 7 --margin 3 --spacing 1 --extrude 2 --pot" \
  "-p $tmp/design.twr -s 200"; do
  n=$((n + 1))
  # shellcheck disable=SC2086 # the options are words
  generate "$cli" "$tmp/$n" $options
  # shellcheck disable=SC2086
  generate "$reference" "$tmp/$n-reference" $options
  sameFiles "$tmp/$n" "$tmp/$n-reference"
  echo "same ${options:-defaults}: $(find "$tmp/$n" -type f | wc -l) files"
done
