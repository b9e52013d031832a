#!/bin/bash
# The station's side of the systemd watchdog, shown without systemd: a notify socket of our own
# receives what the station sends. A healthy station sends READY=1, then WATCHDOG=1 every half
# interval from its event loop; a hung one (here: stopped with SIGSTOP) sends nothing, which is
# when systemd (WatchdogSec) kills it and Restart=on-failure starts it again; SIGTERM sends
# STOPPING=1 and ends it with status 0.
#
#   watchdog-check.sh BUILD_DIR
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
BUILD=$(cd "$1" && pwd -P)
WORK=$(mktemp -d)
listener=""
station=""
cleanup() {
    [[ -n $station ]] && kill -KILL "$station" 2>/dev/null
    [[ -n $listener ]] && kill "$listener" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "watchdog-check.sh: $*" >&2
    echo "--- received:" >&2
    cat "$WORK/notify.log" >&2
    echo "--- station:" >&2
    cat "$WORK/station.log" >&2
    exit 1
}
count() { grep -c "$1" "$WORK/notify.log" || true; }

python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
start = time.monotonic()
with open(sys.argv[2], "a", buffering=1) as log:
    while True:
        for line in s.recv(4096).decode().splitlines():
            log.write("%.2f %s\n" % (time.monotonic() - start, line))
' "$WORK/notify" "$WORK/notify.log" &
listener=$!
touch "$WORK/notify.log"
for _ in $(seq 50); do [[ -S $WORK/notify ]] && break; sleep 0.1; done
[[ -S $WORK/notify ]] || fail "the notify socket did not appear"

mkdir "$WORK/jobs"
folder=${WORK//\//\\}\\jobs
NOTIFY_SOCKET=$WORK/notify WATCHDOG_USEC=1000000 QT_QPA_PLATFORM=offscreen \
    CUPS_SERVER=$WORK/no-server.sock "$BUILD/plixagram" "Labels/$folder/1/0/0" \
    2>"$WORK/station.log" &
station=$!

sleep 3
[[ $(count "READY=1") -eq 1 ]] || fail "no READY=1"
healthy=$(count "WATCHDOG=1")
((healthy >= 4)) || fail "only $healthy WATCHDOG=1 in 3 s at a 1 s watchdog"
echo "healthy: READY=1, $healthy x WATCHDOG=1 in 3 s (WATCHDOG_USEC=1000000)"

kill -STOP "$station"
sleep 3
hung=$(($(count "WATCHDOG=1") - healthy))
((hung == 0)) || fail "$hung WATCHDOG=1 from a stopped station"
echo "hung (SIGSTOP): no WATCHDOG=1 for 3 s; systemd would have killed and restarted it after 1 s"

kill -CONT "$station"
sleep 2
again=$(($(count "WATCHDOG=1") - healthy))
((again >= 2)) || fail "only $again WATCHDOG=1 after SIGCONT"
echo "resumed: $again x WATCHDOG=1 in 2 s"

kill -TERM "$station"
status=0
wait "$station" || status=$?
station=""
[[ $status -eq 0 ]] || fail "exit status $status after SIGTERM"
[[ $(count "STOPPING=1") -ge 1 ]] || fail "no STOPPING=1"
echo "SIGTERM: STOPPING=1, exit status 0"
