#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target it finds for a bounded
# time, starting from the seeds in fuzz/corpus/<target>/. Fails on any
# finding (crash, broken invariant, sanitizer report, timeout, memory limit)
# and keeps the input that caused it under build/fuzz/runs/<target>/.
#
#   bash scripts/fuzz.sh [seconds per target]     (default 45)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
cd "$root"
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"

seconds="${1:-45}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

runs="build/fuzz/runs"
mapfile -t targets < <(find build/fuzz/fuzz -maxdepth 1 -type f -executable -name 'fuzz_*' | sort)
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz targets built" >&2
    exit 1
fi

failed=0
for exe in "${targets[@]}"; do
    name="$(basename "$exe")"
    dir="$runs/$name"
    rm -rf "$dir/artifacts"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    # A legitimate call allocates at most a few MiB; anything near the
    # malloc limit is a size check that failed to stop a huge atlas.
    if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
        -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
        "$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1; then
        execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")"
        cov="$(grep -Eo 'DONE +cov: [0-9]+' "$dir/log" | grep -Eo '[0-9]+$' || true)"
        echo "$name: ok, ${execs:-?} runs in ${seconds} s, cov ${cov:-?}"
    else
        failed=1
        echo "$name: FAILED (log: $dir/log, input: $dir/artifacts/)"
        grep -E 'invariant broken|ERROR|SUMMARY' "$dir/log" | head -5 || true
    fi
done
exit "$failed"
