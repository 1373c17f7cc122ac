#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
cd "$root"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

echo "== default build: unit and command-line tests"
cmake --workflow --preset default

echo "== asan build: the same tests under AddressSanitizer and UBSan"
cmake --workflow --preset asan

echo "== clang build: the same tests compiled by Clang"
ensure_packages "${CLANG_BUILD_PACKAGES[@]}"
cmake --workflow --preset clang

echo "== information window on Linux: GTK dialog on a private X server"
ensure_packages "${GUI_TEST_PACKAGES[@]}"
bash tests/gui/linux_window_test.sh build/default/velmora2d build/default/gui

echo "== Windows build: mingw-w64 cross build, every test under wine"
ensure_packages "${WINDOWS_PACKAGES[@]}"
cmake --workflow --preset windows

echo "== information window on Windows: MessageBoxA under wine"
VELMORA_WINEPREFIX="$root/build/windows/wineprefix" \
    bash tests/gui/wine_window_test.sh build/windows/velmora2d.exe build/windows/gui

ensure_packages "${FUZZ_PACKAGES[@]}" "${TIDY_PACKAGES[@]}"

fuzz_seconds="${VELMORA_FUZZ_SECONDS:-45}"
echo "== fuzz: every fuzz target for ${fuzz_seconds} s under AddressSanitizer and UBSan"
bash scripts/fuzz.sh "$fuzz_seconds"

echo "== clang-tidy over src, tests and fuzz"
bash scripts/tidy.sh
