#!/usr/bin/env bash
# Installs, with apt-get, whatever the build is missing on a Debian 12 machine.
#   install-deps.sh native   the native toolchain (enough for the demo host)
#   install-deps.sh all      everything: all three targets, tests, sanitizers,
#                            fuzzing, benchmarks and their comparison peers
set -euo pipefail

mode=${1:-all}
native=(cmake ninja-build g++ pkg-config libdw-dev)
everything=("${native[@]}" clang clang-format libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
    libiberty-dev libxxhash-dev libicu-dev libmimalloc-dev libjemalloc-dev libgoogle-perftools-dev
    libboost-dev libzip-dev libsimpleini-dev libinih-dev libcsv-dev libspdlog-dev
    gdb libunwind-dev)

case "$mode" in
    native) wanted=("${native[@]}") ;;
    all) wanted=("${everything[@]}") ;;
    *) echo "usage: $0 [native|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails an update now and then; the index
# it left is usually enough, so the install is tried anyway, and the whole
# round is retried a few times before giving up.
for attempt in 1 2 3 4 5; do
    $sudo apt-get update -qq || echo "apt-get update failed (attempt $attempt)" >&2
    if DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null; then
        exit 0
    fi
    sleep $((attempt * 10))
done
echo "the packages could not be installed: ${missing[*]}" >&2
exit 1
