#!/usr/bin/env bash
# debtest.sh BUILD: cpack -G DEB makes the package, with dependencies found
# from the linked libraries; unpacked with dpkg-deb -x, its CLI reports its
# version and writes the very files the build's own CLI writes, and its window
# starts; lintian finds neither errors nor warnings. Prints the package's
# files and lintian's notes.
set -euo pipefail
# shellcheck source=tests/clirun.sh
. "$(dirname "$0")/clirun.sh"
build=$1
for tool in dpkg-deb dpkg-shlibdeps lintian; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$tmp/cpack.log")"
deb=$(echo "$tmp"/pkg/*.deb)
[ -f "$deb" ] || fail "cpack made no .deb"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in core gui widgets network; do
  grep -Eq "libqt[56]$lib" <<<"$depends" || fail "no Qt $lib library among the dependencies"
done
for lib in libc6 libdeflate0; do
  grep -q "$lib " <<<"$depends" || fail "$lib is not among the dependencies"
done

echo "Files (Assets/ summed up):"
dpkg-deb -c "$deb" | awk '{print $6, $7, $8}' | grep -v '/Assets/.' | sed 's|^\./|/|; s/ *$//'
echo "/usr/lib/tilewright/Assets/: $(dpkg-deb -c "$deb" | grep -c '/Assets/.*\.png$') PNG files"

dpkg-deb -x "$deb" "$tmp/root"
cli=$tmp/root/usr/bin/tilewright-cli
version=$(dpkg-deb -f "$deb" Version)
[ "$("$cli" --version)" = "tilewright-cli $version" ] || fail "--version says: $("$cli" --version)"
generate "$cli" "$tmp/unpacked"
generate "$build/bin/tilewright-cli" "$tmp/built"
sameFiles "$tmp/unpacked" "$tmp/built"

# The window starts from there too and is still up after three seconds (the
# settings keep it off the network).
mkdir -p "$tmp/config/Oakhollow"
printf '[General]\ncheckForUpdates=false\nserverUrl=http://127.0.0.1:9\n' \
  >"$tmp/config/Oakhollow/Tilewright.conf"
status=0
XDG_CONFIG_HOME=$tmp/config QT_QPA_PLATFORM=offscreen timeout 3 "$tmp/root/usr/bin/tilewright" \
  >"$tmp/window.log" 2>&1 || status=$?
[ $status = 124 ] || fail "the window exited $status: $(cat "$tmp/window.log")"

echo "lintian:"
status=0
lintian -I --fail-on error,warning "$deb" >"$tmp/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$tmp/lintian.log" || true
[ $status = 0 ] || fail "lintian found errors or warnings"
