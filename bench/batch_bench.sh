#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the batch table over COUNT copies (default 10000) of the sample MP3:
# rescan against bare tag reads, column sorts, template previews. Not a test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-10000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$root/scripts/build.sh" release sondrel_batch >/dev/null
lib=$root/build/release/src
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/batch_bench.cpp" \
    "$lib/libsondrel_batch.a" "$lib/libsondrel_editor.a" "$lib/libsondrel_tags.a" \
    "$lib/libsondrel_util.a" $(pkg-config --libs taglib libutf8proc xlsxwriter) -o "$work/bench"
mkdir "$work/folder"
i=0
while [ "$i" -lt "$count" ]; do
    cp "$root/samples/01 - Morning Tune.mp3" "$work/folder/Track $i.mp3"
    i=$((i + 1))
done
"$work/bench" "$work/folder"
