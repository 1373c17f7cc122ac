#!/usr/bin/env bash
# Builds the release packages: the Debian package (Linux program and manual
# page) and the Windows .zip (static .exe, manual as HTML, README). Both are
# left in build/packages/.
#   bash scripts/package.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"
cd "$root"

# Only this run's packages: a stale one of another version must not be
# picked up by whatever installs or tests them next.
rm -rf build/packages
mkdir -p build/packages

for preset in package-linux package-windows; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "${VELMORA_JOBS:-2}"
done
echo "== packages"
cpack --preset deb
cpack --preset zip
rm -rf build/packages/_CPack_Packages
ls -l build/packages
