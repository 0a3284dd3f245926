#!/usr/bin/env bash
# Installs, with apt-get, whatever the build is missing on a Debian 12 machine.
#   install-deps.sh native   the native toolchain (enough for the demo host)
#   install-deps.sh all      everything: all three targets, tests, sanitizers,
#                            fuzzing, benchmarks and their comparison peers
# APT_CONFIG is honoured and ORVEX_APT_SIMULATE=1 only simulates the install
# (apt-get -s), so scripts/check-install-recovery.sh can run it against a
# sources list of its own without changing the machine.
set -euo pipefail

mode=${1:-all}
native=(cmake ninja-build g++ pkg-config libdw-dev zlib1g-dev)
everything=("${native[@]}" clang clang-format libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
    g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
    libiberty-dev libxxhash-dev libicu-dev libmimalloc-dev libjemalloc-dev libgoogle-perftools-dev
    libboost-dev libzip-dev libsimpleini-dev libinih-dev libcsv-dev libspdlog-dev
    gdb libunwind-dev python3 zip)

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
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT

# A library installed for amd64 may have no i386 twin of its version, which
# Multi-Arch libraries need, when one architecture's index could not be
# fetched. Prints "name:amd64=V name:i386=V" for each i386 package the wanted
# ones pull in whose i386 candidate V differs from the amd64 version
# installed while amd64 offers V too. Arguments: apt options.
twin_pins() {
    local roots=() package name installed version
    for package in "${missing[@]}"; do
        [[ $package == *:i386 ]] && roots+=("$package")
    done
    [ ${#roots[@]} -eq 0 ] && return 0
    apt-cache "$@" depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
        --no-replaces --no-enhances "${roots[@]}" 2>/dev/null | grep -v '^ ' | grep ':i386$' |
        sort -u | while read -r package; do
            name=${package%:i386}
            installed=$(dpkg-query -W -f='${Version}' "$name:amd64" 2>/dev/null) || continue
            version=$(apt-cache "$@" policy "$package" | awk '/Candidate:/ {print $2}')
            if [ -z "$version" ] || [ "$version" = "(none)" ] || [ "$version" = "$installed" ]; then
                continue
            fi
            if apt-cache "$@" madison "$name" | grep -q " | $version | .* amd64 Packages"; then
                echo "$name:amd64=$version $package=$version"
            fi
        done
}

# Arguments: apt options, then extra packages (pins). Keeps apt's errors for
# the final report. Nothing installed is ever removed: a pin that could only
# be met by removing packages (a -dev package that wants the exact newer
# version of its library) fails instead.
install_missing() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        --no-remove --allow-downgrades ${ORVEX_APT_SIMULATE:+-s} "$@" "${missing[@]}" >/dev/null 2>"$errors"
}

# A mirror in the middle of a sync fails an update now and then, or serves an
# index that is whole for one architecture and not for the other: a suite of
# updates may then offer an amd64 package whose i386 twin (or whose
# dependency's twin) only the release itself has. The index left is usually
# enough, so the install is tried anyway, then with the release's own suite
# preferred (its versions exist for both architectures), then with that and
# the twins' versions matched (for a library already installed at a newer
# amd64 version); the whole round is retried a few times before giving up.
# The order was chosen by scripts/check-install-recovery.sh.
did=installed
[ -n "${ORVEX_APT_SIMULATE:-}" ] && did="would install (simulated)"
preferred=()
[ -n "$release" ] && preferred=(-o "APT::Default-Release=$release")
for attempt in 1 2 3 4 5; do
    update_note=""
    $sudo apt-get update -qq 2>>"$errors" || update_note=" after a failed index update"
    if install_missing; then
        exit 0
    fi
    first_error=$(grep -m1 '^E:' "$errors" || true)
    if [ ${#preferred[@]} -gt 0 ] && install_missing "${preferred[@]}"; then
        echo "install-deps: the plain install failed$update_note (${first_error:-no message});" \
            "$did with the release's own suite preferred (APT::Default-Release=$release)"
        exit 0
    fi
    pins=$(twin_pins "${preferred[@]}" | tr "\n" " ")
    pins=${pins% }
    # shellcheck disable=SC2086 # one word per pin
    if [ -n "$pins" ] && install_missing "${preferred[@]}" $pins; then
        echo "install-deps: the plain install failed$update_note (${first_error:-no message});" \
            "$did with ${preferred[*]:-no release preferred} and both architectures'" \
            "versions matched: $pins"
        exit 0
    fi
    echo "install-deps: attempt $attempt failed$update_note: ${first_error:-no message}" >&2
    [ "$attempt" -lt 5 ] && sleep $((attempt * 10))
done
cat "$errors" >&2
echo "the packages could not be installed: ${missing[*]}" >&2
exit 1
