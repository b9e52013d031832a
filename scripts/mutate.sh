#!/usr/bin/env bash
# Mutation run: makes each change of the mutant list (scripts/mutants.txt) to the production
# code in turn, builds incrementally in its own build folder, runs the tests the mutant names
# and says whether they caught it; the file is restored after each one, also when the run is
# interrupted. Slow (a build and a test run per mutant), so not part of ./run test.
#   scripts/mutate.sh [BUILD_DIR] [NAME_REGEX]
# It edits the sources of this checkout while it runs: build nothing else from them meanwhile.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build-mutate}
ONLY=${2:-}
LIST=${PLIXAGRAM_MUTANTS:-$ROOT/scripts/mutants.txt}
TIMEOUT=${PLIXAGRAM_MUTATE_TIMEOUT:-300}
LOGS=$BUILD/mutate-logs
mkdir -p "$LOGS"

# --- The list ------------------------------------------------------------------------------
names=() tests=() finds=() replaces=()
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in '' | '#'*) continue ;; esac
    key=${line%% *}
    value=$(sed -E 's/^[a-z]+ *//' <<<"$line")
    case "$key" in
        mutant) names+=("$value") tests+=("") finds+=("") replaces+=("") ;;
        tests) tests[${#names[@]} - 1]=$value ;;
        find) finds[${#names[@]} - 1]=$value ;;
        replace) replaces[${#names[@]} - 1]=$value ;;
        *) echo "mutate: $LIST: unknown line: $line" >&2; exit 2 ;;
    esac
done <"$LIST"

# Production sources, wherever they live: everything but the tests, benchmarks, fuzzers and tools.
mapfile -t SOURCES < <(git -C "$ROOT" ls-files '*.cpp' '*.h' | grep -Ev '^(tests|bench|fuzz|tools)/')

# --- Putting a file back, whatever happens ----------------------------------------------------
BACKUP=$BUILD/mutate-backup
TOUCHED=""
CHILD=""
restore() {
    if [ -n "$TOUCHED" ]; then
        # Written, not copied with its old time: the next build must see the file changed.
        cat "$BACKUP" >"$ROOT/$TOUCHED"
        TOUCHED=""
    fi
}
interrupted() {
    # The build or test run has a session of its own (below): end it and what it started,
    # the tests' private print server included.
    if [ -n "$CHILD" ]; then
        kill -TERM -- "-$CHILD" 2>/dev/null || true
        wait "$CHILD" 2>/dev/null || true
        "$ROOT/scripts/cups-server.sh" stop "$BUILD/cups-test" >/dev/null 2>&1 || true
    fi
    restore
    echo "mutate: interrupted; sources restored" >&2
    exit 130
}
trap restore EXIT
trap interrupted INT TERM

# Builds and test runs go in a session of their own and are waited for with `wait`, which a
# signal interrupts at once (a foreground command that handles Ctrl-C itself, as cmake does,
# would leave the signal unseen here).
quietly() { # log, command...
    local log=$1
    shift
    setsid nice -n 10 "$@" >"$log" 2>&1 &
    CHILD=$!
    local rc=0
    wait "$CHILD" || rc=$?
    CHILD=""
    return "$rc"
}
build() { quietly "$1" cmake --build "$BUILD" -j"$(nproc)"; }
runTests() { # regex, log: 0 when every test passed
    quietly "$2" ctest --test-dir "$BUILD" -R "$1" --timeout "$TIMEOUT" -j2
}
testCount() { ctest --test-dir "$BUILD" -N -R "$1" 2>/dev/null | sed -n 's/^Total Tests: //p'; }

echo "mutate: configuring and building $BUILD"
quietly "$LOGS/configure.log" cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
build "$LOGS/build.log" || { echo "mutate: the unchanged code does not build ($LOGS/build.log)" >&2; exit 1; }

# The chosen tests must pass without any mutant, or every mutant would look caught.
all=""
for i in "${!names[@]}"; do
    [ -n "$ONLY" ] && ! [[ ${names[$i]} =~ $ONLY ]] && continue
    all+="${all:+|}${tests[$i]}"
done
[ -n "$all" ] || { echo "mutate: no mutant matches \"$ONLY\"" >&2; exit 2; }
echo "mutate: running the chosen tests on the unchanged code"
runTests "$all" "$LOGS/baseline.log" ||
    { echo "mutate: the chosen tests fail without any mutant ($LOGS/baseline.log)" >&2; exit 1; }

caught=0 survived=0 missing=0 unbuilt=0 untested=0
for i in "${!names[@]}"; do
    name=${names[$i]} find=${finds[$i]} regex=${tests[$i]}
    [ -n "$ONLY" ] && ! [[ $name =~ $ONLY ]] && continue
    # Exactly one occurrence in all the production sources.
    hits=()
    for f in "${SOURCES[@]}"; do
        n=$(grep -cF -- "$find" "$ROOT/$f" || true)
        for ((k = 0; k < n; ++k)); do hits+=("$f"); done
    done
    if [ ${#hits[@]} -ne 1 ]; then
        printf '%-10s %s (the text is found %d times)\n' "not found" "$name" "${#hits[@]}"
        missing=$((missing + 1))
        continue
    fi
    if [ "$(testCount "$regex")" = 0 ]; then
        printf '%-10s %s (no test matches %s)\n' "no tests" "$name" "$regex"
        untested=$((untested + 1))
        continue
    fi
    file=${hits[0]}
    cp "$ROOT/$file" "$BACKUP"
    TOUCHED=$file
    FIND=$find REPLACE=${replaces[$i]} perl -0pi -e \
        'my $at = index($_, $ENV{FIND}); substr($_, $at, length $ENV{FIND}) = $ENV{REPLACE};' \
        "$ROOT/$file"
    if ! build "$LOGS/$name.build.log"; then
        printf '%-10s %s (%s)\n' "no build" "$name" "$file"
        unbuilt=$((unbuilt + 1))
    elif runTests "$regex" "$LOGS/$name.test.log"; then
        printf '%-10s %s (%s; tests: %s)\n' "survived" "$name" "$file" "$regex"
        survived=$((survived + 1))
    else
        printf '%-10s %s (%s)\n' "caught" "$name" "$file"
        caught=$((caught + 1))
    fi
    restore
done
# Leave the build folder matching the unchanged sources.
build "$LOGS/build.log" || true

tried=$((caught + survived))
echo "mutate: score $caught/$tried caught ($survived survived, $missing not found," \
    "$unbuilt did not build, $untested without tests); logs in $LOGS"
[ "$survived" -eq 0 ]
