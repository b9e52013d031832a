#!/usr/bin/env bash
# The project's own rules, checked by ./run test:
#   scripts/lint.sh style         clang-format on every tracked C++ file, shellcheck on the scripts,
#                                 and the include rules (below)
#   scripts/lint.sh includes      the include rules alone: Qt Widgets only in app/ (and main.cpp),
#                                 libcups only in cups/, neither Qt nor CUPS in printing/ and
#                                 intake/, and each folder's includes of the others
#   scripts/lint.sh tidy BUILD    clang-tidy (.clang-tidy) on the production code, from BUILD's
#                                 compile database, two files at a time
# Exits non-zero on any finding.
set -euo pipefail
SELF=$(cd "$(dirname "$0")" && pwd -P)/$(basename "$0")
cd "$(dirname "$SELF")/.."

style() {
    local status=0
    git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror || status=1
    shellcheck run .ci/run scripts/*.sh scripts/cups/* debian/postinst debian/prerm debian/postrm ||
        status=1
    if [ "$status" -ne 0 ]; then
        echo "lint: formatting or script findings above (clang-format -i FILE fixes the former)" >&2
        return 1
    fi
    echo "lint: formatting and scripts clean"
    includes
}

# The seams the CMake targets draw, checked on the sources too: a header included across them
# would compile wherever the include path reaches, and tie that folder to Qt Widgets or libcups.
includes() {
    local qt widgets files status=0
    qt=$(pkg-config --variable=includedir Qt6Widgets 2>/dev/null || true)
    [ -d "$qt/QtWidgets" ] || { echo "lint: no Qt Widgets headers to check against" >&2; return 1; }
    # The module's class headers (<QWidget>, <QtWidgets/QLabel>): every name without a ".h".
    widgets=$(find "$qt/QtWidgets" -maxdepth 1 -type f ! -name '*.h' -printf '%f\n' | paste -sd'|')
    files=$(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' |
        grep -E '^(app|common|cups|document|intake|monitoring|picture|printing)/|^main\.cpp$')
    forbid() {  # what is broken, which files, which includes (with their < or ")
        local found
        found=$(grep -E "$2" <<<"$files" | xargs -r grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*($3)" || true)
        [ -z "$found" ] && return 0
        printf 'lint: %s:\n%s\n' "$1" "$found" >&2
        status=1
    }
    local below_app='^(common|cups|document|intake|monitoring|picture|printing)/'
    forbid "Qt Widgets outside app/" "$below_app" "<QtWidgets[/>]|<($widgets)>"
    forbid "libcups outside cups/" '^(app|common|document|intake|monitoring|picture|printing)/|^main' '<cups/'
    forbid "Qt in printing/, intake/, document/ or common/" '^(printing|intake|document|common)/' '<Q'
    forbid "printing/ includes beyond common/" '^printing/' '"(app|cups|document|intake|monitoring|picture)/'
    forbid "intake/ includes beyond common/ and printing/" '^intake/' '"(app|cups|document|monitoring|picture)/'
    forbid "document/ includes beyond common/ and printing/" '^document/' '"(app|cups|intake|monitoring|picture)/'
    forbid "picture/ includes beyond common/ and printing/" '^picture/' '"(app|cups|document|intake|monitoring)/'
    forbid "cups/ includes app/, intake/, monitoring/ or picture/" '^cups/' '"(app|intake|monitoring|picture)/'
    forbid "monitoring/ includes app/ or the print side" '^monitoring/' '"(app|cups|document|intake|picture|printing)/'
    forbid "common/ includes another folder" '^common/' '"(app|cups|document|intake|monitoring|picture|printing)/'
    if [ "$status" -ne 0 ]; then
        echo "lint: include rules broken above" >&2
        return 1
    fi
    echo "lint: include rules kept ($(wc -l <<<"$files") files)"
}

tidy() {
    local build=$1
    [ -f "$build/compile_commands.json" ] || { echo "lint: no $build/compile_commands.json" >&2; exit 2; }
    local start=$SECONDS
    git ls-files 'app/*.cpp' 'common/*.cpp' 'cups/*.cpp' 'document/*.cpp' 'intake/*.cpp' \
        'monitoring/*.cpp' 'picture/*.cpp' 'printing/*.cpp' main.cpp |
        xargs -P2 -n1 "$SELF" tidy-one "$build" || { echo "lint: clang-tidy findings above" >&2; exit 1; }
    echo "lint: clang-tidy clean ($((SECONDS - start)) s)"
}

tidy_one() {
    local build=$1 file=$2
    clang-tidy -p "$build" --quiet "$file" 2> >(grep -v "warnings\? generated" >&2)
}

case "${1:-}" in
    style) style ;;
    includes) includes ;;
    tidy) tidy "${2:?usage: lint.sh tidy BUILD_DIR}" ;;
    tidy-one) tidy_one "$2" "$3" ;;
    *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
