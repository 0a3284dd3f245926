#!/usr/bin/env bash
# Builds the benchmarks (Release), runs all three and prints the ratio tables that
# docs/PERFORMANCE.md quotes. The raw results stay in build/linux-bench/results.
#   bench/run-bench.sh [REPETITIONS]
# Repetitions are interleaved at random, so that a disturbance of a shared
# machine falls on every contender alike; the tables use their medians.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${1:-15}
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
python3 bench/ratios.py "$results/hash.json" "$results/utf8.json" "$results/alloc.json"
