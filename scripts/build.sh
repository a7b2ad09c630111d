#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Sondrel. Usage: scripts/build.sh [release|asan] [ninja targets...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
shift || true
case "$kind" in
  release) dir=$root/build/release; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    dir=$root/build/asan;    flags=(-DCMAKE_BUILD_TYPE=Debug -DSONDREL_SANITIZE=ON) ;;
  *) echo "usage: $0 [release|asan] [targets...]" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$dir" -G Ninja -DSONDREL_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$dir" -- "$@"
