#!/usr/bin/env bash
# A fuzzing campaign: every libFuzzer target for MINUTES minutes on all
# cores but one, its corpus merged and minimised back into fuzz/corpus/<name>,
# and a line per target with executions, speed, coverage and findings.
#   scripts/fuzz-campaign.sh MINUTES [TARGET...]
# Findings (crashes, leaks, timeouts) are kept in build/fuzz-findings/<name>/.
# ORVEX_FUZZ_JOBS sets the processes per target (default: all cores but one),
# so that campaigns of different targets can share a machine.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: $0 MINUTES [TARGET...]}
shift
bash scripts/install-deps.sh all || exit 1
cmake --preset linux-fuzz >build/linux-fuzz.configure.log 2>&1 || { cat build/linux-fuzz.configure.log; exit 1; }
cmake --build --preset linux-fuzz || exit 1

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for binary in build/linux-fuzz/bin/fuzz_*; do
        targets+=("${binary##*/fuzz_}")
    done
fi
jobs=${ORVEX_FUZZ_JOBS:-$(( $(nproc) > 1 ? $(nproc) - 1 : 1 ))}
root=$PWD
seconds=$(( minutes * 60 ))
status=0

printf '%-10s %14s %10s %8s %8s %9s\n' target executions exec/s cov features findings
for name in "${targets[@]}"; do
    binary=$root/build/linux-fuzz/bin/fuzz_$name
    work=$root/build/fuzz-campaign/$name
    findings=$root/build/fuzz-findings/$name
    rm -rf "$work"
    mkdir -p "$work/new" "$findings"
    # One process per job, each with its own log (fuzz-<job>.log in the
    # working folder, so campaigns side by side keep theirs apart); the
    # corpus grows in new/.
    (cd "$work" && "$binary" -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work/new" "$root/fuzz/corpus/$name" \
        >"$work/run.log" 2>&1) || true
    executions=0
    for log in "$work"/fuzz-*.log; do
        [ -f "$log" ] || continue
        count=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        executions=$(( executions + ${count:-0} ))
    done
    # Merge what was found into a minimal corpus that covers the same.
    mkdir -p "$work/merged"
    "$binary" -merge=1 "$work/merged" "fuzz/corpus/$name" "$work/new" >"$work/merge.log" 2>&1
    if [ -n "$(ls -A "$work/merged")" ]; then
        rm -rf "fuzz/corpus/$name"
        mv "$work/merged" "fuzz/corpus/$name"
    fi
    # Coverage of the minimised corpus, read back in one pass.
    "$binary" -runs=0 "fuzz/corpus/$name" >"$work/cover.log" 2>&1
    cov=$(sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' "$work/cover.log" | tail -1)
    features=$(sed -n 's/.*INITED cov: [0-9]* ft: \([0-9]*\).*/\1/p' "$work/cover.log" | tail -1)
    found=$(find "$findings" -type f | wc -l)
    [ "$found" -eq 0 ] || status=1
    printf '%-10s %14d %10d %8s %8s %9d\n' "$name" "$executions" $(( executions / seconds )) \
        "${cov:-?}" "${features:-?}" "$found"
done
exit $status
