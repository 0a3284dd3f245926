#!/usr/bin/env bash
# Builds the three targets and runs every test: the format check, the native
# suite (built with g++ and with clang), the 32-bit and 64-bit Windows suites
# under Wine, the native suite under ASan+UBSan and under TSan, each fuzz
# target for a few seconds on its committed corpus, a short soak run; the
# benchmarks are built, not run. Every preset treats warnings as errors. Ends
# with one line "total: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all || exit 1

export ORVEX_WINEPREFIX=${ORVEX_WINEPREFIX:-$PWD/build/wineprefix}
fuzz_seconds=${ORVEX_FUZZ_SECONDS:-10}
soak_seconds=${ORVEX_SOAK_SECONDS:-20}
passed=0
failed=0

step() { printf '\n=== %s ===\n' "$*"; }

# Configures, builds and tests one preset; adds its counts to the totals.
suite() {
    local preset=$1
    step "suite: $preset"
    if ! cmake --preset "$preset" >"build/$preset.configure.log" 2>&1; then
        cat "build/$preset.configure.log"; failed=$((failed + 1)); return
    fi
    if ! cmake --build --preset "$preset"; then
        failed=$((failed + 1)); return
    fi
    local log="build/$preset.ctest.log"
    ctest --preset "$preset" --parallel 2 2>&1 | tee "$log"
    local total failures
    total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
    failures=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
    if [ -z "$total" ]; then
        failed=$((failed + 1)); return
    fi
    passed=$((passed + total - failures))
    failed=$((failed + failures))
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
suite linux
suite linux-clang
suite win32
suite win64
suite linux-asan
suite linux-tsan
fuzz
soak
benchmarks

echo
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
