#!/usr/bin/env bash
# Fetches the sources the build compiles itself into .deps/ (not committed),
# from Debian's source packages, so Linux and Windows link the same static
# library versions (Debian ships most of them only as shared libraries):
#   libspng   the PNG reader and writer (cmake/spng.cmake)
#   libdeflate  whole-buffer inflation of PNG image data, and checksums
#             (cmake/libdeflate.cmake)
#   utf8proc  Unicode case folding and composition for frame names
#             (cmake/utf8proc.cmake)
#   zlib      deflate for the PNG encoder and libspng, at the project's
#             optimisation (cmake/zlib.cmake)
# Sourced or run by the other scripts before they configure; does nothing
# when the sources are already there or apt-get is not available (CMake then
# falls back to an installed -dev package, or says what is missing).
#
#   bash scripts/fetch_deps.sh

# The source folders CMake expects (VELMORA_SPNG_SOURCE_DIR,
# VELMORA_LIBDEFLATE_SOURCE_DIR, VELMORA_UTF8PROC_SOURCE_DIR,
# VELMORA_ZLIB_SOURCE_DIR), each with a file that shows it is complete.
VELMORA_DEP_SOURCES=(
    "libspng libspng-0.7.3 spng/spng.c"
    "libdeflate libdeflate-1.14 lib/deflate_decompress.c"
    "utf8proc utf8proc-2.8.0 utf8proc.c"
    "zlib zlib-1.2.13.dfsg deflate.c"
)

# Adds a deb-src entry for bookworm on the archive the machine already
# installs bookworm's packages from, unless apt has one.
velmora_source_index() {
    local sudo="$1"
    compgen -G "/var/lib/apt/lists/*_dists_bookworm_main_source_Sources*" >/dev/null && return 0
    local list=/etc/apt/sources.list.d/velmora-src.sources
    if [ ! -f "$list" ]; then
        local uri
        uri="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' 'Identifier: Packages' |
            awk '$2 == "bookworm" && $3 == "deb" { print $1; exit }')"
        if [ -z "$uri" ]; then
            echo "fetch_deps: apt has no bookworm archive to take sources from" >&2
            return 1
        fi
        echo "fetch_deps: adding $list (bookworm sources from $uri)" >&2
        printf '%s\n' "Types: deb-src" "URIs: $uri" "Suites: bookworm" \
            "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
            $sudo tee "$list" >/dev/null
    fi
    # Refresh only the source index just added, not every list.
    $sudo apt-get update -qq -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
        -o APT::Get::List-Cleanup=0 >&2 || echo "fetch_deps: apt-get update failed" >&2
}

velmora_fetch_deps() {
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    local cache="$root/.deps"
    local missing=()
    local entry package folder marker
    for entry in "${VELMORA_DEP_SOURCES[@]}"; do
        read -r package folder marker <<<"$entry"
        [ -f "$cache/$folder/$marker" ] || missing+=("$entry")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "fetch_deps: no apt-get; skipping the library sources" >&2
        return 0
    fi
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    velmora_source_index "$sudo" || return 0

    mkdir -p "$cache"
    for entry in "${missing[@]}"; do
        read -r package folder marker <<<"$entry"
        local work
        work="$(mktemp -d "$cache/.fetch-XXXXXX")"
        # Unpack in a scratch folder, then move into place: an interrupted
        # fetch never leaves a half-unpacked tree where CMake looks.
        if (cd "$work" && apt-get source -qq "$package" >&2) && [ -f "$work/$folder/$marker" ]; then
            rm -rf "${cache:?}/$folder"
            mv "$work/$folder" "$cache/$folder"
        else
            echo "fetch_deps: apt-get source $package did not give $folder" >&2
        fi
        rm -rf "$work"
    done
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    velmora_fetch_deps
else
    velmora_fetch_deps
fi
