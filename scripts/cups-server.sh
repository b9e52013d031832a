#!/bin/bash
# Private CUPS print server for the tests and the demo.
#
#   cups-server.sh start STATE_DIR   fresh cupsd on STATE_DIR/cups.sock with the test queues
#   cups-server.sh stop  STATE_DIR   stop that cupsd (and only that one)
#   cups-server.sh resume STATE_DIR  start that cupsd again, keeping its queues and jobs
#
# Clients reach it with CUPS_SERVER=STATE_DIR/cups.sock. The system's cupsd is never touched.
# Every job's printer data lands in STATE_DIR/output/<queue>/job-<id>.pwg (see the capture backend).
set -euo pipefail

readonly CUPS_LIB=/usr/lib/cups
readonly BASE_DRIVER=drv:///cupsfilters.drv/pwgrast.ppd
SCRIPT_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
readonly SCRIPT_DIR
readonly START_TIMEOUT_S=30
readonly STOP_TIMEOUT_S=20
readonly REJECT_REASON="Rejecting on purpose (test queue)"
# PLIXAGRAM_CUPS_LOG_REQUESTS=1: every request in log/access_log (the benchmarks count them).
if [[ ${PLIXAGRAM_CUPS_LOG_REQUESTS:-} == 1 ]]; then
    readonly ACCESS_LOG_LEVEL=all
else
    readonly ACCESS_LOG_LEVEL=actions
fi

die() {
    echo "cups-server.sh: $*" >&2
    exit 1
}

usage() {
    echo "usage: $0 start|stop|resume STATE_DIR" >&2
    exit 2
}

[[ $# -eq 2 ]] || usage
action=$1
[[ -n $2 ]] || usage
mkdir -p "$2"
STATE_DIR=$(cd "$2" && pwd -P)
# Start wipes the folders below STATE_DIR; refuse the places where that would hurt.
case "$STATE_DIR" in
    / | /usr | /usr/* | /etc | /etc/* | /run | /run/* | /var | /bin | /sbin | /lib | /home | /root)
        die "refusing to use $STATE_DIR as a state folder" ;;
esac

readonly SOCKET=$STATE_DIR/cups.sock
readonly PID_FILE=$STATE_DIR/cupsd.pid
readonly CONF_DIR=$STATE_DIR/conf
readonly LOG_DIR=$STATE_DIR/log
readonly OUTPUT_DIR=$STATE_DIR/output

# The pid in the pid file, but only if it is still our cupsd (pids get reused).
running_pid() {
    [[ -f $PID_FILE ]] || return 1
    local pid
    pid=$(<"$PID_FILE")
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    [[ -r /proc/$pid/cmdline ]] || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "-c $CONF_DIR/cupsd.conf" || return 1
    echo "$pid"
}

stop_server() {
    local pid
    if ! pid=$(running_pid); then
        rm -f "$PID_FILE"
        return 0
    fi
    kill -TERM "$pid" 2>/dev/null || true
    local waited=0
    while kill -0 "$pid" 2>/dev/null; do
        if ((waited >= STOP_TIMEOUT_S * 10)); then
            echo "cups-server.sh: cupsd $pid did not stop in ${STOP_TIMEOUT_S}s, killing it" >&2
            kill -KILL "$pid" 2>/dev/null || true
            sleep 0.2
            break
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    rm -f "$PID_FILE" "$SOCKET"
}

write_config() {
    cat >"$CONF_DIR/cups-files.conf" <<EOF
# Private test server: everything lives below $STATE_DIR.
# cupsd refuses User root; filters run as lp, the capture backend (mode 0700) as root.
User lp
Group lp
SystemGroup root
ServerRoot $CONF_DIR
RequestRoot $STATE_DIR/spool
CacheDir $STATE_DIR/cache
StateDir $STATE_DIR/state
TempDir $STATE_DIR/tmp
ServerBin $STATE_DIR/bin
AccessLog $LOG_DIR/access_log
ErrorLog $LOG_DIR/error_log
PageLog $LOG_DIR/page_log
FileDevice No
FatalErrors config
EOF

    cat >"$CONF_DIR/cupsd.conf" <<EOF
# Private test server: a unix socket only, no network, no sharing, no authentication.
Listen $SOCKET
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
LogLevel warn
MaxLogSize 0
AccessLogLevel ${ACCESS_LOG_LEVEL}
# Hundreds of jobs per test run: no job limit, keep the history (job states stay
# queryable) but not the document files.
MaxJobs 0
MaxJobsPerPrinter 0
MaxJobsPerUser 0
PreserveJobHistory Yes
PreserveJobFiles No
AutoPurgeJobs No
# A failing job must not stop the queue for the jobs behind it.
ErrorPolicy abort-job
JobRetryLimit 0
FilterLimit 0
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
}

# ServerBin: the system's filters and helpers, plus our own capture backend.
write_server_bin() {
    local bin=$STATE_DIR/bin
    mkdir -p "$bin/backend"
    local sub f
    for sub in daemon driver cgi-bin monitor notifier; do
        [[ -e $CUPS_LIB/$sub ]] && ln -sfn "$CUPS_LIB/$sub" "$bin/$sub"
    done
    mkdir -p "$bin/filter"
    for f in "$CUPS_LIB"/filter/*; do ln -sfn "$f" "$bin/filter/"; done
    # Filters run as lp: 0755.
    install -m 0755 "$SCRIPT_DIR/cups/plx-topwg" "$bin/filter/plx-topwg"
    # 0700: cupsd runs a backend that only root may execute as root, so it can write anywhere.
    install -m 0700 "$SCRIPT_DIR/cups/capture" "$bin/backend/capture"
}

# A copy of the generic PWG raster PPD with other defaults.
make_ppd() {
    local out=$1 page=$2 resolution=$3
    sed -e "s/^\*DefaultPageSize: .*/*DefaultPageSize: $page/" \
        -e "s/^\*DefaultPageRegion: .*/*DefaultPageRegion: $page/" \
        -e "s/^\*DefaultImageableArea: .*/*DefaultImageableArea: $page/" \
        -e "s/^\*DefaultPaperDimension: .*/*DefaultPaperDimension: $page/" \
        -e "s/^\*DefaultResolution: .*/*DefaultResolution: $resolution/" \
        "$STATE_DIR/ppd-src/pwgrast.ppd" >"$out"
    grep -q "^\*PageSize $page/" "$out" || die "the generic PPD has no page size $page"
    grep -q "^\*Resolution $resolution/" "$out" || die "the generic PPD has no resolution $resolution"
}

add_queue() {
    local name=$1 description=$2 ppd=$3
    mkdir -p "$OUTPUT_DIR/$name"
    lpadmin -p "$name" -D "$description" -E -v "capture:$OUTPUT_DIR/$name" -P "$ppd" \
        -o printer-error-policy=abort-job -o job-sheets-default=none,none \
        2> >(grep -v 'Printer drivers are deprecated' >&2) \
        || die "lpadmin could not create queue $name"
}

# --- CUPS-raster queue ------------------------------------------------------------------
# Label-Raster: a driver that takes CUPS raster, as a vendor's label-printer driver does
# (old-style *cupsFilter line, no PWG input). Its "driver" is plx-topwg, which reads the
# raster with libcups (rastertopwg) and hands PWG raster to the capture backend.
readonly CUPS_RASTER_FILTER='*cupsFilter: "application/vnd.cups-raster 0 plx-topwg"'
add_cups_raster_queue() {
    local ppd=$STATE_DIR/ppd-src/label-raster-600.ppd
    make_ppd "$ppd.base" 4x6 600dpi
    grep -v -e '^\*cupsFilter2\?:' "$ppd.base" >"$ppd"
    echo "$CUPS_RASTER_FILTER" >>"$ppd"
    add_queue Label-Raster "Label printer CUPS raster driver" "$ppd"
}
# -----------------------------------------------------------------------------------------

# Starts cupsd on the configuration in CONF_DIR and waits until it answers.
launch_cupsd() {
    # setsid: the server must outlive the shell (and the ctest step) that started it.
    setsid cupsd -f -c "$CONF_DIR/cupsd.conf" -s "$CONF_DIR/cups-files.conf" \
        </dev/null >"$LOG_DIR/cupsd.out" 2>&1 &
    local pid=$!
    echo "$pid" >"$PID_FILE"

    export CUPS_SERVER=$SOCKET
    local waited=0
    until [[ -S $SOCKET ]] && lpstat -r 2>/dev/null | grep -q "is running"; do
        if ! kill -0 "$pid" 2>/dev/null; then
            rm -f "$PID_FILE"
            die "cupsd exited at start-up. cupsd output: $(tail -n 20 "$LOG_DIR/cupsd.out" 2>/dev/null)
error_log: $(tail -n 20 "$LOG_DIR/error_log" 2>/dev/null)"
        fi
        if ((waited >= START_TIMEOUT_S * 10)); then
            local tail_text
            tail_text=$(tail -n 20 "$LOG_DIR/error_log" 2>/dev/null)
            stop_server
            die "cupsd did not answer on $SOCKET within ${START_TIMEOUT_S}s. error_log: $tail_text"
        fi
        sleep 0.1
        waited=$((waited + 1))
    done

    # stop must find this very process again through the pid file.
    running_pid >/dev/null || die "cupsd runs, but not as pid $pid; stop it by hand"
}

start_server() {
    stop_server
    rm -rf "$CONF_DIR" "$STATE_DIR/spool" "$STATE_DIR/cache" "$STATE_DIR/state" \
        "$STATE_DIR/tmp" "${STATE_DIR:?}/bin" "$STATE_DIR/ppd-src" "$LOG_DIR" "$OUTPUT_DIR" \
        "$STATE_DIR/test-input"
    rm -f "$SOCKET"
    mkdir -p "$CONF_DIR/ppd" "$STATE_DIR/spool" "$STATE_DIR/cache" "$STATE_DIR/state" \
        "$STATE_DIR/tmp" "$STATE_DIR/ppd-src" "$LOG_DIR" "$OUTPUT_DIR"
    # Filters run as lp: they must reach the state folder and write the temp folder.
    chmod 0755 "$STATE_DIR" "$OUTPUT_DIR"
    chgrp lp "$STATE_DIR/tmp" && chmod 1770 "$STATE_DIR/tmp"
    write_config
    write_server_bin

    "$CUPS_LIB/daemon/cups-driverd" cat "$BASE_DRIVER" >"$STATE_DIR/ppd-src/pwgrast.ppd" 2>"$LOG_DIR/driverd.log" \
        || die "cannot read the driver $BASE_DRIVER: $(tail -n 5 "$LOG_DIR/driverd.log")"

    cupsd -t -c "$CONF_DIR/cupsd.conf" -s "$CONF_DIR/cups-files.conf" >"$LOG_DIR/cupsd-test.log" 2>&1 \
        || die "cupsd rejects the configuration: $(tail -n 20 "$LOG_DIR/cupsd-test.log")"

    launch_cupsd

    local ppd=$STATE_DIR/ppd-src
    make_ppd "$ppd/label-600.ppd" 4x6 600dpi
    make_ppd "$ppd/label-300.ppd" 4x6 300dpi
    make_ppd "$ppd/label-1200.ppd" 4x6 1200dpi
    make_ppd "$ppd/office-600.ppd" Letter 600dpi

    add_queue QLS-4100-Xe "QLS-4100 Xe drivers standard" "$ppd/label-600.ppd"
    add_queue Office "Office colour printer" "$ppd/office-600.ppd"
    add_queue Label-300 "Label printer 300 dpi" "$ppd/label-300.ppd"
    add_queue Label-1200 "Label printer 1200 dpi" "$ppd/label-1200.ppd"
    add_queue Label-Rejecting "Rejecting label printer" "$ppd/label-600.ppd"
    cupsreject -r "$REJECT_REASON" Label-Rejecting \
        || die "cupsreject failed for Label-Rejecting"
    lpadmin -d Office || die "lpadmin could not make Office the default destination"

    # Several printers: a class of two label printers that CUPS shares the jobs between.
    add_queue Label-A "Label printer A" "$ppd/label-600.ppd"
    add_queue Label-B "Label printer B" "$ppd/label-600.ppd"
    lpadmin -p Label-A -c Labels || die "lpadmin could not put Label-A in the class Labels"
    lpadmin -p Label-B -c Labels || die "lpadmin could not put Label-B in the class Labels"
    cupsenable Labels || die "cupsenable failed for the class Labels"
    cupsaccept Labels || die "cupsaccept failed for the class Labels"

    add_cups_raster_queue
    echo "cupsd $(running_pid) running on $SOCKET"
}

# The same server again after a stop: configuration, queues, their states and pending jobs
# are kept (the fault drills take the server down and bring it back).
resume_server() {
    [[ -f $CONF_DIR/cupsd.conf && -f $CONF_DIR/cups-files.conf ]] \
        || die "no server configuration in $CONF_DIR: use start"
    if running_pid >/dev/null; then
        echo "cupsd $(running_pid) already running on $SOCKET"
        return 0
    fi
    rm -f "$SOCKET"
    launch_cupsd
    # cupsd keeps a queue's rejecting state but not its reason.
    if lpstat -a Label-Rejecting 2>/dev/null | grep -q "not accepting"; then
        cupsreject -r "$REJECT_REASON" Label-Rejecting || die "cupsreject failed for Label-Rejecting"
    fi
    echo "cupsd $(running_pid) running again on $SOCKET"
}

case "$action" in
    start) start_server ;;
    resume) resume_server ;;
    stop) stop_server ;;
    *) usage ;;
esac
