#!/usr/bin/env bash
# Fetches the sources the build compiles itself into .deps/ (not committed):
# libspng from Debian's source package, so Linux and Windows link the same
# static library version (Debian ships libspng only as a shared library).
# Sourced or run by the other scripts before they configure; does nothing
# when the sources are already there or apt-get is not available (CMake then
# falls back to an installed libspng-dev, or says what is missing).
#
#   bash scripts/fetch_deps.sh

velmora_fetch_deps() {
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    local cache="$root/.deps"
    # The version CMake expects (VELMORA_SPNG_SOURCE_DIR).
    local spng_dir="$cache/libspng-0.7.3"
    [ -f "$spng_dir/spng/spng.c" ] && return 0
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "fetch_deps: no apt-get; skipping libspng sources" >&2
        return 0
    fi
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"

    # apt-get source needs a deb-src entry for the archive the build uses.
    local list=/etc/apt/sources.list.d/velmora-src.sources
    if [ ! -f "$list" ]; then
        echo "fetch_deps: adding $list (Debian bookworm sources)" >&2
        printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm" \
            "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
            $sudo tee "$list" >/dev/null
    fi
    if ! compgen -G "/var/lib/apt/lists/*_debian_dists_bookworm_main_source_Sources*" >/dev/null; then
        # Refresh only the source index just added, not every list.
        $sudo apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
            -o APT::Get::List-Cleanup=0 >&2 || echo "fetch_deps: apt-get update failed" >&2
    fi

    mkdir -p "$cache"
    local work
    work="$(mktemp -d "$cache/.fetch-XXXXXX")"
    # Unpack in a scratch folder, then move into place: an interrupted fetch
    # never leaves a half-unpacked tree where CMake looks.
    if (cd "$work" && apt-get source -qq libspng >&2) && [ -f "$work/libspng-0.7.3/spng/spng.c" ]; then
        rm -rf "$spng_dir"
        mv "$work/libspng-0.7.3" "$spng_dir"
    else
        echo "fetch_deps: apt-get source libspng failed" >&2
    fi
    rm -rf "$work"
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    velmora_fetch_deps
else
    velmora_fetch_deps
fi
