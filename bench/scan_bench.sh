#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the file list's scan of a folder of COUNT audio files (default
# 100000) against a bare sorted directory walk. Not a test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The scan lives in the core: link the release build's core libraries.
"$root/scripts/build.sh" release sondrel_editor >/dev/null
lib=$root/build/release/src
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/scan_bench.cpp" \
    "$lib/libsondrel_editor.a" "$lib/libsondrel_tags.a" "$lib/libsondrel_util.a" \
    $(pkg-config --libs taglib libutf8proc) -o "$work/bench"
mkdir "$work/folder"
cd "$work/folder"
i=0
exts="mp3 ogg wma ape m4a mpc"
while [ "$i" -lt "$count" ]; do
    set -- $exts
    shift $((i % 6))
    : > "Track $i.$1"
    i=$((i + 1))
done
"$work/bench" "$work/folder" 9
