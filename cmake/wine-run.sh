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

# The wineserver and wine's service processes outlive the program that
# started them, and would hold its output pipes open until they exit: a
# caller reading the output to its end would wait for them. So start them
# here, detached from our output, and keep them for 30 s after the last
# program. A new prefix is made on the way (its set-up chatter dropped).
mkdir -p "$WINEPREFIX"
(
    flock 9
    if "$server" -p30 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$WINEPREFIX.lock"
exec "$wine" "$@"
