#!/usr/bin/env bash
# Installs what is missing, builds, and writes the full default terrain set
# with the command-line generator: one tile per mask of the bundled library,
# the atlas sheet, a Tiled tileset (.tsx), a Godot 4 TileSet (.tres) and a
# Godot 3 TileSet (_godot3.tres).
#
#   scripts/terrain.sh [folder] [tilewright-cli options...]
#
# The folder defaults to terrain/ in the checkout; further options go to
# tilewright-cli (e.g. -s 64, -p design.twr, --extrude 2; see its --help).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${TW_BUILD_DIR:-$root/build}"

out="$root/terrain"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
  out="$1"
  shift
fi
# The files are named after --name when it is given.
name=tileset
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    -n | --name) name="${args[i + 1]:-$name}" ;;
    --name=*) name="${args[i]#--name=}" ;;
  esac
done

"$build/bin/tilewright-cli" "$out" --atlas --tsx --tres --tres3 "$@"

out="$(cd "$out" && pwd)"
cat <<MSG

The terrain set is in $out:
  $name.png   the atlas sheet, every tile in mask name order
  $name.tsx   Tiled tileset with the terrain's Wang set (terrain brush ready)
              and each tile's collision, type and properties
  $name.tres  Godot 4 TileSet with terrain peering bits and collision
  ${name}_godot3.tres  Godot 3 TileSet: a 3x3 minimal autotile and collision
and one PNG per tile, named like its mask. Platforms are one-way in all three.
MSG
