#!/bin/bash
# Soak run: the real station prints many small jobs on its own private print server, and its
# resident memory and open descriptors are compared between the first batch and the end.
#
#   scripts/soak.sh BUILD_DIR JOBS
#
# The server lives in BUILD_DIR/soak-cups (PLIXAGRAM_SOAK_STATE overrides it), apart from the test
# fixture's. Exits 1 when a job is missing or printed twice, the station dies, its VmRSS grew
# by 10 % or more, or its descriptor count grew. PLIXAGRAM_SOAK_TICK_MS (200) and PLIXAGRAM_SOAK_BATCH (50)
# tune the run.
set -euo pipefail

usage() {
    echo "usage: $0 BUILD_DIR JOBS" >&2
    exit 2
}
[[ $# -eq 2 ]] || usage
[[ $2 =~ ^[0-9]+$ && $2 -ge 2 ]] || usage
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
BUILD=$(cd "$1" && pwd -P)
JOBS=$2
PROGRAM=$BUILD/plixagram
[[ -x $PROGRAM ]] || { echo "soak: no program at $PROGRAM (build first)" >&2; exit 2; }
STATE=${PLIXAGRAM_SOAK_STATE:-$BUILD/soak-cups}
FOLDER=$BUILD/soak-jobs
QUEUE=QLS-4100-Xe
PRINTER="QLS-4100 Xe drivers standard"
TICK_MS=${PLIXAGRAM_SOAK_TICK_MS:-200}
BATCH=${PLIXAGRAM_SOAK_BATCH:-50}
# The first batch warms the station up (fonts, libcups, Qt's image readers); the baseline is
# taken after it has printed.
FIRST=$((JOBS / 10 < 1 ? 1 : (JOBS / 10 > BATCH ? BATCH : JOBS / 10)))

station_pid=""
cleanup() {
    if [[ -n $station_pid ]] && kill -0 "$station_pid" 2>/dev/null; then
        kill -KILL "$station_pid" 2>/dev/null || true
        wait "$station_pid" 2>/dev/null || true
    fi
    "$ROOT/scripts/cups-server.sh" stop "$STATE" >/dev/null 2>&1 || true
}
trap cleanup EXIT

fail() {
    echo "soak: FAIL: $*" >&2
    if [[ -f $STATE/station.log ]]; then
        echo "soak: last station messages:" >&2
        tail -n 15 "$STATE/station.log" >&2
    fi
    exit 1
}

"$ROOT/scripts/cups-server.sh" start "$STATE" >/dev/null
export CUPS_SERVER=$STATE/cups.sock
# The station's job history and state stay with the soak's print server.
export XDG_STATE_HOME=$STATE/station-state RUNTIME_DIRECTORY=$STATE/station-run
OUTPUT=$STATE/output/$QUEUE

# One 16 x 16 24-bit BMP: white, a black diagonal and a red one.
le32() {
    # shellcheck disable=SC2059 # the format is made of the bytes
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"
}
le16() {
    # shellcheck disable=SC2059
    printf "$(printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)))"
}
make_template() {
    local w=16 h=16 x y
    local data=$((w * 3 * h))
    {
        printf 'BM'; le32 $((54 + data)); le32 0; le32 54
        le32 40; le32 $w; le32 $h; le16 1; le16 24; le32 0; le32 $data; le32 2835; le32 2835; le32 0; le32 0
        for ((y = 0; y < h; y++)); do
            for ((x = 0; x < w; x++)); do
                if ((x == y)); then printf '\x00\x00\x00'
                elif ((x == w - 1 - y)); then printf '\x00\x00\xff'
                else printf '\xff\xff\xff'; fi
            done
        done
    } >"$1"
}
rm -rf "$FOLDER"
mkdir -p "$FOLDER"
TEMPLATE=$STATE/soak-template.bmp
make_template "$TEMPLATE"

# Each file appears whole (copied aside, renamed in).
drop() {
    local from=$1 to=$2 i
    for ((i = from; i < to; i++)); do
        cp "$TEMPLATE" "$FOLDER/.incoming"
        mv "$FOLDER/.incoming" "$FOLDER/soak_${i}_1.bmp"
    done
}

printed_count() { grep -c ': printed on print queue' "$STATE/station.log" || true; }
captured_count() { find "$OUTPUT" -maxdepth 1 -name 'job-*.pwg' | wc -l; }
pending_files() { find "$FOLDER" -maxdepth 1 -name '*.bmp' | wc -l; }

# Waits until N jobs are printed by the station, captured by the printer, and the folder is empty.
wait_for() {
    local n=$1
    local deadline=$((SECONDS + 120 + 2 * n))
    while :; do
        kill -0 "$station_pid" 2>/dev/null || fail "the station ended after $(printed_count) jobs"
        if [[ $(pending_files) -eq 0 && $(printed_count) -ge $n && $(captured_count) -ge $n ]]; then
            break
        fi
        ((SECONDS < deadline)) || fail "after $((120 + 2 * n)) s: $(printed_count) of $n printed, $(captured_count) captured, $(pending_files) files left"
        sleep 0.2
    done
    # Two ticks with nothing to do, so the figures are those of an idle station.
    sleep "$(awk -v t="$TICK_MS" 'BEGIN { printf "%.2f", 2 * t / 1000 }')"
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$station_pid/status"; }
# The fewest of a few looks a tenth of a second apart: a tick under way holds a descriptor or
# two for a moment (the folder, a file, the state written), which is not a leak. Event
# descriptors are left out: each of Qt's pooled worker threads has one while it lives (it ends
# after 30 s idle), so they come and go with the work, not with a leak.
fd_count() {
    local n least=
    for _ in 1 2 3 4 5; do
        n=$(find "/proc/$station_pid/fd" -mindepth 1 -maxdepth 1 -printf '%l\n' | grep -vc '^anon_inode:\[eventfd\]$')
        [[ -z $least || $n -lt $least ]] && least=$n
        sleep 0.1
    done
    echo "$least"
}

field=${FOLDER//\//\\}
QT_QPA_PLATFORM=offscreen PLIXAGRAM_TICK_MS=$TICK_MS \
    "$PROGRAM" "$PRINTER/$field/1/10/10" 2>"$STATE/station.log" >/dev/null &
station_pid=$!

drop 0 "$FIRST"
wait_for "$FIRST"
rss_start=$(rss_kb)
fd_start=$(fd_count)
echo "soak: after $FIRST jobs: VmRSS $rss_start kB, $fd_start open descriptors"

done_jobs=$FIRST
while ((done_jobs < JOBS)); do
    next=$((done_jobs + BATCH > JOBS ? JOBS : done_jobs + BATCH))
    drop "$done_jobs" "$next"
    wait_for "$next"
    done_jobs=$next
done
rss_end=$(rss_kb)
fd_end=$(fd_count)
echo "soak: after $JOBS jobs: VmRSS $rss_end kB, $fd_end open descriptors"

kill -TERM "$station_pid"
status=0
wait "$station_pid" || status=$?
station_pid=""

problems=()
[[ $status -eq 0 ]] || problems+=("the station exited $status on SIGTERM")
printed=$(printed_count)
[[ $printed -eq $JOBS ]] || problems+=("the station reported $printed prints for $JOBS jobs")
titles=$(cat "$OUTPUT"/job-*.txt | grep '^title=' | sort | uniq | wc -l)
captured=$(captured_count)
[[ $titles -eq $JOBS && $captured -eq $JOBS ]] ||
    problems+=("the printer got $captured jobs with $titles different titles for $JOBS files")
grep -q 'not printed\|print server trouble' "$STATE/station.log" &&
    problems+=("the station reported trouble: $(grep -m1 'not printed\|print server trouble' "$STATE/station.log")")
growth=$(awk -v a="$rss_start" -v b="$rss_end" 'BEGIN { printf "%.1f", (b - a) * 100 / a }')
echo "soak: VmRSS $rss_start -> $rss_end kB ($growth %), descriptors $fd_start -> $fd_end"
if ((rss_end * 100 >= rss_start * 110)); then
    problems+=("resident memory grew by $growth % (limit: below 10 %)")
fi
((fd_end <= fd_start)) || problems+=("open descriptors grew from $fd_start to $fd_end")

if ((${#problems[@]} > 0)); then
    for p in "${problems[@]}"; do echo "soak: FAIL: $p" >&2; done
    exit 1
fi
echo "soak: OK: $JOBS jobs, each printed once"
