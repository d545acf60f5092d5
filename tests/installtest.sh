#!/usr/bin/env bash
# cmake --install into a temporary prefix, then:
#   run BUILD       the programs are in lib/tilewright/ with Assets/ beside
#                   them and links in bin/; the linked CLI finds its library
#                   and "$app$" through the link and writes the very files the
#                   build's own CLI writes; the icon is there in every size.
#   validate BUILD  desktop-file-validate and appstreamcli pass the desktop
#                   entry and the metainfo (skipped without those tools).
set -euo pipefail
# shellcheck source=tests/clirun.sh
. "$(dirname "$0")/clirun.sh"
mode=$1 build=$2
id=net.oakhollow.Tilewright
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || fail "$(cat "$tmp/install.log")"

case $mode in
run)
  for program in tilewright tilewright-cli; do
    [ -L "$prefix/bin/$program" ] || fail "bin/$program is not a link"
    [ "$(readlink -f "$prefix/bin/$program")" = "$prefix/lib/tilewright/$program" ] ||
      fail "bin/$program does not lead to lib/tilewright/$program"
  done
  [ -f "$prefix/lib/tilewright/Assets/Alpha/blob_000.png" ] || fail "no Assets/ beside the programs"
  for size in 16 24 32 48 64 128 256; do
    icon=$prefix/share/icons/hicolor/${size}x$size/apps/$id.png
    # A PNG's width and height are the big-endian words at bytes 16 and 20.
    dims=$(od -An --endian=big -tu4 -j16 -N8 "$icon" 2>/dev/null | xargs) || fail "no $size px icon"
    [ "$dims" = "$size $size" ] || fail "the $size px icon measures $dims"
  done
  for man in tilewright tilewright-cli; do
    [ -f "$prefix/share/man/man1/$man.1.gz" ] || fail "no manual page for $man"
  done

  appProject "$tmp/design.twr"
  cli=$prefix/bin/tilewright-cli
  "$cli" --version | grep -qx "tilewright-cli [0-9.]*" || fail "--version says: $("$cli" --version)"
  generate "$cli" "$tmp/installed"
  generate "$build/bin/tilewright-cli" "$tmp/built"
  sameFiles "$tmp/installed" "$tmp/built"
  generate "$cli" "$tmp/installed-app" -p "$tmp/design.twr" -s 48
  generate "$build/bin/tilewright-cli" "$tmp/built-app" -p "$tmp/design.twr" -s 48
  sameFiles "$tmp/installed-app" "$tmp/built-app"
  echo "the installed CLI wrote the same $(find "$tmp/installed" -type f | wc -l) files as the built one"
  ;;
validate)
  for tool in desktop-file-validate appstreamcli; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
  # --strict: warnings fail too, only pedantic remarks (the upper-case
  # letters of the reverse-DNS id) pass.
  appstreamcli validate --no-net --strict "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "metainfo"
  ;;
*) fail "unknown mode $mode" ;;
esac
