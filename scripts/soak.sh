#!/usr/bin/env bash
# A soak run: the soak host (tools/orvex-soak/) does everything at once from four
# threads for SECONDS, then checks that nothing was lost.
#   scripts/soak.sh SECONDS [PRESET]     PRESET: linux (default), linux-asan, linux-tsan
# Builds the preset's soak host, runs it in a scratch folder and prints its
# line of figures; exits with the host's code (0: everything held).
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: $0 SECONDS [PRESET]}
preset=${2:-linux}
mkdir -p build
if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >"build/$preset.configure.log" 2>&1 || { cat "build/$preset.configure.log"; exit 2; }
fi
cmake --build --preset "$preset" --target orvex_soak || exit 2
scratch=build/soak-$preset
rm -rf "$scratch"
mkdir -p "$scratch"
host=$PWD/build/$preset/bin/orvex_soak
(cd "$scratch" && "$host" "$seconds")
status=$?
[ "$status" -eq 0 ] && rm -rf "$scratch"
exit $status
