#!/usr/bin/env bash
# The station on a virtual label printer with sample jobs.
#   scripts/demo.sh BUILD_DIR [MODE]
# Starts a private print server with the virtual "QLS-4100 Xe drivers standard" printer, drops
# sample labels into demo-jobs/, runs the station on them and writes every printed page as a
# PNG under demo-output/. With a display the window stays open until closed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
BUILD=$(cd "${1:?usage: demo.sh BUILD_DIR [MODE]}" && pwd -P)
MODE=${2:-1}
STATE=$BUILD/demo-cups
JOBS=$ROOT/demo-jobs
OUT=$ROOT/demo-output
QUEUE=QLS-4100-Xe

if [ "$MODE" = 3 ]; then OFFSETS="0.5/0.25"; else OFFSETS="60/20"; fi

"$ROOT/scripts/cups-server.sh" start "$STATE" >/dev/null
export CUPS_SERVER=$STATE/cups.sock
# The demo station's job history and state stay in the build folder.
export XDG_STATE_HOME=$BUILD/demo-state RUNTIME_DIRECTORY=$BUILD/demo-run
station_pid=""
cleanup() {
    [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null && wait "$station_pid" 2>/dev/null
    "$ROOT/scripts/cups-server.sh" stop "$STATE" >/dev/null 2>&1 || true
}
trap cleanup EXIT

rm -rf "$JOBS" "$OUT" "$XDG_STATE_HOME" "$RUNTIME_DIRECTORY"
mkdir -p "$JOBS" "$OUT"
QT_QPA_PLATFORM=offscreen "$BUILD/tools/make_samples" "$JOBS" >/dev/null
# Entries not hidden, as a job listing sees them.
count_jobs() { find "$JOBS" -mindepth 1 -maxdepth 1 ! -name '.*' | wc -l; }
samples=$(count_jobs)

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
# The folder setting cannot hold "/": backslashes stand for it.
folder=${JOBS//\//\\}
echo "demo: plixagram 'QLS-4100 Xe drivers standard/$folder/$MODE/$OFFSETS'"
"$BUILD/plixagram" "QLS-4100 Xe drivers standard/$folder/$MODE/$OFFSETS" &
station_pid=$!

# Wait for the station to take every sample (first tick after 10 s) and the printer to finish.
expected=$samples
deadline=$((SECONDS + 120))
while :; do
    left=$(count_jobs)
    done_jobs=$(find "$STATE/output/$QUEUE" -maxdepth 1 -name '*.pwg' 2>/dev/null | wc -l || true)
    if [ "$left" -eq 0 ] && [ "$done_jobs" -ge "$expected" ]; then break; fi
    if [ "$MODE" != 1 ] && [ "$MODE" != 2 ] && [ "$MODE" != 3 ] && [ $SECONDS -gt $((deadline - 100)) ]; then
        echo "demo: mode \"$MODE\" prints nothing; the samples stay in $JOBS"
        break
    fi
    if [ $SECONDS -gt $deadline ]; then
        echo "demo: the samples were not all printed in time; see the station's messages above" >&2
        exit 1
    fi
    sleep 1
done

for f in "$STATE/output/$QUEUE"/job-*.pwg; do
    [ -e "$f" ] || continue
    id=$(basename "$f" .pwg)
    title=$(sed -n 's/^title=//p' "$STATE/output/$QUEUE/$id.txt" 2>/dev/null | tr -c 'A-Za-z0-9_.\n-' '_')
    "$BUILD/tools/pwgtopng" "$f" "$OUT/${title%.bmp}-$id" | sed 's/^/demo: printed label /'
done

# What the station recorded: it sees each job end at its next tick, up to 10 s after the label.
history() { "$BUILD/plixagram" history --folder "$JOBS" 2>/dev/null || true; }
for _ in $(seq 1 15); do
    history | grep -qE ' (seen|sent)$' || break
    sleep 1
done
history | sed 's/^/demo: /'

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "demo: the station keeps watching $JOBS; close its window to end the demo"
    wait "$station_pid" || true
    station_pid=""
fi
