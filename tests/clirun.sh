# shellcheck shell=bash
# Shared by the script tests: generating with a tilewright-cli and comparing
# what two of them wrote. Sourced, not run.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A design that takes its top shape and pattern from "$app$", so a program
# that got its own folder wrong names them as unreadable and exits 1.
appProject() {
  cat >"$1" <<'XML'
<project><topStyle>$app$/Assets/TopStyles/snow.png</topStyle><topColor>#d4e8f0</topColor><bottomPattern>$app$/Assets/Patterns/bricks.png</bottomPattern><bottomPatternColor>#5a3d2b</bottomPatternColor><bottomPatternOpacity>0.6</bottomPatternOpacity><topDown>1</topDown></project>
XML
}

# generate CLI OUT [options...]: the tiles with the atlas and every engine
# file, quietly; fails naming the program when it does not exit 0.
generate() {
  local cli=$1 out=$2
  shift 2
  "$cli" "$out" --atlas --tmx --tscn --level-png "$out.level.png" "$@" >"$out.log" 2>&1 ||
    fail "$cli $* exited $?: $(tail -5 "$out.log")"
  mv "$out.level.png" "$out/level.png"
}

# sameFiles A B: the two folders hold the same files, byte for byte.
sameFiles() {
  diff -r "$1" "$2" >&2 || fail "$1 and $2 differ"
}
