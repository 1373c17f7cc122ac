#!/usr/bin/env bash
# The GTK information window of the Linux build, on a private X server.
#   linux_window_test.sh VELMORA2D OUTDIR
# Leaves the screenshot in OUTDIR/linux-window.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/window_lib.sh"
[ $# -eq 2 ] || fail "usage: $0 VELMORA2D OUTDIR"
exe="$(realpath "$1")"
out="$(mkdir -p "$2" && realpath "$2")"
trap stop_started_processes EXIT

start_xvfb "$out"
check_window "$out" "$out/linux-window.png" "$exe" --gui
check_no_display "$out" "$exe"
echo "PASS: Linux window"
