#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The tests need no
# display: they run on Qt's offscreen platform.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
TW_WITH_TILED=1 "$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${TW_BUILD_DIR:-$root/build}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
