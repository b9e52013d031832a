#!/usr/bin/env bash
# The benchmarks (./run bench): a Release build in build-bench/ with -DPLX_BENCH=ON, a private
# print server of its own for the run, every figure with its goal, and a summary table.
#
#   PLIXAGRAM_BENCH_REPS   repetitions of each Google Benchmark figure, median reported (5)
#   PLIXAGRAM_BENCH_RUNS   runs of each whole-program figure (memory, intake), median reported (3)
#   PLIXAGRAM_BENCH_JOBS   job files in the intake figure (500)
#   PLIXAGRAM_BENCH_DROPS  drops (and lp jobs) per case in the drop-to-raster figure, and
#                    submissions per candidate in the route table (5)
#   PLIXAGRAM_BENCH_BEFORE a git revision (e.g. main) whose station is built in
#                    build-bench/before/ and measured beside this one in the big-picture
#                    figures (none)
#   PLIXAGRAM_BENCH_KILL_FILES, PLIXAGRAM_BENCH_KILLS  job files and kill -9 in the kill
#                    drill (400, 80)
#   PLIXAGRAM_BENCH_ONLY   the parts to run, by name, separated by blanks (all): scan document
#                    figures scaled history routes drop big intake kill tick dropwatch
#
# Figures are noisy on a shared machine: the medians are what bench/README.md records.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD=$ROOT/build-bench
STATE=$BUILD/bench-cups
WORK=$BUILD/bench-work
OUT=$BUILD/bench-results
REPS=${PLIXAGRAM_BENCH_REPS:-5}
RUNS=${PLIXAGRAM_BENCH_RUNS:-3}
JOBS=${PLIXAGRAM_BENCH_JOBS:-500}
DROPS=${PLIXAGRAM_BENCH_DROPS:-5}
BEFORE=${PLIXAGRAM_BENCH_BEFORE:-}
KILL_FILES=${PLIXAGRAM_BENCH_KILL_FILES:-400}
KILLS=${PLIXAGRAM_BENCH_KILLS:-80}
ONLY=${PLIXAGRAM_BENCH_ONLY:-}
# Whether a part is to run.
part() { [ -z "$ONLY" ] || [[ " $ONLY " == *" $1 "* ]]; }

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPLX_BENCH=ON -DBUILD_TESTING=OFF \
    -DPLX_WERROR="${PLIXAGRAM_WERROR:-OFF}" >/dev/null
cmake --build "$BUILD" -j2
BEFORE_PROGRAM=
if [ -n "$BEFORE" ]; then
    # The earlier station from its own sources, so that both sides run on this machine now.
    rm -rf "$BUILD/before-src"
    mkdir -p "$BUILD/before-src"
    git -C "$ROOT" archive "$BEFORE" | tar -x -C "$BUILD/before-src"
    cmake -S "$BUILD/before-src" -B "$BUILD/before" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$BUILD/before" -j2 --target plixagram
    BEFORE_PROGRAM=$BUILD/before/plixagram
fi

# Every request in its access log: the tick figures count them.
PLIXAGRAM_CUPS_LOG_REQUESTS=1 "$ROOT/scripts/cups-server.sh" start "$STATE"
trap '"$ROOT/scripts/cups-server.sh" stop "$STATE"' EXIT
export CUPS_SERVER=$STATE/cups.sock PLIXAGRAM_CUPS_STATE=$STATE QT_QPA_PLATFORM=offscreen

rm -rf "$OUT" "$WORK"
mkdir -p "$OUT" "$WORK"
GB=(--benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true
    --benchmark_color=false)

section() { printf '\n=== %s\n' "$*"; }

touch "$OUT/scan.txt" "$OUT/document.txt" "$OUT/scaled.txt" "$OUT/history.txt" "$OUT/drop.txt" \
    "$OUT/routes.txt" "$OUT/station.txt" "$OUT/tick.txt"
if part scan; then
section "Scan (mode 1), 2400 x 3000, 30 % print colours"
"$BUILD/bench/scan_bench" "${GB[@]}" | tee "$OUT/scan.txt"
fi

if part document; then
section "Print document, random and checkerboard pictures"
"$BUILD/bench/document_bench" "${GB[@]}" | tee "$OUT/document.txt"
fi

if part figures; then
section "Document figures (bench/document_figures, submitted to QLS-4100-Xe)"
"$BUILD/bench/document_figures" QLS-4100-Xe | tee "$OUT/document_figures.txt"
fi

if part scaled; then
section "Scaled picture (mode 3, print quality 1200)"
"$BUILD/bench/scaled_bench" "${GB[@]}" | tee "$OUT/scaled.txt"
fi

if part history; then
section "Job history: a printed job's events, the status page's last jobs"
"$BUILD/bench/history_bench" "$WORK/history" "${GB[@]}" | tee "$OUT/history.txt"
fi

if part routes; then
section "Document routes for the dense label through the server ($DROPS submissions each)"
"$BUILD/bench/route_bench" "$DROPS" | tee "$OUT/routes.txt"
fi

if part drop; then
section "Drop to raster: the station against lp of the same file ($DROPS each, interleaved)"
"$BUILD/bench/station_bench" drop "$BUILD/plixagram" "$STATE" "$WORK" "$DROPS" \
    >"$OUT/drop.txt" 2>"$OUT/drop.log" || { cat "$OUT/drop.log" >&2; exit 1; }
cat "$OUT/drop.txt"
fi

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; print v[int((NR + 1) / 2)] }'; }
# The value of KEY=... in a RESULT line.
result() { grep '^RESULT' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }

# One run of station_bench big; its RESULT line's KEY.
bigrun() {  # PROGRAM SIDE BITS MODE RUN
    local out=$OUT/big-$2-$3bit-mode$4-$5
    "$BUILD/bench/station_bench" big "$1" "$STATE" "$WORK" "$3" "$4" >"$out.txt" 2>"$out.log" \
        || { cat "$out.log" >&2; exit 1; }
    cat "$out.txt"
}
bigmedian() {  # SIDE BITS MODE KEY
    for i in $(seq "$RUNS"); do result "$OUT/big-$1-$2bit-mode$3-$i.txt" "$4"; done | median
}
if part big; then
section "Big pictures: 10000 x 10000 (100 MP) in each mode, event-loop stall and memory ($RUNS runs${BEFORE:+, beside $BEFORE})"
for bits in 8 24; do
    for mode in 1 2 3; do
        for i in $(seq "$RUNS"); do
            bigrun "$BUILD/plixagram" after "$bits" "$mode" "$i"
            [ -z "$BEFORE_PROGRAM" ] || bigrun "$BEFORE_PROGRAM" before "$bits" "$mode" "$i"
        done
        stall=$(bigmedian after "$bits" "$mode" stall_ms)
        before=
        [ -z "$BEFORE_PROGRAM" ] || before=" (before: $(bigmedian before "$bits" "$mode" stall_ms) ms)"
        met=$(awk -v s="$stall" 'BEGIN { print (s <= 250 ? "yes" : "NO") }')
        printf 'FIGURE | Longest event-loop stall, 100 MP %s-bit, mode %s | <= 250 ms | %s ms%s | %s\n' \
            "$bits" "$mode" "$stall" "$before" "$met" | tee -a "$OUT/station.txt"
        ratio=$(bigmedian after "$bits" "$mode" ratio)
        hwm=$(bigmedian after "$bits" "$mode" vmhwm_bytes)
        before=
        [ -z "$BEFORE_PROGRAM" ] || before=" (before: $(bigmedian before "$bits" "$mode" ratio) x)"
        met=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.2 ? "yes" : "NO") }')
        printf 'FIGURE | Memory: VmHWM, 100 MP %s-bit, mode %s | <= 1.2 x decoded 32-bit (400 MB) | %.1f MB = %.2f x%s | %s\n' \
            "$bits" "$mode" "$(awk -v h="$hwm" 'BEGIN { print h / 1e6 }')" "$ratio" "$before" \
            "$met" | tee -a "$OUT/station.txt"
    done
done

fi

if part intake; then
section "Intake: $JOBS job files at one tick ($RUNS runs)"
for i in $(seq "$RUNS"); do
    "$BUILD/bench/station_bench" intake "$BUILD/plixagram" "$STATE" "$WORK" "$JOBS" \
        >"$OUT/intake-$i.txt" 2>"$OUT/intake-$i.log" \
        || { cat "$OUT/intake-$i.log" >&2; exit 1; }
    cat "$OUT/intake-$i.txt"
done
printed=$(for i in $(seq "$RUNS"); do result "$OUT/intake-$i.txt" intake_printed_jobs_per_s; done | median)
raster=$(for i in $(seq "$RUNS"); do result "$OUT/intake-$i.txt" intake_raster_jobs_per_s; done | median)
# Reaching this point means every run passed station_bench's checks (it exits 1 otherwise).
{
    echo "FIGURE | Intake: $JOBS files, each printed once as its own job | all printed once, own job | yes | yes"
    echo "FIGURE | Intake: jobs/s, first to last \"printed\" line | (reported) | $printed jobs/s | -"
    echo "FIGURE | Intake: jobs/s, first \"printed\" line to last raster | (reported) | $raster jobs/s | -"
} | tee -a "$OUT/station.txt"

fi

if part kill; then
section "Kill drill: $KILL_FILES job files, the station killed $KILLS times at random moments"
"$BUILD/bench/station_bench" kill "$BUILD/plixagram" "$STATE" "$WORK" "$KILL_FILES" "$KILLS" \
    >"$OUT/kill.txt" 2>"$OUT/kill.log" || { cat "$OUT/kill.txt" "$OUT/kill.log" >&2; exit 1; }
cat "$OUT/kill.txt"
printf 'FIGURE | Kill drill: %s files, %s kill -9 (%s inside a hand-over) | 0 lost, 0 doubled | %s lost, %s doubled | yes\n' \
    "$KILL_FILES" "$KILLS" "$(result "$OUT/kill.txt" kills_in_handover)" \
    "$(result "$OUT/kill.txt" lost)" "$(result "$OUT/kill.txt" doubled)" | tee -a "$OUT/station.txt"

fi

SIDES=("$BUILD/plixagram")
[ -z "$BEFORE_PROGRAM" ] || SIDES+=("$BEFORE_PROGRAM")
# The median of KEY over the RESULT lines of SIDE (0: this station, 1: the earlier one).
sidemedian() {  # FILE SIDE KEY
    grep "^RESULT side=$2 " "$1" | tr ' ' '\n' | sed -n "s/^$3=//p" | median
}
# This station's median, and the earlier one's beside it when there is one.
beside() {  # FILE KEY UNIT
    printf '%s%s' "$(sidemedian "$1" 0 "$2")" "$3"
    [ -z "$BEFORE_PROGRAM" ] || printf ' (before: %s%s)' "$(sidemedian "$1" 1 "$2")" "$3"
}
atmost() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g ? "yes" : "NO") }'; }
tickrun() {  # NAME STATE WORK N ...: tick_bench NAME, its output kept as NAME-N.txt
    local out=$OUT/$1-$4
    "$BUILD/bench/tick_bench" "$@" >"$out.txt" 2>"$out.log" || { cat "$out.log" >&2; exit 1; }
    cat "$out.txt"
}

if part tick; then
section "What a tick costs: following held jobs, an idle folder, a steady stream, a stalled server ($RUNS runs${BEFORE:+, beside $BEFORE})"
for held in 100 2000 10000; do
    tickrun follow "$STATE" "$WORK/tick" "$held" "$RUNS" "${SIDES[@]}"
    f=$OUT/follow-$held.txt
    met=-
    if [ "$held" = 10000 ]; then
        met=$(atmost "$(sidemedian "$f" 0 requests_per_tick)" 2)
    fi
    printf 'FIGURE | Follow-up requests per tick, %s jobs held | <= 2 at 10,000 | %s | %s\n' \
        "$held" "$(beside "$f" requests_per_tick '')" "$met" | tee -a "$OUT/tick.txt"
    [ "$held" != 10000 ] || met=$(atmost "$(sidemedian "$f" 0 tick_ms)" 50)
    printf 'FIGURE | Tick length, %s jobs held | < 50 ms at 10,000 | %s | %s\n' \
        "$held" "$(beside "$f" tick_ms ' ms')" "$met" | tee -a "$OUT/tick.txt"
    printf 'FIGURE | Longest event-loop stall, %s jobs held | <= 250 ms | %s | %s\n' \
        "$held" "$(beside "$f" stall_ms ' ms')" "$(atmost "$(sidemedian "$f" 0 stall_ms)" 250)" \
        | tee -a "$OUT/tick.txt"
    printf 'FIGURE | CPU a tick, %s jobs held: station / print server | - | %s / %s | -\n' \
        "$held" "$(beside "$f" cpu_ms_per_tick ' ms')" "$(beside "$f" server_cpu_ms_per_tick ' ms')" \
        | tee -a "$OUT/tick.txt"
done
for files in 1000 20000; do
    tickrun idle "$STATE" "$WORK/tick" "$files" "$RUNS" "${SIDES[@]}"
    f=$OUT/idle-$files.txt
    met=-
    [ "$files" != 20000 ] || met=$(atmost "$(sidemedian "$f" 0 cpu_percent)" 2)
    printf 'FIGURE | Idle CPU at the 10-s tick, %s bad files left in the folder | < 2 %% at 20,000 | %s | %s\n' \
        "$files" "$(beside "$f" cpu_percent ' %')" "$met" | tee -a "$OUT/tick.txt"
done
tickrun steady "$STATE" "$WORK/tick" 20 "$RUNS" "${SIDES[@]}"
f=$OUT/steady-20.txt
printf 'FIGURE | IPP requests per job in a steady stream (one label a tick), for the job | <= 3 | %s | %s\n' \
    "$(beside "$f" job_requests_per_job '')" "$(atmost "$(sidemedian "$f" 0 job_requests_per_job)" 3)" \
    | tee -a "$OUT/tick.txt"
printf 'FIGURE | IPP requests per job in a steady stream, following it to its end | - | %s | -\n' \
    "$(beside "$f" follow_requests_per_job '')" | tee -a "$OUT/tick.txt"
printf 'FIGURE | Longest event-loop stall in a steady stream | <= 250 ms | %s | %s\n' \
    "$(beside "$f" stall_ms ' ms')" "$(atmost "$(sidemedian "$f" 0 stall_ms)" 250)" \
    | tee -a "$OUT/tick.txt"
tickrun stall "$STATE" "$WORK/tick" "$RUNS" "${SIDES[@]}"
f=$OUT/stall-$RUNS.txt
printf 'FIGURE | Longest event-loop stall while the print server stops 3 s (three times) | <= 1 s | %s | %s\n' \
    "$(beside "$f" stall_ms ' ms')" "$(atmost "$(sidemedian "$f" 0 stall_ms)" 1000)" \
    | tee -a "$OUT/tick.txt"
fi

if part dropwatch; then
section "Drop to raster with the folder watched, against lp fired by inotifywait ($DROPS each)"
"$BUILD/bench/station_bench" dropwatch "$BUILD/plixagram" "$STATE" "$WORK" "$DROPS" \
    >"$OUT/dropwatch.txt" 2>"$OUT/dropwatch.log" || { cat "$OUT/dropwatch.log" >&2; exit 1; }
cat "$OUT/dropwatch.txt"
grep '^FIGURE' "$OUT/dropwatch.txt" >>"$OUT/tick.txt"
fi

section "Summary (medians): figure | goal | measured | met?"
cat "$OUT"/scan.txt "$OUT"/document.txt "$OUT"/scaled.txt "$OUT"/history.txt "$OUT"/drop.txt \
    "$OUT"/station.txt "$OUT"/tick.txt \
    | { grep '^FIGURE' || true; } | sed 's/^FIGURE | //' | tee "$OUT/summary.txt"
section "Route table: candidate | queue | bytes | build s | server s (median) | runs | raster"
{ grep '^ROUTE' "$OUT/routes.txt" || true; } | sed '1d; s/^ROUTE | //' | tee -a "$OUT/summary.txt"
printf '\nmachine: %s cores, %s, %s memory; load average at the end: %s\n' "$(nproc)" \
    "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" \
    "$(awk '/MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo)" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
exit 0
