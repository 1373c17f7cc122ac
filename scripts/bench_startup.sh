#!/usr/bin/env bash
# Start-up cost of each console command against a minimal C++ program that
# prints as many bytes, built twice by the same CMake: linked like velmora2d
# (-static-libstdc++ -static-libgcc, dynamic glibc) and fully static.
# Reports the ratios of median wall times (hyperfine) and the peak resident
# memory (/usr/bin/time -v). Timing is noisy on a shared machine: compare
# ratios from one run, not absolute times across runs.
#   bash scripts/bench_startup.sh [RUNS]      (default 300 runs per program)
# Targets: ratio to the like-linked baseline <= 1.15, to the static one
# <= 1.5, peak memory <= 2560 KB. Exit status 1 when one is missed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${BENCH_STARTUP_PACKAGES[@]}"
cd "$root"
runs="${1:-300}"

cmake --preset startup >/dev/null
cmake --build --preset startup -j2 >/dev/null
build="$root/build/startup"
tool="$build/velmora2d"
linked="$build/bench/startup/startup_hello_linked"
static="$build/bench/startup/startup_hello_static"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# median_ms CSV ROW: median wall time in milliseconds of the ROW-th command.
median_ms() {
    awk -F, -v row="$2" 'NR == row + 1 { printf "%.3f", $4 * 1000 }' "$1"
}

# peak_kb COMMAND...: largest maximum resident set size over five runs.
peak_kb() {
    local peak=0 kb
    for _ in 1 2 3 4 5; do
        kb=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ { print $2 }')
        [ "$kb" -gt "$peak" ] && peak=$kb
    done
    echo "$peak"
}

missed=0
printf '%-22s %6s %10s %10s %10s %8s %8s %8s\n' command bytes 'tool ms' 'linked ms' \
    'static ms' 'x linked' 'x static' 'peak KB'
for command in --help --pack-sample --export-godot --export-unity "--gui (no display)"; do
    args=("${command%% *}")
    bytes=$(env -u DISPLAY -u WAYLAND_DISPLAY "$tool" "${args[@]}" | wc -c)
    # Commands run with no display, so --gui takes its console fallback.
    env -u DISPLAY -u WAYLAND_DISPLAY hyperfine -N --style none --warmup 30 --runs "$runs" \
        --export-csv "$work/times.csv" \
        "$tool ${args[*]}" "$linked $bytes" "$static $bytes" >/dev/null 2>>"$work/hyperfine.log"
    tool_ms=$(median_ms "$work/times.csv" 1)
    linked_ms=$(median_ms "$work/times.csv" 2)
    static_ms=$(median_ms "$work/times.csv" 3)
    to_linked=$(awk -v a="$tool_ms" -v b="$linked_ms" 'BEGIN { printf "%.2f", a / b }')
    to_static=$(awk -v a="$tool_ms" -v b="$static_ms" 'BEGIN { printf "%.2f", a / b }')
    peak=$(env -u DISPLAY -u WAYLAND_DISPLAY bash -c "$(declare -f peak_kb); peak_kb \"$tool\" ${args[*]}")
    printf '%-22s %6s %10s %10s %10s %8s %8s %8s\n' "$command" "$bytes" "$tool_ms" "$linked_ms" \
        "$static_ms" "$to_linked" "$to_static" "$peak"
    if awk -v l="$to_linked" -v s="$to_static" -v p="$peak" \
        'BEGIN { exit !(l > 1.15 || s > 1.5 || p > 2560) }'; then
        missed=1
    fi
done
echo "baselines' peak KB: linked $(peak_kb "$linked" 709), static $(peak_kb "$static" 709)"
[ "$missed" -eq 0 ] || { echo "a start-up target was missed" >&2; exit 1; }
