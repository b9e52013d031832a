#!/usr/bin/env bash
# Screenshots for the README: the window under Xvfb with a window manager, while it prints,
# and while its print queue is stopped with labels waiting and a bad file in the folder.
#   scripts/screenshots.sh BUILD_DIR   (needs xvfb, openbox, xdotool, imagemagick)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
BUILD=$(cd "${1:?usage: screenshots.sh BUILD_DIR}" && pwd -P)
WORK=$(mktemp -d)
STATE=$WORK/cups
trap 'kill $(jobs -p) 2>/dev/null; "$ROOT/scripts/cups-server.sh" stop "$STATE" >/dev/null 2>&1; rm -rf "$WORK"' EXIT

"$ROOT/scripts/cups-server.sh" start "$STATE" >/dev/null
export CUPS_SERVER=$STATE/cups.sock
# The stations' history and state stay in the scratch folder.
export XDG_STATE_HOME=$WORK/state XDG_RUNTIME_DIR=$WORK/run
Xvfb :77 -screen 0 1280x800x24 >/dev/null 2>&1 &
sleep 1
export DISPLAY=:77
openbox >/dev/null 2>&1 &
sleep 1

mkdir -p "$WORK/jobs"
QT_QPA_PLATFORM=offscreen "$BUILD/tools/make_samples" "$WORK/jobs" >/dev/null
# A large label so the scan takes long enough to be seen in progress.
convert "$WORK/jobs/lot42_front_2.bmp" -filter point -resize 400% "BMP3:$WORK/big.bmp"
rm "$WORK/jobs/"*.bmp
folder=${WORK//\//\\}\\jobs
PLIXAGRAM_TICK_MS=2000 "$BUILD/plixagram" "QLS-4100 Xe drivers standard/$folder/1/60/20" 2>"$WORK/log" &
sleep 1
cp "$WORK/big.bmp" "$WORK/jobs/.tmp" && mv "$WORK/jobs/.tmp" "$WORK/jobs/lot42_front_2.bmp"
cp "$WORK/big.bmp" "$WORK/jobs/lot43_back_1.bmp"
# Grab the screen until the title shows a row in progress.
for _ in $(seq 1 400); do
    title=$(xdotool search --name '^[0-9]+/[0-9]+$' getwindowname 2>/dev/null | head -1 || true)
    if [ -n "$title" ] && [ "${title%%/*}" -gt 200 ] && [ "${title%%/*}" -lt 2000 ]; then
        import -window root "$ROOT/docs/window.png"
        echo "screenshot at row $title: docs/window.png"
        break
    fi
    sleep 0.02
done
sleep 8
kill %3 2>/dev/null || true
wait %3 2>/dev/null || true
cat "$WORK/log" >&2

# Queue stopped: a bad file the station has already looked at, then three labels behind the
# stopped queue.
rm -rf "$WORK/jobs" && mkdir -p "$WORK/jobs"
mkdir -p "$WORK/samples"
QT_QPA_PLATFORM=offscreen "$BUILD/tools/make_samples" "$WORK/samples" >/dev/null
head -c 3000 /dev/urandom >"$WORK/jobs/broken_x_1.bmp"
PLIXAGRAM_TICK_MS=1000 "$BUILD/plixagram" "QLS-4100 Xe drivers standard/$folder/1/60/20" 2>"$WORK/log" &
sleep 3
cupsdisable -r "out of labels" QLS-4100-Xe
cp "$WORK/samples/"*.bmp "$WORK/jobs/"
sleep 4
window=$(xdotool search --name 'Vemorin Plixagram Printing' | head -1)
import -window "$window" -frame "$ROOT/docs/window-stopped.png"
echo "screenshot of the stopped queue: docs/window-stopped.png"
cupsenable QLS-4100-Xe
cat "$WORK/log" >&2
