#!/bin/sh
# Times the file list's scan of a folder of COUNT audio files (default
# 100000) against a bare sorted directory walk. Not a test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O2 -fPIC -I"$root/src" "$root/bench/scan_bench.cpp" "$root/src/shell/file_table.cpp" \
    $(pkg-config --cflags --libs Qt6Core) -o "$work/bench"
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
"$work/bench" "$work/folder" 3
