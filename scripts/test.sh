#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test.
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
