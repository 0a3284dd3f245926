#!/usr/bin/env bash
# Builds the three targets and runs every test: the format check, the native
# suite (built with g++ and with clang), the 32-bit and 64-bit Windows suites
# under Wine, the native suite under ASan+UBSan and under TSan, each fuzz
# target for a few seconds on its committed corpus, a short soak run; the
# benchmarks are built, not run. First of all it does what the README asks of
# a new user: the demo, an install of the demo's build, and the README's host
# built against that install. Every preset treats warnings as errors. A suite
# whose programs this machine cannot run is still configured and built, runs
# its checks that need no execution, and counts the rest as skipped, saying
# why. A test that runs past ten minutes fails. Ends with one line
# "total: N passed, N failed, N skipped".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all || exit 1

export ORVEX_WINEPREFIX=${ORVEX_WINEPREFIX:-$PWD/build/wineprefix}
fuzz_seconds=${ORVEX_FUZZ_SECONDS:-10}
soak_seconds=${ORVEX_SOAK_SECONDS:-20}
passed=0
failed=0
skipped=0
skip_reasons=()

step() { printf '\n=== %s ===\n' "$*"; }

# Adds the counts of a ctest log to the totals: a test that skipped itself
# (GTEST_SKIP, a platform that lacks what it checks) counts as skipped, with
# its name among the reasons.
count_ctest() {
    local preset=$1 log=$2 total failures names
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    failures=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
    if [ -z "$total" ]; then
        failed=$((failed + 1)); return
    fi
    names=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (\(Skipped\|Disabled\))$/\1/p' "$log")
    local skips=0
    [ -n "$names" ] && skips=$(wc -l <<<"$names")
    passed=$((passed + total - failures - skips))
    failed=$((failed + failures))
    skipped=$((skipped + skips))
    if [ "$skips" -gt 0 ]; then
        skip_reasons+=("$preset: $skips tests skipped themselves (ctest -V -R NAME says why): $(echo $names)")
    fi
}

# The Windows suites run in one Wine session (the server and Wine's own
# programs started before the first test, ended after the last).
wine_session() {
    case $1 in
        win*) bash cmake/wine-run.sh --session "$2" ;;
    esac
}

# Configures, builds and tests one preset; adds its counts to the totals.
# With a second argument, the cause why this machine cannot run the preset's
# programs: then only the tests labelled "static" run, and the others are
# counted as skipped.
suite() {
    local preset=$1 cannot_run=${2:-}
    step "suite: $preset"
    if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
        cat "build/$preset.configure.log"; failed=$((failed + 1)); return
    fi
    if ! cmake --build --preset "$preset"; then
        failed=$((failed + 1)); return
    fi
    local log="build/$preset.ctest.log"
    if [ -z "$cannot_run" ]; then
        wine_session "$preset" start
        ctest --preset "$preset" --parallel 2 2>&1 | tee "$log"
        wine_session "$preset" end
        count_ctest "$preset" "$log"
        return
    fi
    ctest --preset "$preset" --parallel 2 -L static 2>&1 | tee "$log"
    count_ctest "$preset" "$log"
    local not_run
    not_run=$(ctest --preset "$preset" -N -LE static | sed -n 's/^Total Tests: \([0-9]*\)$/\1/p')
    skipped=$((skipped + ${not_run:-0}))
    echo "$preset tests not run: $cannot_run"
    skip_reasons+=("$preset: ${not_run:-0} tests not run: $cannot_run")
}

# The 32-bit Windows suite runs its programs only where the kernel runs
# 32-bit programs (some kernels have that switched off).
suite_win32() {
    local cause
    if cause=$(bash cmake/wine-run.sh --check-32); then
        suite win32
    else
        suite win32 "$cause"
    fi
}

# The README's first steps, as a new user takes them: the demo, an install of
# what the demo built, and the README's host example against that install.
# On a fresh clone the demo's build is the first thing in build/linux.
readme_steps() {
    step "README: demo, install, host example"
    local prefix=$PWD/build/readme/prefix log=build/readme.log
    rm -rf build/readme
    if { bash scripts/run-demo.sh &&
         cmake --install build/linux --prefix "$prefix" &&
         cmake -S examples/host -B build/readme/host -DCMAKE_PREFIX_PATH="$prefix" &&
         cmake --build build/readme/host &&
         ./build/readme/host/installed_host; } >"$log" 2>&1; then
        echo "README steps: the demo ran; the install and the host example built against it worked"
        passed=$((passed + 1))
    else
        tail -40 "$log"
        failed=$((failed + 1))
    fi
}

format_check() {
    step "format"
    if bash scripts/check-format.sh; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

fuzz() {
    step "fuzz targets, ${fuzz_seconds}s each"
    if ! { cmake --preset linux-fuzz >build/linux-fuzz.configure.log 2>&1 &&
           cmake --build --preset linux-fuzz; }; then
        failed=$((failed + 1)); return
    fi
    for target in build/linux-fuzz/bin/fuzz_*; do
        local name=${target##*/fuzz_}
        local scratch
        scratch=$(mktemp -d)
        if "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 \
            -artifact_prefix="build/linux-fuzz/" "$scratch" "fuzz/corpus/$name" 2>"build/fuzz_$name.log"; then
            echo "fuzz_$name: no failure in ${fuzz_seconds}s"
            passed=$((passed + 1))
        else
            tail -40 "build/fuzz_$name.log"
            failed=$((failed + 1))
        fi
        rm -rf "$scratch"
    done
}

soak() {
    step "soak, ${soak_seconds}s on the native build"
    if bash scripts/soak.sh "$soak_seconds" linux; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

benchmarks() {
    step "benchmarks (built, not run)"
    if cmake --preset linux-bench >build/linux-bench.configure.log 2>&1 &&
       cmake --build --preset linux-bench; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

mkdir -p build
format_check
readme_steps
suite linux
suite linux-clang
suite_win32
suite win64
suite linux-asan
suite linux-tsan
fuzz
soak
benchmarks

echo
for reason in "${skip_reasons[@]}"; do
    echo "skipped: $reason"
done
echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
