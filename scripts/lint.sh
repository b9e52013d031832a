#!/usr/bin/env bash
# The project's own rules, checked by ./run test:
#   scripts/lint.sh style         clang-format on every tracked C++ file, shellcheck on the scripts
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
    tidy) tidy "${2:?usage: lint.sh tidy BUILD_DIR}" ;;
    tidy-one) tidy_one "$2" "$3" ;;
    *) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
