#!/usr/bin/env bash
# Installs the Debian package into a throw-away Debian 12 root and checks it
# the way a user would meet it: the program runs from PATH, man finds its
# page, Depends pulls in nothing beyond the C library, and removing the
# package leaves neither behind.
#
#   deb_root_test.sh PACKAGE.deb
#
# Needs root (debootstrap, chroot). The first run builds a minimal bookworm
# root with debootstrap (a few minutes, from the archive apt uses) and keeps
# it as a tar file; later runs unpack a fresh copy of it, so a run never sees
# what an earlier one left. Delete the cache to rebuild it.
#   VELMORA_DEBROOT_CACHE  cache folder (default /var/cache/velmora-debroot)
#   VELMORA_DEBIAN_MIRROR  archive (default: the one this machine installs bookworm from)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
golden="$here/../golden/pack_sample.txt"
repo="$(cd "$here/../.." && pwd)"

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.deb" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "$0: needs root (debootstrap and chroot)" >&2
    exit 2
fi
deb="$(realpath "$1")"
package_version="$(dpkg-deb -f "$deb" Version)"
cache_dir="${VELMORA_DEBROOT_CACHE:-/var/cache/velmora-debroot}"
mirror="${VELMORA_DEBIAN_MIRROR:-}"
if [ -z "$mirror" ]; then
    # The archive this machine's apt already reaches, so mirrors and proxies
    # work as they do for every other package.
    mirror="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' 'Identifier: Packages' |
        awk '$2 == "bookworm" && $3 == "deb" { print $1; exit }')"
    if [ -z "$mirror" ]; then
        echo "$0: apt has no bookworm archive; set VELMORA_DEBIAN_MIRROR" >&2
        exit 2
    fi
fi
# The file name carries what the root was made from, so changing any of it
# makes a new root instead of reusing a different one.
cache="$cache_dir/bookworm-minbase-man-db.tar"

work="$(mktemp -d "${TMPDIR:-/tmp}/velmora-debroot.XXXXXX")"
root="$work/root"

# Unmount whatever is still mounted below the work folder (debootstrap
# mounts /proc and /sys while it runs; a failed run can leave them), deepest
# first, and only then remove it: rm must never reach into a live /proc.
cleanup() {
    local target
    findmnt -rn -o TARGET | awk -v w="$work/" 'index($0, w) == 1' | sort -r |
        while read -r target; do
            umount "$target" 2>/dev/null || umount -l "$target" || true
        done
    if findmnt -rn -o TARGET | awk -v w="$work/" 'index($0, w) == 1 { f = 1 } END { exit !f }'; then
        echo "$0: mounts remain below $work; left in place" >&2
        return
    fi
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

source "$here/check_lib.sh"

in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# --- the root, built once --------------------------------------------------
mkdir -p "$cache_dir"
(
    # Two runs at once must not both build it, nor read a half-written one.
    flock 9
    if [ ! -s "$cache" ]; then
        echo "building the Debian 12 root (debootstrap, once): $cache"
        fresh="$work/fresh"
        start=$SECONDS
        debootstrap --variant=minbase --include=man-db bookworm "$fresh" "$mirror" \
            >"$work/debootstrap.log" 2>&1 || {
            tail -n 30 "$work/debootstrap.log" >&2
            exit 1
        }
        # Leave out the downloaded packages: they are not part of the root.
        rm -f "$fresh"/var/cache/apt/archives/*.deb
        tar -C "$fresh" --numeric-owner -cf "$cache.partial" .
        mv "$cache.partial" "$cache"
        rm -rf --one-file-system "$fresh"
        echo "root built in $((SECONDS - start)) s"
    fi
) 9>"$cache_dir/.lock"

mkdir "$root"
tar -C "$root" --numeric-owner -xpf "$cache"

# --- install ---------------------------------------------------------------
package="$(dpkg-deb -f "$deb" Package)"
depends="$(dpkg-deb -f "$deb" Depends)"
cp "$deb" "$root/tmp/package.deb"

# The program carries its C++ runtime: the C library must be all it needs.
check "Depends names only the C library ($depends)" \
    bash -c '[[ "$1" =~ ^libc6(\ \([^\)]*\))?$ ]]' _ "$depends"

if ! in_root dpkg -i /tmp/package.deb >"$work/dpkg.log" 2>&1; then
    # Dependencies the root lacks: let apt fetch them (needs /proc and DNS).
    cat "$work/dpkg.log"
    mount -t proc proc "$root/proc"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    in_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive in_root apt-get -f install -y -qq
    umount "$root/proc"
fi
state="$(in_root dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
check "dpkg reports $package installed ($state)" [ "$state" = "install ok installed" ]
in_root dpkg-query -L "$package" >"$work/files"

# --- use -------------------------------------------------------------------
program="$(in_root sh -c 'command -v velmora2d' || true)"
check "velmora2d is on PATH ($program)" [ -n "$program" ]
in_root velmora2d --pack-sample >"$work/pack.out" 2>"$work/pack.err" && status=0 || status=$?
check "velmora2d --pack-sample exits 0 (got $status)" [ "$status" -eq 0 ]
check "velmora2d --pack-sample prints the expected report" cmp -s "$work/pack.out" "$golden"
check "velmora2d --pack-sample writes nothing to stderr" [ ! -s "$work/pack.err" ]
version="$(in_root velmora2d --version 2>&1 || true)"
check "velmora2d --version names the packaged version ($version)" [ "$version" = "velmora2d $package_version" ]
# A file command end to end inside the root: the packaged program's PNG
# library is linked in, not a dependency.
mkdir -p "$root/tmp/sprites"
cp "$repo/examples/sprites/hero/"*.png "$root/tmp/sprites/"
in_root velmora2d --atlas -o /tmp/out/hero /tmp/sprites >"$work/atlas.out" 2>"$work/atlas.err" && status=0 || status=$?
check "velmora2d --atlas packs the example walk cycle (status $status)" [ "$status" -eq 0 ]
check "velmora2d --atlas writes the atlas" [ -s "$root/tmp/out/hero.png" ]
rm -rf "$root/tmp/sprites" "$root/tmp/out"

page="$(in_root man -w velmora2d 2>/dev/null || true)"
check "man -w velmora2d finds the page ($page)" [ -n "$page" ]
check "the page man finds belongs to the package" grep -qxF "$page" "$work/files"
# man-db renders with the root's own groff: the page must format without a
# single warning there too.
in_root env MANWIDTH=80 man --warnings=w velmora2d >"$work/man.out" 2>"$work/man.err" || true
check "man velmora2d renders without warnings" [ ! -s "$work/man.err" ]
check "man velmora2d shows the NAME section" grep -q "velmora2d" "$work/man.out"

# --- remove ----------------------------------------------------------------
in_root dpkg -r "$package" >"$work/remove.log" 2>&1 || cat "$work/remove.log" >&2
state="$(in_root dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
check "dpkg no longer has $package installed ($state)" [ "$state" != "install ok installed" ]
program="$(in_root sh -c 'command -v velmora2d' || true)"
check "velmora2d is gone from PATH" [ -z "$program" ]
page="$(in_root man -w velmora2d 2>/dev/null || true)"
check "man -w velmora2d finds nothing" [ -z "$page" ]
left=""
while read -r path; do
    # Shared folders such as /usr/bin stay; every file of ours must go.
    if [ -e "$root$path" ] && [ ! -d "$root$path" ]; then
        left="$left $path"
    fi
done <"$work/files"
check "no file of the package is left${left:+:$left}" [ -z "$left" ]

if [ "$failures" -ne 0 ]; then
    echo "deb root test: $failures check(s) failed" >&2
    exit 1
fi
echo "deb root test: all checks passed"
