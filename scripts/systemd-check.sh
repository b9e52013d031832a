#!/bin/bash
# The Debian package under a real systemd: boots a small Debian 12 system in systemd-nspawn,
# installs the .deb there with apt and runs the service as shipped (its sandbox included) on a
# private print server of the host, whose socket is the container's /run/cups/cups.sock.
# Checks: readiness, the sandbox the station really runs in, a label printed once and its file
# gone, the watchdog restarting a hung station, no restart after a refused argument string, a
# second station from the template unit, and the package's remove, reinstall and purge.
#
#   systemd-check.sh BUILD_DIR    the package from BUILD_DIR/package (./run package), samples
#                                 from BUILD_DIR/tools; works in BUILD_DIR/systemd-check
#
# The Debian tree (mmdebstrap, from this machine's Debian mirror) is cached in
# BUILD_DIR/systemd-check/tree and made again when the package's dependencies change. Needs
# root; skipped, saying why, where the machine cannot boot a container.
set -euo pipefail

readonly SUITE=bookworm
readonly MACHINE=plixagram-check
# Bumped when the tree's recipe below changes, so that a cached tree is made again.
readonly TREE_RECIPE=1
readonly BOOT_TIMEOUT_S=60
readonly PRINT_TIMEOUT_S=30

say() { echo "systemd-check.sh: $*"; }
skip() {
    say "SKIPPED: $*"
    exit 0
}
fail() {
    echo "systemd-check.sh: FAILED: $*" >&2
    if [[ -n ${leader:-} ]]; then
        echo "--- the station's journal in the container:" >&2
        inside journalctl --no-pager -n 60 -u 'plixagram*' >&2 || true
    fi
    exit 1
}

[[ $# -eq 1 ]] || {
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
}
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
BUILD=$(cd "$1" && pwd -P)
WORK=$BUILD/systemd-check
deb=$(find "$BUILD/package" -maxdepth 1 -name 'plixagram_*.deb' -print -quit 2>/dev/null || true)
[[ -n $deb ]] || fail "no $BUILD/package/plixagram_*.deb: run ./run package first"
[[ -x $BUILD/tools/make_samples ]] || fail "no $BUILD/tools/make_samples: build first"

[[ $(id -u) -eq 0 ]] || skip "booting a container needs root"
for tool in systemd-nspawn mmdebstrap nsenter; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (./run installs it)"
done

mkdir -p "$WORK"
LAB=$WORK/lab
CUPS_STATE=$WORK/cups
RUNID=plixagram-check-$$
nspawn=""
leader=""
cgroups=()

cleanup() {
    if [[ -n $nspawn ]] && kill -0 "$nspawn" 2>/dev/null; then
        # nspawn halts the container on SIGTERM; a container that will not halt is killed.
        kill -TERM "$nspawn" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
    fi
    "$ROOT/scripts/cups-server.sh" stop "$CUPS_STATE" >/dev/null 2>&1 || true
    # nspawn leaves its (empty) supervisor and payload cgroups behind.
    local c
    for c in "${cgroups[@]}"; do
        [[ -d $c ]] && find "$c" -depth -type d -exec rmdir {} + 2>/dev/null
    done
    rm -rf "$LAB"
    return 0
}
trap cleanup EXIT

# --- The Debian tree: systemd and what the package depends on (first alternatives), so apt
# installs the package from it without a network.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' |
    grep -v '^$' | sort -u | paste -sd, -)
includes="systemd,systemd-sysv,$depends"
# The Debian archives this machine's apt uses (mirror, suites, components).
# shellcheck disable=SC2016 # apt's own fields
sources=$(apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
    'Identifier: Packages' 2>/dev/null | awk -v s="$SUITE" '$1 == "Debian" && index($3, s) == 1 {
        print "deb " $2 " " $3 " " $4 }' | sort -u)
[[ -n $sources ]] || sources="deb http://deb.debian.org/debian $SUITE main"
key=$(printf '%s\n' "$TREE_RECIPE" "$includes" "$sources" | sha256sum | cut -c1-16)
tree=$WORK/tree
if [[ ! -d $tree || $(cat "$WORK/tree.key" 2>/dev/null) != "$key" ]]; then
    say "making the Debian $SUITE tree (mmdebstrap; cached in $tree)"
    start=$SECONDS
    rm -rf "$tree" "$WORK/tree.new" "$WORK/tree.key"
    # shellcheck disable=SC2016 # the hook's own $1
    if ! mmdebstrap --variant=minbase --include="$includes" \
        --customize-hook='echo plixagram-check >"$1/etc/hostname"' \
        "$SUITE" "$WORK/tree.new" - <<<"$sources" >"$WORK/mmdebstrap.log" 2>&1; then
        tail -n 5 "$WORK/mmdebstrap.log"
        rm -rf "$WORK/tree.new"
        skip "mmdebstrap could not make the tree (no mirror?); log: $WORK/mmdebstrap.log"
    fi
    mv "$WORK/tree.new" "$tree"
    echo "$key" >"$WORK/tree.key"
    say "tree made in $((SECONDS - start)) s"
fi
# Snapshots that an interrupted run left next to the tree.
find "$WORK" -maxdepth 1 -name '.#*' -exec rm -rf {} +

# --- The lab: the package and the labels, read-only inside; the host's private print server.
rm -rf "$LAB"
mkdir -p "$LAB/samples"
cp "$deb" "$LAB/plixagram.deb"
QT_QPA_PLATFORM=offscreen "$BUILD/tools/make_samples" "$LAB/samples" >/dev/null 2>&1 ||
    fail "make_samples failed"
"$ROOT/scripts/cups-server.sh" start "$CUPS_STATE" >/dev/null
captured() { find "$CUPS_STATE/output/$1" -maxdepth 1 -name 'job-*.txt' 2>/dev/null | wc -l; }

# --- Boot. Without a system bus on the host nspawn must neither register the machine nor ask
# for a scope (--register=no --keep-unit); it then uses the caller's cgroup, so the container
# gets one of its own. -x boots a snapshot of the tree, removed at exit.
if [[ $(stat -fc %T /sys/fs/cgroup) == cgroup2fs ]]; then
    hierarchies=(/sys/fs/cgroup)
else
    hierarchies=(/sys/fs/cgroup/systemd /sys/fs/cgroup/unified)
fi
for h in "${hierarchies[@]}"; do
    [[ -d $h ]] || continue
    mkdir "$h/$RUNID" 2>/dev/null && cgroups+=("$h/$RUNID")
done
(
    for c in "${cgroups[@]}"; do echo "$BASHPID" >"$c/cgroup.procs"; done
    exec setsid systemd-nspawn --quiet --boot --ephemeral --directory="$tree" \
        --machine="$MACHINE" --register=no --keep-unit --private-network \
        --bind-ro="$CUPS_STATE/cups.sock:/run/cups/cups.sock" --bind-ro="$LAB:/lab"
) </dev/null >"$WORK/boot.log" 2>&1 &
nspawn=$!
boot_start=$SECONDS

inside() {
    nsenter -t "$leader" -m -u -i -n -p -C -r -w \
        /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"
}
# The container's init is nspawn's only child; it is systemd once it has exec'd.
while :; do
    kill -0 "$nspawn" 2>/dev/null || {
        tail -n 20 "$WORK/boot.log"
        skip "systemd-nspawn could not boot the tree (log above: $WORK/boot.log)"
    }
    leader=$(ps --ppid "$nspawn" -o pid= | tr -d ' ' | head -n 1 || true)
    [[ -n $leader && $(cat "/proc/$leader/comm" 2>/dev/null) == systemd ]] && break
    ((SECONDS - boot_start < BOOT_TIMEOUT_S)) || skip "no systemd in the container after ${BOOT_TIMEOUT_S}s"
    sleep 0.1
done
until state=$(inside systemctl is-system-running 2>/dev/null) && [[ $state =~ ^(running|degraded)$ ]]; do
    ((SECONDS - boot_start < BOOT_TIMEOUT_S)) ||
        skip "the container's systemd did not finish booting (state: ${state:-none})"
    sleep 0.2
done
say "booted systemd $(inside systemctl --version | sed -n '1s/^systemd \([0-9]*\).*/\1/p') in $((SECONDS - boot_start)) s ($state)"

# --- Helpers run inside.
show() { inside systemctl show -p "$2" --value "$1"; }
wait_until() { # SECONDS DESCRIPTION COMMAND...: until COMMAND succeeds
    local limit=$1 what=$2 t0=$SECONDS
    shift 2
    until "$@"; do
        ((SECONDS - t0 < limit)) || fail "$what (waited ${limit}s)"
        sleep 0.2
    done
}
active() { [[ $(show "$1" ActiveState) == active && $(show "$1" SubState) == running ]]; }
gone_from() { ! inside test -e "$1"; }
# A label as a careful writer drops it: written under a hidden name, then renamed.
drop() { # SAMPLE FOLDER
    inside sh -c "cp '/lab/samples/$1' '$2/.incoming' && mv '$2/.incoming' '$2/$1'"
}
printed() { # QUEUE COUNT: the print server captured COUNT jobs on QUEUE, all complete
    [[ $(captured "$1") -eq $2 ]] &&
        [[ $(find "$CUPS_STATE/output/$1" -maxdepth 1 -name 'job-*.pwg' | wc -l) -eq $2 ]]
}
configure() { # CONFIG_FILE ARGUMENT_STRING: in single quotes, as the comments there say
    # shellcheck disable=SC2016 # expanded inside
    inside sh -c 'sed -i "/^PLIXAGRAM_ARGS=/d" "$0" && printf "PLIXAGRAM_ARGS='"'%s'"'\n" "$1" >>"$0"' "$@"
}
# Write access to a watch folder, as `systemctl edit UNIT` would write it.
allow_folder() { # UNIT FOLDER
    inside sh -c "mkdir -p '/etc/systemd/system/$1.d' &&
        printf '[Service]\nReadWritePaths=%s\n' '$2' >'/etc/systemd/system/$1.d/override.conf'"
}
# For this check only: a short watchdog and restart delay, a tick of one second.
quicken() { # UNIT
    inside sh -c "mkdir -p '/etc/systemd/system/$1.d' && printf '%s\n' '[Service]' \
        WatchdogSec=3 RestartSec=1 Environment=PLIXAGRAM_TICK_MS=1000 \
        >'/etc/systemd/system/$1.d/zz-check.conf'"
}

# --- 1. Installed with apt: the user, both units, nothing started without a configuration.
inside apt-get install -y -q /lab/plixagram.deb >"$WORK/apt-install.log" 2>&1 ||
    fail "apt-get install: $(tail -n 5 "$WORK/apt-install.log")"
inside id plixagram >/dev/null || fail "no user plixagram after install"
[[ $(show plixagram.service UnitFileState) == disabled ]] || fail "the service is enabled by the install"
[[ $(show plixagram.service ActiveState) == inactive ]] || fail "the service started without a configuration"
[[ $(inside systemctl is-enabled plixagram@.service || true) == disabled ]] || fail "no template unit plixagram@.service"
say "ok: apt installs it; user plixagram made, the service neither enabled nor started"

# --- 2. Configured, given its folder and enabled: ready, sandboxed, printing.
configure /etc/default/plixagram 'QLS-4100 Xe drivers standard/\srv\labels/1/60/20'
inside install -d -o plixagram -g plixagram -m 2775 /srv/labels
allow_folder plixagram.service /srv/labels
quicken plixagram.service
inside systemctl daemon-reload
inside systemctl enable --now plixagram.service >/dev/null 2>&1 || fail "systemctl enable --now plixagram"
# Type=notify: the start job ends and the unit is active only once the station sent READY=1.
active plixagram.service || fail "not active (running) after start"
inside systemctl status --no-pager plixagram.service >"$WORK/status.txt" 2>&1 || true
grep -q 'Active: active (running)' "$WORK/status.txt" || fail "systemctl status: $(cat "$WORK/status.txt")"
# The station's state in one line (STATUS=), sent before READY=1 and whenever it changes.
status_text=$(show plixagram.service StatusText)
[[ $status_text == "idle, no files waiting"* ]] || fail "STATUS= is \"$status_text\", not the idle state"
grep -qF "Status: \"$status_text\"" "$WORK/status.txt" || fail "no Status line in systemctl status"
say "ok: ready (READY=1), systemctl status says: Status: \"$status_text\""
pid=$(show plixagram.service MainPID)
proc=$(inside cat "/proc/$pid/status")
uid=$(inside id -u plixagram)
grep -qP "^Uid:\t$uid\t" <<<"$proc" || fail "not running as plixagram: $(grep ^Uid <<<"$proc")"
grep -qP '^CapBnd:\t0+$' <<<"$proc" || fail "capabilities left: $(grep ^CapBnd <<<"$proc")"
grep -qP '^NoNewPrivs:\t1$' <<<"$proc" || fail "NoNewPrivs is not set"
grep -qP '^Seccomp:\t2$' <<<"$proc" || fail "no system call filter"
exposure=$(inside systemd-analyze security --no-pager plixagram.service 2>/dev/null |
    sed -n 's/.*Overall exposure level for plixagram.service: \([0-9.]*\).*/\1/p')
say "ok: sandboxed: uid plixagram, no capabilities, no new privileges, seccomp filter;" \
    "systemd-analyze security: ${exposure:-not available}"

drop lot42_front_2.bmp /srv/labels
wait_until "$PRINT_TIMEOUT_S" "the label was not taken from /srv/labels" gone_from /srv/labels/lot42_front_2.bmp
wait_until "$PRINT_TIMEOUT_S" "the print server did not get the label" printed QLS-4100-Xe 1
grep -qx 'title=lot42_front_2.bmp' "$CUPS_STATE"/output/QLS-4100-Xe/job-*.txt ||
    fail "the job is not the label: $(cat "$CUPS_STATE"/output/QLS-4100-Xe/job-*.txt)"
sleep 2 # a second print would come with the next ticks
printed QLS-4100-Xe 1 || fail "the label was printed $(captured QLS-4100-Xe) times"
say "ok: label dropped in /srv/labels, printed once on QLS-4100-Xe, its file gone"
# Seen without the window: the file's story by its journal field, the state for any user, the
# history of what was printed.
story=$(inside journalctl --no-pager -o cat -u plixagram.service PLIXAGRAM_FILE=lot42_front_2.bmp)
grep -q 'lot42_front_2.bmp: printed on print queue "QLS-4100-Xe"' <<<"$story" ||
    fail "journalctl PLIXAGRAM_FILE=lot42_front_2.bmp does not tell the label's story: $story"
inside runuser -u nobody -- plixagram status >"$WORK/plixagram-status.txt" 2>&1 ||
    fail "plixagram status: $(cat "$WORK/plixagram-status.txt")"
grep -q 'Station watching /srv/labels' "$WORK/plixagram-status.txt" ||
    fail "plixagram status does not show the station: $(cat "$WORK/plixagram-status.txt")"
inside runuser -u nobody -- plixagram history --csv >"$WORK/plixagram-history.txt" 2>&1 ||
    fail "plixagram history: $(cat "$WORK/plixagram-history.txt")"
grep -q '^/srv/labels,lot42_front_2.bmp,.*,printed,' "$WORK/plixagram-history.txt" ||
    fail "plixagram history has no printed label: $(cat "$WORK/plixagram-history.txt")"
say "ok: journalctl PLIXAGRAM_FILE= tells the label's story; plixagram status and history" \
    "as another user show the station and the printed label"

# --- 3. The watchdog: a hung station is killed and started again.
old=$pid
inside sh -c "kill -STOP $pid"
restarted() { [[ $(show plixagram.service NRestarts) -ge 1 ]] && active plixagram.service; }
wait_until 15 "no watchdog restart after SIGSTOP" restarted
pid=$(show plixagram.service MainPID)
[[ $pid != "$old" ]] || fail "the same process after the watchdog restart"
inside journalctl --no-pager -u plixagram.service | grep -q 'Watchdog timeout' || fail "no watchdog timeout logged"
say "ok: SIGSTOP: watchdog timeout, killed and restarted (pid $old -> $pid)"

# --- 4. A refused argument string: exit 2, and no restart until the configuration is mended.
configure /etc/default/plixagram 'QLS-4100-Xe/jobs'
inside systemctl restart plixagram.service >/dev/null 2>&1 && fail "a refused argument string started"
sleep 3 # three restart delays
[[ $(show plixagram.service ExecMainStatus) == 2 ]] || fail "exit status $(show plixagram.service ExecMainStatus), not 2"
[[ $(show plixagram.service ActiveState) == failed ]] || fail "$(show plixagram.service ActiveState) after exit 2"
[[ $(show plixagram.service NRestarts) == 0 ]] || fail "restarted after exit 2"
configure /etc/default/plixagram 'QLS-4100 Xe drivers standard/\srv\labels/1/60/20'
inside systemctl restart plixagram.service || fail "no start on the mended configuration"
say "ok: refused argument string: exit 2, failed, not restarted; starts once mended"

# --- 5. A second station from the template: its own configuration, folder, name and folders.
inside sh -c 'cp /etc/default/plixagram /etc/default/plixagram-line2'
configure /etc/default/plixagram-line2 'Label-300/\srv\line2/1/0/0'
inside install -d -o plixagram -g plixagram -m 2775 /srv/line2
allow_folder plixagram@line2.service /srv/line2
quicken plixagram@line2.service
inside systemctl daemon-reload
inside systemctl enable --now plixagram@line2.service >/dev/null 2>&1 || fail "systemctl enable --now plixagram@line2"
active plixagram@line2.service || fail "plixagram@line2 is not active (running)"
drop order7_barcode_3.bmp /srv/line2
wait_until "$PRINT_TIMEOUT_S" "plixagram@line2 did not print" printed Label-300 1
printed QLS-4100-Xe 1 || fail "the first station printed the second one's label"
inside journalctl --no-pager -t plixagram-line2 | grep -q 'Label-300' || fail "nothing logged as plixagram-line2"
modes=$(inside stat -c '%n %a %U' /var/lib/plixagram/line2 /run/plixagram/line2) || fail "no state or runtime folder"
[[ $modes == *"/run/plixagram/line2 755 plixagram"* ]] || fail "runtime folder: $modes"
# Stopping one station leaves the other's runtime folder (below the first one's) in place.
inside systemctl stop plixagram.service
inside test -d /run/plixagram/line2 || fail "stopping plixagram removed plixagram@line2's runtime folder"
inside systemctl start plixagram.service
inside rm -f /etc/default/plixagram-line3
inside systemctl start plixagram@line3.service >/dev/null 2>&1 && fail "plixagram@line3 started without its configuration"
say "ok: plixagram@line2 printed from /srv/line2 as plixagram-line2, folders" \
    "/var/lib/plixagram/line2 and /run/plixagram/line2; plixagram@line3 refused without configuration"

# --- 6. An upgrade (the package installed over itself) moves both stations to the new program.
before="$(show plixagram.service MainPID) $(show plixagram@line2.service MainPID)"
inside apt-get install -y -q --reinstall /lab/plixagram.deb >"$WORK/apt-upgrade.log" 2>&1 ||
    fail "apt-get install --reinstall: $(tail -n 5 "$WORK/apt-upgrade.log")"
for unit in plixagram.service plixagram@line2.service; do
    wait_until 10 "$unit not running after the upgrade" active "$unit"
done
after="$(show plixagram.service MainPID) $(show plixagram@line2.service MainPID)"
[[ ${before% *} != "${after% *}" && ${before#* } != "${after#* }" ]] ||
    fail "an upgrade did not restart both stations (main pids $before, then $after)"
say "ok: an upgrade restarts both stations (main pids $before -> $after)"

# --- 7. Remove and reinstall: the administrator's enable and configuration are kept.
inside apt-get remove -y -q plixagram >"$WORK/apt-remove.log" 2>&1 || fail "apt-get remove: $(tail -n 5 "$WORK/apt-remove.log")"
for unit in plixagram.service plixagram@line2.service; do
    [[ $(show "$unit" ActiveState) != active ]] || fail "$unit still runs after remove"
done
inside apt-get install -y -q /lab/plixagram.deb >"$WORK/apt-reinstall.log" 2>&1 ||
    fail "apt-get install again: $(tail -n 5 "$WORK/apt-reinstall.log")"
for unit in plixagram.service plixagram@line2.service; do
    [[ $(show "$unit" UnitFileState) == enabled ]] || fail "$unit not enabled after remove and reinstall"
    wait_until 10 "$unit not running again after reinstall" active "$unit"
done
inside grep -qx "PLIXAGRAM_ARGS='QLS-4100 Xe drivers standard/\\\\srv\\\\labels/1/60/20'" \
    /etc/default/plixagram || fail "the configuration edit was lost: $(inside cat /etc/default/plixagram)"
say "ok: remove stops both stations; reinstall keeps their enable and the configuration, and runs them"

# --- 8. Purge: the configuration, the state and the enable links go; the system is clean.
inside apt-get purge -y -q plixagram >"$WORK/apt-purge.log" 2>&1 || fail "apt-get purge: $(tail -n 5 "$WORK/apt-purge.log")"
for f in /var/lib/plixagram /etc/default/plixagram /etc/systemd/system/multi-user.target.wants/plixagram.service \
    /etc/systemd/system/multi-user.target.wants/plixagram@line2.service; do
    gone_from "$f" || fail "$f is still there after purge"
done
inside systemctl reset-failed
state=$(inside systemctl is-system-running || true)
[[ $state == running ]] || fail "system $state after purge: $(inside systemctl --failed --no-pager)"
say "ok: purge removes /etc/default/plixagram, /var/lib/plixagram and the enable links"
say "all checks passed in $((SECONDS - boot_start)) s from boot"
