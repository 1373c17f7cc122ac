#!/usr/bin/env bash
# Runs a Windows program under wine64 with a private prefix, so tests never
# touch the user's ~/.wine and see none of wine's own diagnostics.
#   wine-run.sh PROGRAM.EXE ARGS...
#   wine-run.sh --stop-server     ends the prefix's wineserver and its helpers
#   VELMORA_WINEPREFIX  prefix directory (default: /tmp/velmora-wine-<uid>)
set -euo pipefail
export WINEPREFIX="${VELMORA_WINEPREFIX:-/tmp/velmora-wine-$(id -u)}"
if [ "${1:-}" = "--stop-server" ]; then
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    exit 0
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine64
# A fresh prefix prints its set-up chatter on first use; make it once,
# quietly, and serialise that between parallel tests.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >/dev/null 2>&1 || true
            /usr/lib/wine/wineserver64 -w 2>/dev/null || true
        fi
    ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
