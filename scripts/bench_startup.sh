#!/usr/bin/env bash
# Start-up cost of each console command against a minimal C++ program that
# prints as many bytes, built twice by the same CMake: linked like velmora2d
# (-static-libstdc++ -static-libgcc -no-pie, dynamic glibc) and fully static.
# Reports the median wall times (hyperfine), the ratios of the medians (the
# median over rounds of each round's ratio) and the peak resident memory
# (/usr/bin/time -v). Timing is noisy on a shared machine: compare
# ratios from one run, not absolute times across runs.
#   bash scripts/bench_startup.sh [RUNS]      (default 300 runs per program,
#                                              in 10 rounds)
# Targets: ratio to the like-linked baseline <= 1.15, to the static one
# <= 1.5, peak memory <= 2560 KB. Exit status 1 when one is missed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${BENCH_STARTUP_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"
cd "$root"
runs="${1:-300}"
rounds=10

cmake --preset startup >/dev/null
cmake --build --preset startup -j2 >/dev/null
build="$root/build/startup"
tool="$build/velmora2d"
linked="$build/bench/startup/startup_hello_linked"
static="$build/bench/startup/startup_hello_static"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# median: the median of the numbers on standard input, one a line.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# median_ms ROW: over the rounds, the median of the ROW-th command's median
# wall time, in milliseconds.
median_ms() {
    local csv
    for csv in "$work"/round-*.csv; do
        awk -F, -v row="$1" 'NR == row + 1 { print $4 * 1000 }' "$csv"
    done | median
}

# median_ratio ROW BASE: over the rounds, the median of the ratio of the
# ROW-th command's median time to the BASE-th one's, from the same round.
median_ratio() {
    local csv
    for csv in "$work"/round-*.csv; do
        awk -F, -v row="$1" -v base="$2" \
            'NR == row + 1 { t = $4 } NR == base + 1 { b = $4 } END { print t / b }' "$csv"
    done | median
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
    # Commands run with no display, so --gui takes its console fallback. The
    # three programs alternate in rounds, so that a change of load on the
    # machine falls on all three alike.
    rm -f "$work"/round-*.csv
    for round in $(seq 1 "$rounds"); do
        env -u DISPLAY -u WAYLAND_DISPLAY hyperfine -N --style none --warmup 10 \
            --runs $((runs / rounds)) --export-csv "$work/round-$round.csv" \
            "$tool ${args[*]}" "$linked $bytes" "$static $bytes" >/dev/null 2>>"$work/hyperfine.log"
    done
    tool_ms=$(median_ms 1)
    linked_ms=$(median_ms 2)
    static_ms=$(median_ms 3)
    to_linked=$(median_ratio 1 2)
    to_static=$(median_ratio 1 3)
    peak=$(env -u DISPLAY -u WAYLAND_DISPLAY bash -c "$(declare -f peak_kb); peak_kb \"$tool\" ${args[*]}")
    printf '%-22s %6s %10s %10s %10s %8.2f %8.2f %8s\n' "$command" "$bytes" "$tool_ms" "$linked_ms" \
        "$static_ms" "$to_linked" "$to_static" "$peak"
    if awk -v l="$to_linked" -v s="$to_static" -v p="$peak" \
        'BEGIN { exit !(l > 1.15 || s > 1.5 || p > 2560) }'; then
        missed=1
    fi
done
echo "baselines' peak KB: linked $(peak_kb "$linked" 709), static $(peak_kb "$static" 709)"
[ "$missed" -eq 0 ] || { echo "a start-up target was missed" >&2; exit 1; }
