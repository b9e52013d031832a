#!/bin/bash
# Checks the Debian package that build-package.sh made (./run package) as Debian's own tools
# and an installer would meet it: lintian with no error or warning, both units' sandbox
# (systemd-analyze security at most 2.0, "OK"), the program's hardening (hardening-check), the
# files and dependencies a station needs, an installed binary that runs, units, desktop entry
# and man page accepted by their validators. Installing, removing, reinstalling and purging it
# under a running systemd is systemd-check.sh's part.
#
#   check-package.sh BUILD_DIR     the package in BUILD_DIR/package
set -euo pipefail

readonly MAX_EXPOSURE=2.0

fail() {
    echo "check-package.sh: $*" >&2
    exit 1
}
say() { echo "check-package.sh: $*"; }

[[ $# -eq 1 ]] || fail "usage: $0 BUILD_DIR"
ROOT_DIR=$(cd "$(dirname "$0")/.." && pwd -P)
OUT=$(cd "$1/package" 2>/dev/null && pwd -P) || fail "no $1/package: run ./run package first"
deb=$(find "$OUT" -maxdepth 1 -name 'plixagram_*.deb' -print -quit)
changes=$(find "$OUT" -maxdepth 1 -name 'plixagram_*.changes' -print -quit)
[[ -n $deb && -n $changes ]] || fail "no plixagram_*.deb and .changes in $OUT: run ./run package first"
WORK=$(mktemp -d "$OUT/check.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
dpkg-deb -x "$deb" "$WORK/root"
dpkg-deb -e "$deb" "$WORK/control"
ROOT=$WORK/root
UNITS=$ROOT/lib/systemd/system

# --- Debian's policy checker: errors and warnings fail, each override carries its reason.
lintian -I --pedantic "$changes" >"$WORK/lintian.txt" 2>&1 || true
grep -v '^running with root privileges' "$WORK/lintian.txt" >"$WORK/findings.txt" || true
if grep -q '^[EW]: ' "$WORK/findings.txt"; then
    fail "lintian: $(grep '^[EW]: ' "$WORK/findings.txt")"
fi
for overrides in "$ROOT_DIR"/debian/*lintian-overrides; do
    [[ -e $overrides ]] || continue
    awk '!/^#/ && NF && prev !~ /^#/ { bad = 1; print FILENAME ": no reason above: " $0 } { prev = $0 }
        END { exit bad }' "$overrides" >&2 || fail "a lintian override without its reason"
done
say "lintian -I --pedantic: no error, no warning ($(grep -c '^[IPX]: ' "$WORK/findings.txt" || true) notes)"

# --- The program as Debian hardens it. Control flow protection is left out: bookworm's C
# library start files carry no CET marks, so no program linked there is marked.
hardening-check --nocfprotection "$ROOT/usr/bin/plixagram" >"$WORK/hardening.txt" 2>&1 ||
    fail "hardening-check: $(cat "$WORK/hardening.txt")"
say "hardening-check: PIE, stack protector, fortify, relro, bind-now, stack clash protection"

# --- What a station needs, where Debian puts it.
for f in usr/bin/plixagram usr/bin/plixagram-window lib/systemd/system/plixagram.service \
    lib/systemd/system/plixagram@.service usr/lib/sysusers.d/plixagram.conf etc/default/plixagram \
    usr/share/applications/plixagram.desktop usr/share/icons/hicolor/scalable/apps/plixagram.svg \
    usr/share/man/man1/plixagram.1.gz usr/share/man/man1/plixagram-window.1.gz \
    usr/share/doc/plixagram/copyright usr/share/doc/plixagram/changelog.gz; do
    [[ -f $ROOT/$f ]] || fail "the package lacks /$f"
done
for f in root/usr/bin/plixagram root/usr/bin/plixagram-window control/postinst control/prerm control/postrm; do
    [[ -x $WORK/$f ]] || fail "$f is not executable"
done
grep -qx /etc/default/plixagram "$WORK/control/conffiles" || fail "/etc/default/plixagram is no conffile"
# The configuration ships with the argument string commented out.
grep -q "^#PLIXAGRAM_ARGS=" "$ROOT/etc/default/plixagram" || fail "no commented PLIXAGRAM_ARGS"
grep -q "^PLIXAGRAM_ARGS=" "$ROOT/etc/default/plixagram" && fail "PLIXAGRAM_ARGS is set"
# The service's user comes from sysusers.d, whatever runs the maintainer scripts.
grep -q 'systemd-sysusers.*plixagram.conf' "$WORK/control/postinst" || fail "postinst makes no user"

depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6gui6 libcups2 libsystemd0 cups-filters ghostscript systemd-sysusers; do
    [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done

version=$("$ROOT/usr/bin/plixagram" --version) || fail "the installed binary does not run"
[[ $version == "plixagram $(dpkg-deb -f "$deb" Version)" ]] ||
    fail "--version says '$version', the package $(dpkg-deb -f "$deb" Version)"

# --- Both units: accepted by systemd, and sandboxed enough to score "OK".
for unit in plixagram.service plixagram@.service; do
    # The unit as installed, but starting the extracted binary (nothing is installed here).
    sed "s|/usr/bin/plixagram|$ROOT/usr/bin/plixagram|" "$UNITS/$unit" >"$WORK/$unit"
    # verify exits 0 on settings it ignores: any complaint fails. A template is checked as
    # an instance of it.
    out=$(cd "$WORK" && systemd-analyze verify --man=no "$WORK/$unit" 2>&1) || fail "systemd-analyze verify $unit: $out"
    [[ -z $out ]] || fail "systemd-analyze verify $unit: $out"
    out=$(systemd-analyze security --offline=true --no-pager "$UNITS/$unit" 2>&1) ||
        fail "systemd-analyze security $unit: $out"
    exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) \([A-Z]*\).*/\1 \2/p' <<<"$out")
    [[ -n $exposure ]] || fail "systemd-analyze security $unit: no exposure level: $out"
    awk -v e="${exposure% *}" -v max="$MAX_EXPOSURE" 'BEGIN { exit !(e <= max) }' ||
        fail "$unit: exposure $exposure, above $MAX_EXPOSURE: $(grep '✗' <<<"$out")"
    say "$unit: systemd-analyze security $exposure (at most $MAX_EXPOSURE); verify clean"
done

if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$ROOT/usr/share/applications/plixagram.desktop" 2>&1) ||
        fail "desktop-file-validate: $out"
    [[ -z $out ]] || fail "desktop-file-validate: $out"
else
    say "desktop-file-validate not installed, desktop entry not validated"
fi
out=$(zcat "$ROOT/usr/share/man/man1/plixagram.1.gz" | groff -man -ww -z -Tutf8 2>&1)
[[ -z $out ]] || fail "man page: $out"
say "$(basename "$deb") ($(du -k "$deb" | cut -f1) kB) checked"
