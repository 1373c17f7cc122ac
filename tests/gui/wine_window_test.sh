#!/usr/bin/env bash
# The MessageBoxA window of the Windows build, under wine on a private X
# server.
#   wine_window_test.sh VELMORA2D.EXE OUTDIR
# The wine prefix is $VELMORA_WINEPREFIX (default OUTDIR/wineprefix); its
# wineserver is stopped at the end. Leaves OUTDIR/wine-window.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/window_lib.sh"
[ $# -eq 2 ] || fail "usage: $0 VELMORA2D.EXE OUTDIR"
exe="$(realpath "$1")"
out="$(mkdir -p "$2" && realpath "$2")"
wine_run="$TESTS_DIR/../cmake/wine-run.sh"
export VELMORA_WINEPREFIX="${VELMORA_WINEPREFIX:-$out/wineprefix}"

stop_wineserver() {
    WINEPREFIX="$VELMORA_WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
cleanup() {
    stop_started_processes
    stop_wineserver
}
trap cleanup EXIT

# A wineserver left from display-less runs would keep that state: start clean.
stop_wineserver
start_xvfb "$out"
check_window "$out" "$out/wine-window.png" "$wine_run" "$exe" --gui
check_no_display "$out" "$exe" "-DEMULATOR=$wine_run" -DDOS_PROGRAM_NAME=ON
echo "PASS: Windows window under wine"
