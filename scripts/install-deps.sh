#!/usr/bin/env bash
# Installs what building, running and testing Tilewright needs on Debian 12,
# skipping apt entirely when everything is already there. Run as root (or
# with sudo available).
set -euo pipefail

packages=(
  # python3 draws the installed icon sizes.
  cmake make g++ pkg-config python3
  qtbase5-dev qtbase5-dev-tools libqt5network5 libqt5test5
  libdeflate-dev zlib1g-dev libpng-dev libssl3
  xvfb xauth
  # Runtimes of scripts/test.sh's sanitizer pass. g++ depends on them
  # already; listed so that pass does not rely on it.
  libasan8 libubsan1
)
if [ "${TW_WITH_TILED:-0}" = 1 ]; then
  # The engine integration test loads our tilesets in the real Tiled.
  packages+=(tiled)
fi
if [ "${TW_WITH_GODOT3:-0}" = 1 ]; then
  # The engine integration test loads our Godot 3 tileset in the real,
  # headless Godot 3.
  packages+=(godot3-server)
fi
if [ "${TW_WITH_TEST_TOOLS:-0}" = 1 ]; then
  # scripts/test.sh's Qt 6 build, and the tests of the installed and packaged
  # programs: cpack's dependency finder, lintian, the desktop entry's and the
  # metainfo's validators.
  packages+=(qt6-base-dev qt6-base-dev-tools libqt6test6 libqt6network6
    dpkg-dev lintian desktop-file-utils appstream)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
