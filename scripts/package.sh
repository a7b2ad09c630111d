#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Sondrel: one package with both programs, made
# by cpack from a release build of just the two programs in build/package
# (never a sanitizer build). Prints the package's path on the last line.
#   bash scripts/package.sh
#   sudo apt install ./build/package/sondrel_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${SONDREL_PACKAGE_BUILD:-$root/build/package}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Installing must not build everything ("all" holds tools the package does
# not carry); the targets the package needs are built below.
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSONDREL_BUILD_TESTS=OFF -DSONDREL_BUILD_TREE_DATA=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" --target sondrel sondrel-tag sondrel_completions >&2
rm -f "$dir"/sondrel_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$dir"/sondrel_*.deb
