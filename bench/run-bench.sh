#!/usr/bin/env bash
# Builds the benchmarks (Release), runs all fourteen and prints the ratio tables that
# docs/PERFORMANCE.md quotes, then writes the summary at the top of
# docs/PERFORMANCE.md and the chart docs/performance.svg from the same results
# (bench/summary.py). The raw results stay in build/linux-bench/results.
#   bench/run-bench.sh [REPETITIONS [TICK_REPETITIONS]]
# Repetitions are interleaved at random, so that a disturbance of a shared
# machine falls on every contender alike; the tables use their medians.
# tick_bench has a count of its own (5 unless given): one of its repetitions
# times a whole 20 000-unit span, 1-12 s depending on the contender. log_bench
# times runs of at least 0.3 s, so that a run of its write cases passes the
# logs' 10 MiB switch several times.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-15}
tick_repetitions=${2:-5}
cmake --preset linux-bench >/dev/null
cmake --build --preset linux-bench

bin=build/linux-bench/bin
results=build/linux-bench/results
mkdir -p "$results"
options=(--benchmark_min_time=0.05 --benchmark_repetitions="$repetitions"
    --benchmark_enable_random_interleaving=true --benchmark_out_format=json)
"$bin/hash_bench" "${options[@]}" --benchmark_out="$results/hash.json" >/dev/null
"$bin/utf8_bench" "${options[@]}" --benchmark_out="$results/utf8.json" >/dev/null
"$bin/alloc_bench" "${options[@]}" --benchmark_out="$results/alloc.json" >/dev/null
"$bin/tick_bench" "${options[@]}" --benchmark_repetitions="$tick_repetitions" \
    --benchmark_out="$results/tick.json" >/dev/null
"$bin/package_bench" "${options[@]}" --benchmark_out="$results/package.json" >/dev/null
"$bin/zip_bench" "${options[@]}" --benchmark_out="$results/zip.json" >/dev/null
"$bin/ini_bench" "${options[@]}" --benchmark_out="$results/ini.json" >/dev/null
"$bin/tab_bench" "${options[@]}" --benchmark_out="$results/tab.json" >/dev/null
"$bin/log_bench" "${options[@]}" --benchmark_min_time=0.3 \
    --benchmark_out="$results/log.json" >/dev/null
"$bin/format_bench" "${options[@]}" --benchmark_out="$results/format.json" >/dev/null
"$bin/profile_bench" "${options[@]}" --benchmark_out="$results/profile.json" >/dev/null
"$bin/math_bench" "${options[@]}" --benchmark_out="$results/math.json" >/dev/null
"$bin/stack_bench" "${options[@]}" --benchmark_out="$results/stack.json" >/dev/null
"$bin/reload_bench" "${options[@]}" --benchmark_out="$results/reload.json" >/dev/null
files=()
for name in hash utf8 alloc tick package zip ini tab log format profile math stack reload; do
    files+=("$results/$name.json")
done
python3 bench/ratios.py "${files[@]}"
# Rows below 1.0x without an explanation in bench/bounds.json are listed on
# stderr; the run still succeeds.
python3 bench/summary.py "${files[@]}"
