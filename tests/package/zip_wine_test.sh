#!/usr/bin/env bash
# Unpacks the Windows .zip as a user would and runs its program under wine
# through the same golden command-line checks as the Windows build's tests.
#
#   zip_wine_test.sh PACKAGE.zip
#
#   VELMORA_WINEPREFIX  wine prefix (default: the Windows build's,
#                       build/windows/wineprefix, so no second one is made)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.zip" >&2
    exit 2
fi
zip="$(realpath "$1")"
export VELMORA_WINEPREFIX="${VELMORA_WINEPREFIX:-$root/build/windows/wineprefix}"
runner="$root/cmake/wine-run.sh"
golden="$root/tests/golden"

mkdir -p "$root/build/packages"
work="$(mktemp -d "$root/build/packages/zip-test.XXXXXX")"
cleanup() {
    "$runner" --stop-server
    rm -rf "$work"
}
trap cleanup EXIT

source "$here/check_lib.sh"

(cd "$work" && cmake -E tar xf "$zip")
top="$(basename "$zip" .zip)"
contents="$(cd "$work" && find . -type f | LC_ALL=C sort | tr '\n' ' ')"
check "the zip holds the program, the manual and the README ($contents)" \
    [ "$contents" = "./$top/README.md ./$top/velmora2d.exe ./$top/velmora2d.html " ]
exe="$work/$top/velmora2d.exe"

# Nothing to install on Windows: every DLL the program loads must be part of
# Windows itself, none from the compiler's runtime.
dlls="$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print tolower($3) }' | LC_ALL=C sort -u | tr '\n' ' ')"
foreign=""
for dll in $dlls; do
    case "$dll" in
        kernel32.dll | user32.dll | msvcrt.dll | advapi32.dll | shell32.dll | ole32.dll | ucrtbase.dll | \
            api-ms-win-*.dll | ws2_32.dll | bcrypt.dll) ;;
        *) foreign="$foreign $dll" ;;
    esac
done
check "the program imports Windows' own DLLs only ($dlls)" [ -z "$foreign" ]

# name status golden args...  (golden "-": no output expected)
cases=(
    "help 0 usage.txt --help"
    "help_short 0 usage.txt -h"
    "pack_sample 0 pack_sample.txt --pack-sample"
    "version 0 version.txt --version"
    "export_godot 0 export_godot.tres --export-godot"
    "export_godot_path_ignored 0 export_godot.tres --export-godot out.tres"
    "export_unity 0 export_unity.json --export-unity"
    "export_unity_path_ignored 0 export_unity.json --export-unity out.json"
    "normalmap_alone 1 usage.txt --normalmap"
    "colliders_alone 1 usage.txt --colliders"
    "unknown 1 usage.txt --HELP"
)
# Wine now and then ends a program with status 1 and no output; such a run
# is shown and tried once more, as the Windows build's test preset does.
again_once() {
    "$@" && return 0
    echo "     (under wine: failed once, running it again)" >&2
    "$@"
}
for case in "${cases[@]}"; do
    read -r name status expected args <<<"$case"
    golden_arg=()
    [ "$expected" != "-" ] && golden_arg=("-DGOLDEN=$golden/$expected")
    check "zip program: $name" again_once cmake \
        -DEXE="$exe" -DEMULATOR="$runner" -DDOS_PROGRAM_NAME=ON \
        "-DARGS=${args// /|}" -DSTATUS="$status" "${golden_arg[@]}" \
        -DTEST_NAME="zip-$name" -DWORKDIR="$work/cli/$name" \
        -P "$root/tests/cli_check.cmake"
done

if [ "$failures" -ne 0 ]; then
    echo "zip test: $failures check(s) failed" >&2
    exit 1
fi
echo "zip test: all checks passed"
