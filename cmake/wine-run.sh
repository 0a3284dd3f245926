#!/usr/bin/env bash
# Runs one Windows executable under Wine with a private, quiet prefix.
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
#   wine-run.sh --check-32      exit status 0 when this machine can run
#                               32-bit programs, else the cause and status 77
# A program starts with the loader of its own width: the 64-bit loader
# directly, since the generic one picks the 32-bit loader first and some
# kernels cannot run 32-bit programs at all. ORVEX_WINE64_LOADER and
# ORVEX_WINE32_LOADER name other loaders (a loader that cannot start shows
# what a machine without 32-bit support does).
set -u
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${ORVEX_WINEPREFIX:-$HOME/.cache/orvex-wine}}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
loader64=${ORVEX_WINE64_LOADER:-/usr/lib/wine/wine64}
loader32=${ORVEX_WINE32_LOADER:-/usr/lib/wine/wine}
readonly cannot_run_status=77

# The width of a PE file, from the machine field of its header: 32, 64, or
# nothing for a file that is no PE image.
pe_width() {
    local header machine
    header=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$header" ] || return 0
    machine=$(od -An -t x2 -j $((header + 4)) -N 2 "$1" 2>/dev/null | tr -d ' ')
    case "$machine" in
        014c) echo 32 ;;
        8664) echo 64 ;;
    esac
}

# Whether the 32-bit loader starts (a few milliseconds, so it is asked at
# each start rather than remembered). Prints the cause when it does not.
can_run_32() {
    local output
    output=$("$loader32" --version 2>&1) && return 0
    if [ ! -e "$loader32" ]; then
        echo "the 32-bit Wine loader $loader32 is not installed"
    elif [[ $output == *"Exec format error"* ]]; then
        echo "this kernel cannot run 32-bit programs ($loader32: Exec format error)"
    else
        echo "the 32-bit Wine loader $loader32 does not start: ${output%%$'\n'*}"
    fi
    return 1
}

if [ "${1:-}" = --check-32 ]; then
    cause=$(can_run_32) && exit 0
    echo "$cause"
    exit $cannot_run_status
fi
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM.exe [ARGUMENTS...] | --check-32" >&2; exit 2; }

# A prefix made by the 32-bit loader holds both widths; one made where that
# loader cannot start holds 64-bit Windows only and cannot be extended later,
# so it lives beside the other under a name of its own.
if can_run_32 >/dev/null; then
    boot_loader=$loader32
else
    boot_loader=$loader64
    WINEPREFIX=$WINEPREFIX-64
fi
if [ "$(pe_width "$1")" = 32 ]; then
    if ! cause=$(can_run_32); then
        echo "wine-run.sh: cannot run the 32-bit program $1: $cause" >&2
        exit $cannot_run_status
    fi
    loader=$loader32
else
    # Programs it starts find their loader from this one, as when the generic
    # script starts the 64-bit loader itself.
    loader=$loader64
    export WINELOADER=$loader64
fi

# The prefix is created once; concurrent first starts wait for each other.
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/.orvex-ready" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.orvex-ready" ]; then
            "$boot_loader" wineboot -i >/dev/null 2>&1 || true
            wineserver -w || true
            touch "$WINEPREFIX/.orvex-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$loader" "$@"
