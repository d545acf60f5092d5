#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tilewright on its bundled
# default asset library.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
build="${TW_BUILD_DIR:-$root/build}"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
Tilewright is built ($build/bin/tilewright), but there is no display to show
its window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
To run it on a virtual X display instead:

    xvfb-run -a -s "-screen 0 1920x1080x24" $root/scripts/run.sh

MSG
  exit 2
fi
exec "$build/bin/tilewright" "$@"
