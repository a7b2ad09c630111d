#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang-14, AddressSanitizer + UBSan) and runs
# each for a given time.
#   scripts/fuzz.sh [seconds-per-target] [target ...]
# Default: 60 seconds for every target. Crash inputs are copied to
# tests/data/fuzz/<format>/, where the regression test replays them, under a
# name made of the target and the sanitizer's finding (for example
# ape-heap-buffer-overflow-in-parseitems.ape); once the quirk is understood,
# rename the file after it with git mv. The growing corpus stays in the build
# folder.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${SONDREL_FUZZ_BUILD:-$ROOT/build/fuzz}
SECONDS_PER_TARGET=${1:-60}
shift || true

# Limits: an input may not make a parser allocate more than MALLOC_LIMIT_MB
# at once (above the largest tag-size cap, 256 MiB), nor the process grow
# past RSS_LIMIT_MB, nor one input run longer than TIMEOUT_S.
RSS_LIMIT_MB=1024
MALLOC_LIMIT_MB=300
TIMEOUT_S=10
MAX_LEN=65536

ALL_TARGETS=(id3v1 id3v2 mpeg ogg ape musepack asf mp4 flac
             roundtrip_id3v1 roundtrip_id3v2 roundtrip_ogg roundtrip_ape
             roundtrip_musepack roundtrip_wma roundtrip_mp4 roundtrip_flac)
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=("${ALL_TARGETS[@]}")

format_of() {
    case "$1" in
        asf) echo wma ;;
        roundtrip_*) echo "${1#roundtrip_}" ;;
        *) echo "$1" ;;
    esac
}

extension_of() {
    case "$1" in
        id3v1|id3v2|mpeg) echo mp3 ;;
        musepack) echo mpc ;;
        mp4) echo m4a ;;
        *) echo "$1" ;;
    esac
}

# A file name for a finding: what the sanitizer or libFuzzer reported
# ("heap-buffer-overflow in ParseItems", "timeout", "out-of-memory"), as a
# lower-case slug; never a hash.
finding_name() {
    local target=$1 artifact=$2 log=$3 kind what
    kind=$(sed -n 's/^SUMMARY: [A-Za-z]*Sanitizer: \([^ ]*\).* in \([A-Za-z_:~0-9]*\).*/\1 in \2/p' "$log" | head -1)
    if [ -z "$kind" ]; then
        kind=$(sed -n 's/^SUMMARY: [A-Za-z]*Sanitizer: \([^ ]*\).*/\1/p' "$log" | head -1)
    fi
    [ -n "$kind" ] || kind=$(basename "$artifact" | sed 's/-.*//')
    what=$(printf '%s' "$target $kind" | tr 'A-Z' 'a-z' | sed 's/sondrel:://g; s/::/-/g; s/[^a-z0-9]\{1,\}/-/g; s/^-//; s/-$//')
    echo "$what"
}

CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDREL_FUZZ=ON -DSONDREL_SANITIZE=ON \
    -DSONDREL_BUILD_GUI=OFF -DSONDREL_BUILD_TESTS=OFF >/dev/null
ninja -C "$BUILD" -j2 $(printf '%s_fuzz ' "${TARGETS[@]}") >/dev/null

status=0
printf '%-22s %10s %8s %s\n' target executions seconds result
for t in "${TARGETS[@]}"; do
    fmt=$(format_of "$t")
    corpus="$BUILD/corpus/$t"
    crashes="$BUILD/crashes/$t"
    mkdir -p "$corpus" "$crashes" "$ROOT/tests/data/fuzz/$fmt"
    log="$BUILD/$t.log"
    start=$(date +%s)
    set +e
    "$BUILD/fuzz/${t}_fuzz" "$corpus" "$ROOT/fuzz/corpus/$fmt" "$ROOT/tests/data/fuzz/$fmt" \
        -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=$RSS_LIMIT_MB \
        -malloc_limit_mb=$MALLOC_LIMIT_MB -timeout=$TIMEOUT_S -max_len=$MAX_LEN \
        -artifact_prefix="$crashes/" -print_final_stats=1 >"$log" 2>&1
    rc=$?
    set -e
    took=$(( $(date +%s) - start ))
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    result=ok
    for c in "$crashes"/*; do
        [ -f "$c" ] || continue
        base=$(finding_name "$t" "$c" "$log")
        ext=$(extension_of "$fmt")
        name="$base.$ext"
        n=2
        while [ -e "$ROOT/tests/data/fuzz/$fmt/$name" ]; do
            name="$base-$n.$ext"
            n=$((n + 1))
        done
        cp "$c" "$ROOT/tests/data/fuzz/$fmt/$name"
        rm -f "$c"
        result="found tests/data/fuzz/$fmt/$name (see $log); once understood, name it after its quirk: git mv tests/data/fuzz/$fmt/$name tests/data/fuzz/$fmt/<what-it-holds>.$ext"
        status=1
    done
    [ $rc -eq 0 ] || [ "$result" != ok ] || { result="exit $rc (see $log)"; status=1; }
    printf '%-22s %10s %8s %s\n' "$t" "${execs:-?}" "$took" "$result"
done
exit $status
