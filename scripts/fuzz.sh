#!/usr/bin/env bash
# Builds the libFuzzer targets (clang-14, AddressSanitizer + UBSan) and runs
# each for a given time.
#   scripts/fuzz.sh [seconds-per-target] [target ...]
# Default: 60 seconds for every target. Crash inputs are copied to
# tests/data/fuzz/<format>/, where the regression test replays them; the
# growing corpus stays in the build folder.
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

ALL_TARGETS=(id3v1 id3v2 mpeg ogg ape musepack asf
             roundtrip_id3v1 roundtrip_id3v2 roundtrip_ogg roundtrip_ape
             roundtrip_musepack roundtrip_wma roundtrip_mp4)
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=("${ALL_TARGETS[@]}")

format_of() {
    case "$1" in
        asf) echo wma ;;
        roundtrip_*) echo "${1#roundtrip_}" ;;
        *) echo "$1" ;;
    esac
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
        name="$t-$(sha1sum "$c" | cut -c1-16)"
        cp "$c" "$ROOT/tests/data/fuzz/$fmt/$name"
        rm -f "$c"
        result="found tests/data/fuzz/$fmt/$name (see $log)"
        status=1
    done
    [ $rc -eq 0 ] || [ "$result" != ok ] || { result="exit $rc (see $log)"; status=1; }
    printf '%-22s %10s %8s %s\n' "$t" "${execs:-?}" "$took" "$result"
done
exit $status
