#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and starts Sondrel on the bundled sample folder (or on the
# folder given). Without a display it runs under a virtual one (xvfb-run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release sondrel
folder=${1:-$root/samples}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec xvfb-run -a "$root/build/release/src/app/sondrel" "$folder"
fi
exec "$root/build/release/src/app/sondrel" "$folder"
