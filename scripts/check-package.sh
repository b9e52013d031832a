#!/bin/bash
# Builds the .deb from a build folder and checks it as an installer would meet it: the files a
# station needs, its dependencies, an installed binary that runs, a service unit and a desktop
# entry their validators accept (where installed) and a man page that formats cleanly.
#
#   check-package.sh BUILD_DIR
set -euo pipefail

fail() {
    echo "check-package.sh: $*" >&2
    exit 1
}

[[ $# -eq 1 ]] || fail "usage: $0 BUILD_DIR"
BUILD=$(cd "$1" && pwd -P)
WORK=$(mktemp -d "$BUILD/package-check.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

(cd "$BUILD" && cpack -G DEB -B "$WORK/out") >"$WORK/cpack.log" 2>&1 \
    || fail "cpack failed: $(tail -n 20 "$WORK/cpack.log")"
deb=$(find "$WORK/out" -maxdepth 1 -name 'plixagram_*.deb' -print -quit)
[[ -n $deb ]] || fail "cpack made no plixagram_*.deb: $(tail -n 5 "$WORK/cpack.log")"
dpkg-deb -x "$deb" "$WORK/root"
dpkg-deb -e "$deb" "$WORK/control"
ROOT=$WORK/root

for f in usr/bin/plixagram usr/bin/plixagram-window usr/lib/systemd/system/plixagram.service \
    usr/lib/sysusers.d/plixagram.conf etc/default/plixagram \
    usr/share/applications/plixagram.desktop usr/share/icons/hicolor/scalable/apps/plixagram.svg \
    usr/share/man/man1/plixagram.1.gz; do
    [[ -f $ROOT/$f ]] || fail "the package lacks /$f"
done
for f in usr/bin/plixagram usr/bin/plixagram-window control/postinst control/prerm; do
    base=$ROOT
    [[ $f == control/* ]] && base=$WORK
    [[ -x $base/$f ]] || fail "$f is not executable"
done
grep -qx /etc/default/plixagram "$WORK/control/conffiles" || fail "/etc/default/plixagram is no conffile"
# The configuration ships with the argument string commented out.
grep -q "^#PLIXAGRAM_ARGS=" "$ROOT/etc/default/plixagram" || fail "no commented PLIXAGRAM_ARGS"
grep -q "^PLIXAGRAM_ARGS=" "$ROOT/etc/default/plixagram" && fail "PLIXAGRAM_ARGS is set"

depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libqt6gui6 libcups2 libsystemd0 cups-filters ghostscript; do
    [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done

version=$("$ROOT/usr/bin/plixagram" --version) || fail "the installed binary does not run"
[[ $version == "plixagram $(dpkg-deb -f "$deb" Version)" ]] \
    || fail "--version says '$version', the package $(dpkg-deb -f "$deb" Version)"

if command -v systemd-analyze >/dev/null; then
    # The unit as installed, but starting the extracted binary (nothing is installed here).
    sed "s|/usr/bin/plixagram|$ROOT/usr/bin/plixagram|" \
        "$ROOT/usr/lib/systemd/system/plixagram.service" >"$WORK/plixagram.service"
    # verify exits 0 on settings it ignores: any complaint fails.
    out=$(cd "$WORK" && systemd-analyze verify --man=no "$WORK/plixagram.service" 2>&1) \
        || fail "systemd-analyze verify: $out"
    [[ -z $out ]] || fail "systemd-analyze verify: $out"
else
    echo "check-package.sh: systemd-analyze not installed, unit not verified"
fi
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$ROOT/usr/share/applications/plixagram.desktop" 2>&1) \
        || fail "desktop-file-validate: $out"
    [[ -z $out ]] || fail "desktop-file-validate: $out"
else
    echo "check-package.sh: desktop-file-validate not installed, desktop entry not validated"
fi
if command -v groff >/dev/null; then
    out=$(zcat "$ROOT/usr/share/man/man1/plixagram.1.gz" | groff -man -ww -z -Tutf8 2>&1)
    [[ -z $out ]] || fail "man page: $out"
fi
echo "check-package.sh: $(basename "$deb") ($(du -k "$deb" | cut -f1) kB) checked"
