#!/bin/bash
# Builds the Debian package as Debian does (dpkg-buildpackage, debhelper, debian/), without
# signing, from a copy of the working tree: dpkg-buildpackage writes its results next to the
# source tree, and nothing may land outside OUT_DIR. The copy holds the files git knows or would
# add (uncommitted changes included), never build folders.
#
#   build-package.sh OUT_DIR     -> OUT_DIR/plixagram_VERSION_ARCH.deb (and .changes, .buildinfo)
set -euo pipefail

fail() {
    echo "build-package.sh: $*" >&2
    exit 1
}

[[ $# -eq 1 ]] || fail "usage: $0 OUT_DIR"
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
mkdir -p "$1"
OUT=$(cd "$1" && pwd -P)
[[ $OUT != "$ROOT" ]] || fail "OUT_DIR must not be the source tree itself"
git -C "$ROOT" rev-parse --git-dir >/dev/null 2>&1 || fail "$ROOT is not a git checkout"

SRC=$OUT/source
rm -rf "$SRC" "$OUT"/plixagram_* "$OUT"/plixagram-dbgsym_*
mkdir -p "$SRC"
# Files deleted but not yet committed are still listed by git: copy only what exists.
(cd "$ROOT" && git ls-files -z -c -o --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -C "$SRC" -xf -

# debhelper gives the build a HOME of its own (inside the copy): a compiler cache set up in
# the real one (ccache's folder and configuration) stays in use.
if command -v ccache >/dev/null; then
    CCACHE_DIR=${CCACHE_DIR:-$(ccache --get-config=cache_dir)}
    export CCACHE_DIR
    conf=${CCACHE_CONFIGPATH:-${XDG_CONFIG_HOME:-$HOME/.config}/ccache/ccache.conf}
    if [[ -f $conf ]]; then export CCACHE_CONFIGPATH=$conf; fi
fi

log=$OUT/dpkg-buildpackage.log
if ! (cd "$SRC" && dpkg-buildpackage -b -us -uc -j"$(nproc)") >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    fail "dpkg-buildpackage failed (whole log: $log)"
fi
deb=$(find "$OUT" -maxdepth 1 -name 'plixagram_*.deb' -print -quit)
[[ -n $deb ]] || fail "dpkg-buildpackage made no plixagram_*.deb (log: $log)"
echo "$deb"
