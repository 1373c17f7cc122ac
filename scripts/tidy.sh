#!/usr/bin/env bash
# Runs clang-tidy, with the checks in .clang-tidy, over every source file of
# the default build (src/, tests/, fuzz/). Any finding fails the run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
cd "$root"
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${TIDY_PACKAGES[@]}"
source "$root/scripts/fetch_deps.sh"

build="build/default"
if [ ! -f "$build/compile_commands.json" ]; then
    cmake --preset default >/dev/null
fi
mapfile -t files < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
    grep -E "^$root/(src|tests|fuzz)/" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
    echo "no source files in $build/compile_commands.json" >&2
    exit 1
fi

# clang-tidy counts the warnings it suppressed in system headers on stderr;
# only its findings matter here.
status=0
printf '%s\n' "${files[@]}" |
    xargs -P 2 -n 1 clang-tidy -p "$build" --quiet 2> >(grep -Ev '^[0-9]+ (warning|error)s? (and [0-9]+ (warning|error)s? )?generated\.$' >&2) ||
    status=$?
if [ "$status" -ne 0 ]; then
    echo "clang-tidy: findings above" >&2
    exit 1
fi
echo "clang-tidy: ${#files[@]} files clean"
