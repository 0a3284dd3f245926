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
# When one architecture's index cannot be fetched (a mirror in the middle of
# a sync), a library installed for amd64 may have no i386 twin of its
# version, which Multi-Arch libraries need. Prints "name:amd64=V name:i386=V"
# for each i386 package the wanted ones pull in whose i386 candidate V
# differs from the amd64 version installed while amd64 offers V too.
twin_pins() {
    local roots=() package name installed version
    for package in "${missing[@]}"; do
        [[ $package == *:i386 ]] && roots+=("$package")
    done
    [ ${#roots[@]} -eq 0 ] && return 0
    apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances "${roots[@]}" 2>/dev/null | grep -v '^ ' | grep ':i386$' |
        sort -u | while read -r package; do
            name=${package%:i386}
            installed=$(dpkg-query -W -f='${Version}' "$name:amd64" 2>/dev/null) || continue
            version=$(apt-cache policy "$package" | awk '/Candidate:/ {print $2}')
            if [ -z "$version" ] || [ "$version" = "(none)" ] || [ "$version" = "$installed" ]; then
                continue
            fi
            if apt-cache madison "$name" | grep -q " | $version | .* amd64 Packages"; then
                echo "$name:amd64=$version $package=$version"
            fi
        done
}

install_missing() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        --allow-downgrades "$@" "${missing[@]}" >/dev/null
}

# A mirror in the middle of a sync fails an update now and then; the index
# it left is usually enough, so the install is tried anyway (then once more
# with the twins' versions matched), and the whole round is retried a few
# times before giving up.
for attempt in 1 2 3 4 5; do
    $sudo apt-get update -qq || echo "apt-get update failed (attempt $attempt)" >&2
    if install_missing; then
        exit 0
    fi
    pins=$(twin_pins)
    if [ -n "$pins" ]; then
        echo "matching the versions of both architectures: $pins" >&2
        # shellcheck disable=SC2086 # one word per pin
        if install_missing $pins; then
            exit 0
        fi
    fi
    sleep $((attempt * 10))
done
echo "the packages could not be installed: ${missing[*]}" >&2
exit 1
