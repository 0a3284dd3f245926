#!/usr/bin/env bash
# Runs one Windows executable under Wine with a private, quiet prefix.
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
#   wine-run.sh --check-32      exit status 0 when this machine can run
#                               32-bit programs, else the cause and status 77
#   wine-run.sh --session start|end
#                               keeps one Wine server and Wine's own system
#                               programs running from start to end, with their
#                               output closed (see start_session)
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
usage="usage: $0 PROGRAM.exe [ARGUMENTS...] | --check-32 | --session start|end"
[ $# -ge 1 ] || { echo "$usage" >&2; exit 2; }

# A prefix made by the 32-bit loader holds both widths; one made where that
# loader cannot start holds 64-bit Windows only and cannot be extended later,
# so it lives beside the other under a name of its own.
if can_run_32 >/dev/null; then
    boot_loader=$loader32
else
    boot_loader=$loader64
    WINEPREFIX=$WINEPREFIX-64
fi

# The prefix is created once; concurrent first starts wait for each other.
make_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    [ -f "$WINEPREFIX/.orvex-ready" ] && return
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.orvex-ready" ]; then
            "$boot_loader" wineboot -i >/dev/null 2>&1 || true
            wineserver -w || true
            touch "$WINEPREFIX/.orvex-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}

# A program that finds no Wine server running starts one, and with it Wine's
# own system programs; all of them inherit its output and keep it open until
# the server lingers out, seconds after the last program ended. A test runner
# waits for that output to close, so the first test would last as long as
# every test run beside it, and hold a runner slot all that time. A session
# starts the server and those programs first, with their output closed, and
# keeps them until its end.
start_session() {
    make_prefix
    wineserver -p </dev/null >/dev/null 2>&1 || true
    WINELOADER=$loader64 "$loader64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

if [ "$1" = --session ]; then
    case "${2:-}" in
        start) start_session ;;
        end) wineserver -k </dev/null >/dev/null 2>&1 || true ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
    exit 0
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

make_prefix
exec "$loader" "$@"
