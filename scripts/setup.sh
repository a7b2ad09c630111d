#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian package that building, running and testing Sondrel needs.
# Idempotent; works as root or through sudo. Nothing is downloaded from elsewhere.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  # core libraries
  libtag1-dev libcurl4-openssl-dev libutf8proc-dev nlohmann-json3-dev libxlsxwriter-dev
  # desktop program
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev libxkbcommon-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev xvfb xauth python3 dbus-daemon
  # a window manager and input for the gluing test under Xvfb
  openbox xdotool
  # peers used as oracles in the interop tests
  python3-mutagen ffmpeg musepack-tools flac opus-tools
  # the Debian package and its checks (scripts/package.sh, check_package.sh)
  dpkg-dev desktop-file-utils appstream man-db
  # fuzzing (scripts/fuzz.sh)
  clang-14 libfuzzer-14-dev
)

if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e lock -e partial)" ] \
   || ! apt-cache show "${missing[0]}" >/dev/null 2>&1; then
  "${SUDO[@]}" apt-get update -qq
fi
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
