# Sourced by the other scripts: installs Debian packages that are missing.
# Usage: ensure_packages NAME...

ensure_packages() {
    # Elsewhere than Debian and its kin, leave installing to the user: CMake
    # names what is missing when the build needs it.
    if ! command -v apt-get >/dev/null 2>&1 || ! command -v dpkg-query >/dev/null 2>&1; then
        echo "no apt-get here: not installing $*; install what CMake reports missing" >&2
        return 0
    fi
    local missing=()
    local name
    for name in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$name")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "installing: ${missing[*]}" >&2
    # apt-get prints its progress on stdout; keep ours for the tool's output.
    if [ -z "${VELMORA_APT_UPDATED:-}" ]; then
        $sudo apt-get update -qq >&2
        export VELMORA_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >&2
}

# What any build of the program needs; dpkg-dev lets scripts/fetch_deps.sh
# unpack Debian's libspng sources, which are linked with the static zlib;
# libstb-dev gives the resampler's header (stb_image_resize.h).
BUILD_PACKAGES=(cmake ninja-build g++ libc6-dev zlib1g-dev dpkg-dev libstb-dev)
# What the default build adds: unit tests and benchmarks.
TEST_PACKAGES=(libgtest-dev libbenchmark-dev)
# The manual page's checks: both formatters man pages meet (groff through man).
MANUAL_TEST_PACKAGES=(groff-base mandoc)
# The clang preset: the same build and tests compiled by Clang.
CLANG_BUILD_PACKAGES=(clang)
# The window tests: a private X server, a way to find and press the window,
# screenshots, GTK 3 with its icon theme, and ps for watching the program.
GUI_TEST_PACKAGES=(xvfb xdotool imagemagick libgtk-3-0 adwaita-icon-theme procps)
# The Windows build and its tests under wine: the cross compiler, GoogleTest
# sources to build for the target, wine and the fonts its windows draw with,
# zlib built for the target (static), and the resampler's header, which is
# header-only: the cross build compiles the same stb_image_resize.h.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine64 fonts-wine libz-mingw-w64-dev libstb-dev)
# The start-up benchmark (scripts/bench_startup.sh, not part of CI).
BENCH_STARTUP_PACKAGES=(hyperfine time)
# What the fuzz targets need: clang with the libFuzzer runtime.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# What the static analysis stage needs.
TIDY_PACKAGES=(clang-tidy)
# scripts/package.sh: dpkg-shlibdeps and file for the Debian package's
# Depends, mandoc for the Windows package's HTML manual, the cross compiler.
PACKAGE_PACKAGES=(dpkg-dev file mandoc g++-mingw-w64-x86-64-posix)
# The package tests: a Debian 12 root to install the .deb into, lintian's
# checks, and wine for the .zip's program (WINDOWS_PACKAGES).
PACKAGE_TEST_PACKAGES=(debootstrap lintian)
# The real-client loads of the JSON sheets (scripts/client_test.sh); only
# installed when node or npm is missing, so a newer Node.js stays in place.
CLIENT_TEST_PACKAGES=(nodejs npm)
# The real-Godot loads (scripts/godot_test.sh): the browser that runs Godot's
# web build.
GODOT_TEST_PACKAGES=(chromium)
