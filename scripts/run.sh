#!/usr/bin/env bash
# Builds velmora2d if needed and runs it with the given arguments, e.g.
#   bash scripts/run.sh --export-godot > atlas.tres
# Build messages go to the error stream so standard output is the tool's own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"
cd "$root"
if [ ! -f build/app/build.ninja ]; then
    cmake --preset app >&2
fi
cmake --build --preset app >&2
exec build/app/velmora2d "$@"
