#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test;
# without arguments also builds and checks the Debian package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" asan
# Peers (mutagen) are Debian packages: prefer the system Python over other installs.
export PATH="/usr/bin:$PATH"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$root/build/asan"
# A hung test must not hold CI: each test gets at most ten minutes.
ctest --output-on-failure --timeout 600 -j"$(nproc)" "$@"
# The whole suite (no arguments) also builds the Debian package, a release
# build of the two programs, and checks it unpacked as a user would get it.
if [ $# -eq 0 ]; then
  deb=$(bash "$root/scripts/package.sh" | tail -n1)
  bash "$root/scripts/check_package.sh" "$deb"
fi
