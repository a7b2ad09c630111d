#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the MPEG stream analysis on a folder of a thousand MP3 files (not a
# test). Usage: bench/mpeg_info_bench.sh [COUNT]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Only the analysis and the file layer it stands on, built optimised.
c++ -std=c++20 -O2 -I"$root/src" "$root/bench/mpeg_info_bench.cpp" \
    "$root/src/tags/mpeg_info.cpp" "$root/src/tags/file_io.cpp" \
    "$root/src/tags/tag_model.cpp" -o "$work/bench"

# A mix of a CBR file with tags and a VBR file with a Xing header, each five
# minutes long, so that reading whole files would show in the figures; the
# folder holds hard links to them, which costs no disk space.
ffmpeg -v error -nostdin -f lavfi -i sine=f=440:r=44100:d=300 -ac 2 -c:a libmp3lame \
    -b:a 128k -id3v2_version 3 -metadata title=T -write_id3v1 1 "$work/cbr.mp3"
ffmpeg -v error -nostdin -f lavfi -i anoisesrc=r=44100:d=300:a=0.3 -ac 2 -c:a libmp3lame \
    -q:a 2 "$work/vbr.mp3"
mkdir "$work/folder"
i=0
while [ "$i" -lt "$count" ]; do
    if [ $((i % 2)) -eq 0 ]; then src=cbr; else src=vbr; fi
    ln "$work/$src.mp3" "$work/folder/$i.mp3"
    i=$((i + 1))
done
"$work/bench" "$work/folder" 3
