#!/usr/bin/env bash
# Runs one Windows executable under Wine with a private, quiet prefix.
# The prefix is created once; concurrent first starts wait for each other.
set -u
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-${ORVEX_WINEPREFIX:-$HOME/.cache/orvex-wine}}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/.orvex-ready" ]; then
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.orvex-ready" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w || true
            touch "$WINEPREFIX/.orvex-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
