#!/usr/bin/env bash
# Runs a Windows program under wine64 with a private prefix, so tests never
# touch the user's ~/.wine and see none of wine's own diagnostics.
#   wine-run.sh PROGRAM.EXE ARGS...
#   wine-run.sh --stop-server     ends the prefix's wineserver and its helpers
#   VELMORA_WINEPREFIX  prefix directory (default: /tmp/velmora-wine-<uid>)
set -euo pipefail
export WINEPREFIX="${VELMORA_WINEPREFIX:-/tmp/velmora-wine-$(id -u)}"
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
if [ "${1:-}" = "--stop-server" ]; then
    "$server" -k 2>/dev/null || true
    exit 0
fi

ready="$WINEPREFIX/.velmora-ready"
log="$WINEPREFIX.init.log"

# wineboot returns before the prefix is complete: its helpers go on writing
# the registry and system folder, and a program started meanwhile can fail
# with no message at all. So a new prefix is made once, under the lock, and
# only marked ready after every wine process of it has ended and its registry
# is on disk. A failed attempt is wiped and tried once more; a second failure
# shows wine's own messages.
init_prefix() {
    # Somebody's own prefix is used as it is, its server left running; a
    # folder of other files is refused. Only what this script made is wiped.
    if [ ! -f "$WINEPREFIX/.velmora-made" ]; then
        [ -f "$WINEPREFIX/system.reg" ] && return 0
        if [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null | grep -vx wineserver)" ]; then
            echo "wine-run.sh: $WINEPREFIX holds other files, not a wine prefix; not touching it" >&2
            return 1
        fi
    fi
    local attempt
    for attempt in 1 2; do
        "$server" -k >/dev/null 2>&1 || true
        "$server" -w >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        touch "$WINEPREFIX/.velmora-made"
        if WINEDEBUG=err+all "$wine" wineboot -i </dev/null >"$log" 2>&1 9>&- &&
            "$server" -w </dev/null >>"$log" 2>&1 9>&- &&
            [ -s "$WINEPREFIX/system.reg" ] &&
            [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
            touch "$ready"
            return 0
        fi
        echo "wine-run.sh: making the wine prefix $WINEPREFIX failed (attempt $attempt)" >&2
    done
    tail -n 20 "$log" >&2
    return 1
}

# The wineserver and wine's service processes outlive the program that
# started them, and would hold its output pipes open until they exit: a
# caller reading the output to its end would wait for them. So start them
# here, detached from our output, and keep them for 30 s after the last
# program.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    [ -f "$ready" ] || init_prefix
    if "$server" -p30 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
