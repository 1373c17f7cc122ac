#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
# Stops at the first stage that fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
cd "$root"

passed=0
stage() {
    local title="$1"
    shift
    echo "== $title"
    "$@"
    passed=$((passed + 1))
}

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${CLANG_BUILD_PACKAGES[@]}" \
    "${GUI_TEST_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" "${TIDY_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"

stage "default build: unit and command-line tests" \
    cmake --workflow --preset default
stage "asan build: the same tests under AddressSanitizer and UBSan" \
    cmake --workflow --preset asan
stage "clang build: the same tests compiled by Clang" \
    cmake --workflow --preset clang
stage "information window on Linux: GTK dialog on a private X server" \
    bash tests/gui/linux_window_test.sh build/default/velmora2d build/default/gui
stage "Windows build: mingw-w64 cross build, every test under wine" \
    cmake --workflow --preset windows
stage "information window on Windows: MessageBoxA under wine" \
    env VELMORA_WINEPREFIX="$root/build/windows/wineprefix" \
    bash tests/gui/wine_window_test.sh build/windows/velmora2d.exe build/windows/gui
fuzz_seconds="${VELMORA_FUZZ_SECONDS:-45}"
stage "fuzz: every fuzz target for ${fuzz_seconds} s under AddressSanitizer and UBSan" \
    bash scripts/fuzz.sh "$fuzz_seconds"
stage "clang-tidy over src, tests and fuzz" \
    bash scripts/tidy.sh

echo "stages: $passed passed, 0 failed"
