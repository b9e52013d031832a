#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one for SECONDS seconds
# (default 60) on a copy of its seed corpus in fuzz/corpus/, so the repository stays as it is.
#   scripts/fuzz.sh [SECONDS]
# Exits non-zero on any crash, leak, timeout, out-of-memory or sanitizer report; the input that
# caused it is kept in build-fuzz/artifacts/ and its path printed. Replay one with
#   build-fuzz/fuzz/fuzz_job_file build-fuzz/artifacts/fuzz_job_file-crash-...
set -euo pipefail

SECS=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${PLIXAGRAM_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
TARGETS=(fuzz_job_file fuzz_names fuzz_http_head)

# A build folder configured with another compiler cannot be switched to clang in place.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' "$BUILD/CMakeCache.txt"; then
    rm -rf "$BUILD"
fi
start=$(date +%s)
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPLX_FUZZ=ON -DBUILD_TESTING=OFF \
    -DPLX_WERROR="${PLIXAGRAM_WERROR:-OFF}" >/dev/null
cmake --build "$BUILD" -j2 --target "${TARGETS[@]}" >"$BUILD/fuzz-build.log" 2>&1 || {
    cat "$BUILD/fuzz-build.log" >&2
    echo "fuzz: build failed" >&2
    exit 1
}
echo "fuzz: built ${TARGETS[*]} in $(($(date +%s) - start)) s"

mkdir -p "$BUILD/artifacts"
RUNS="$BUILD/fuzz-runs"
rm -rf "$RUNS"
mkdir -p "$RUNS"

# The job-file target's scratch file, in memory where possible; gone however the run ends.
SCRATCH=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp )/plx-fuzz.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT
export PLIXAGRAM_FUZZ_TMP=$SCRATCH
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=print_suppressions=0

run_target() {
    local t=$1 dir="$RUNS/$1" extra=()
    mkdir -p "$dir/corpus"
    cp -r "$ROOT/fuzz/corpus/${t#fuzz_}/." "$dir/corpus/"
    case "$t" in
        fuzz_job_file) extra=(-max_len=8192) ;;
        fuzz_names) extra=(-max_len=512 -dict="$ROOT/fuzz/names.dict") ;;
        fuzz_http_head) extra=(-max_len=20000) ;;
    esac
    touch "$dir/started"
    local rc=0
    (cd "$dir" && "$BUILD/fuzz/$t" -max_total_time="$SECS" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$t-" "${extra[@]}" corpus) \
        >"$dir/log" 2>&1 || rc=$?
    echo "$rc" >"$dir/rc"
}

# Side by side: three targets on two cores still each get most of one.
pids=()
for t in "${TARGETS[@]}"; do
    run_target "$t" &
    pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || true; done

failed=0
for t in "${TARGETS[@]}"; do
    dir="$RUNS/$t"
    rc=$(cat "$dir/rc" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
    files=$(find "$dir/corpus" -type f | wc -l)
    bytes=$(du -sb "$dir/corpus" | cut -f1)
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$dir/log" | tail -1 || true)
    new=$(find "$BUILD/artifacts" -type f -name "$t-*" -newer "$dir/started" | sort)
    if [ "$rc" = 0 ] && [ -z "$new" ]; then
        echo "fuzz: $t: ok, ${runs:-?} runs in ${SECS} s (${rate:-?}/s), corpus $files files ($bytes bytes), ${cov:-no coverage line}"
    else
        failed=1
        echo "fuzz: $t: FAILED (exit $rc) after ${runs:-?} runs; log $dir/log" >&2
        grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_[a-z_]+:|.*runtime error)' "$dir/log" | head -8 >&2 || true
        for a in $new; do echo "fuzz: $t: artefact $a" >&2; done
    fi
done
exit "$failed"
