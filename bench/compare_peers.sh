#!/usr/bin/env bash
# Packs generated sprite sets with free-tex-packer-core and with AssetPack's
# texture-packer pipe (npm, versions locked by bench/peers/package-lock.json)
# and with `velmora2d --atlas`, and prints per set and tool: median wall time
# of N runs (and of CPU time), median peak RSS, atlas area and atlas PNG size;
# then velmora2d's speed ratios, area and PNG size against each peer, its memory budget
# 1.5 x (decoded inputs + atlas) + 32 MiB, and how long creating as many empty
# files as velmora2d wrote takes right after each of its runs (the file
# system's floor). Sets: bench/peers/make_sets.py (grid32, mixed, drawn) and
# the few-colour sets of bench/peers/make_pixel_sets.py (pixel48, tiny16,
# drawn60). Every tool: MaxRects, no rotation, padding 0, no trimming, no
# extrusion, no duplicate detection, one resolution. Tools, sets and outputs
# all live in one folder on the tmpfs /dev/shm when there is one, so the state
# of a disk's file system does not decide the times.
#
#   bash bench/compare_peers.sh [--velmora PATH] [--runs N] [--sets "A B..."] [--peer-only]
#
# Without --velmora the program is built with the `app` preset. When the
# program has no --atlas command (or with --peer-only), only the peers are run
# and, when built (default preset, target pack_sizes), the engine packer's
# atlas area on the same sizes is printed beside them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

velmora=""
runs=5
peer_only=0
sets="grid32 mixed drawn pixel48 tiny16 drawn60"
usage="usage: $0 [--velmora PATH] [--runs N] [--sets \"A B...\"] [--peer-only]"
while [ $# -gt 0 ]; do
    case "$1" in
        --velmora) velmora="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --sets) sets="$2"; shift 2 ;;
        --peer-only) peer_only=1; shift ;;
        *) echo "$usage" >&2; exit 1 ;;
    esac
done

needed=()
command -v node >/dev/null || needed+=(nodejs)
command -v npm >/dev/null || needed+=(npm)
command -v python3 >/dev/null || needed+=(python3)
[ ${#needed[@]} -eq 0 ] || ensure_packages "${needed[@]}"

if [ "$peer_only" -eq 0 ] && [ -z "$velmora" ]; then
    ensure_packages "${BUILD_PACKAGES[@]}"
    (cd "$root" && cmake --preset app >/dev/null && cmake --build --preset app -j2 --target velmora2d >/dev/null)
    velmora="$root/build/app/velmora2d"
fi

shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm="${TMPDIR:-/tmp}"
work="$(mktemp -d -p "$shm" velmora-peers.XXXXXX)"
trap 'rm -rf "$work"' EXIT

echo "installing the peers (npm ci, locked versions)..." >&2
mkdir -p "$work/peer"
cp "$root/bench/peers/package.json" "$root/bench/peers/package-lock.json" "$work/peer/"
# npm ci refuses a lock that lacks optional packages the registry does not
# serve (AssetPack's font tools for other platforms): install from the lock
# with npm install then, which keeps every locked version it can fetch.
(cd "$work/peer" && { npm ci --no-audit --no-fund --loglevel=silent >&2 2>/dev/null ||
    npm install --no-audit --no-fund --loglevel=error >&2; })
modules="$work/peer/node_modules"
versions="$(node -p "['free-tex-packer-core', '@assetpack/core'].map((n) => n + ' ' +
    require('$modules/' + n + '/package.json').version).join(' and ')")"

echo "generating the sets..." >&2
python3 "$root/bench/peers/make_sets.py" "$work/sets"
python3 "$root/bench/peers/make_pixel_sets.py" "$work/sets"
# AssetPack packs a folder tagged {tps} inside its entry folder: one copy per
# set, made here so that no run times it.
for set in $sets; do
    [ -d "$work/sets/$set" ] || { echo "no set $set; $usage" >&2; exit 1; }
    mkdir -p "$work/entry/$set/atlas{tps}"
    cp "$work/sets/$set"/*.png "$work/entry/$set/atlas{tps}/"
done

if [ "$peer_only" -eq 0 ] && ! "$velmora" --atlas --help >/dev/null 2>&1; then
    echo "note: $velmora has no --atlas command; measuring the peers only" >&2
    peer_only=1
fi

# run TOOL SET INDEX: one timed run (timed.py, the same for every tool); its
# "wall_seconds peak_kib cpu_seconds" go to OUT/time, and OUT/atlas.png is the atlas.
run() {
    local tool="$1" set="$2" k="$3" out="$work/out/$1-$2-$3"
    mkdir -p "$out"
    case "$tool" in
        ftp)
            python3 "$root/bench/peers/timed.py" "$out/time" \
                node "$root/bench/peers/pack_peer.js" "$modules" "$work/sets/$set" "$out/atlas" ;;
        assetpack)
            python3 "$root/bench/peers/timed.py" "$out/time" \
                node "$root/bench/peers/pack_assetpack.mjs" "$modules" "$work/entry/$set" "$out/pack"
            ln -s pack/atlas.png "$out/atlas.png" ;;
        velmora)
            python3 "$root/bench/peers/timed.py" "$out/time" \
                "$velmora" --atlas --packer maxrects -o "$out/atlas" "$work/sets/$set"
            # The file system's share: creating as many empty files, right after.
            python3 "$root/bench/peers/create_files.py" "$work/out/files-$2-$3" \
                "$(find "$out" -type f ! -name time ! -name files | wc -l)" >"$out/files" ;;
    esac
}

tools=(ftp assetpack)
[ "$peer_only" -eq 1 ] || tools+=(velmora)
for set in $sets; do
    echo "timing $set..." >&2
    # Runs alternate between the tools, so a change of load hits them alike.
    for k in $(seq 1 "$runs"); do
        for tool in "${tools[@]}"; do
            run "$tool" "$set" "$k"
        done
    done
done

pack_sizes="$root/build/default/bench/pack_sizes"
[ -x "$pack_sizes" ] || pack_sizes=""

# shellcheck disable=SC2086 # $sets is a list of names
python3 - "$work" "$runs" "$peer_only" "$versions" "$pack_sizes" "$shm" $sets <<'EOF'
import os, statistics, struct, subprocess, sys

work, runs, peer_only, versions, pack_sizes, shm = sys.argv[1:7]
runs, peer_only, sets = int(runs), peer_only == "1", sys.argv[7:]
PEERS = (("ftp", "free-tex-packer"), ("assetpack", "AssetPack"))

def png_size(path):
    with open(path, "rb") as f:
        return struct.unpack(">II", f.read(24)[16:24])

def measure(tool, name):
    """(median wall s, median peak RSS MiB, width, height, PNG bytes, median CPU s)"""
    walls, rss, cpus = [], [], []
    for k in range(1, runs + 1):
        wall, kib, cpu = open(os.path.join(work, "out", "%s-%s-%d" % (tool, name, k), "time")).read().split()
        walls.append(float(wall))
        rss.append(int(kib))
        cpus.append(float(cpu))
    png = os.path.join(work, "out", "%s-%s-1" % (tool, name), "atlas.png")
    w, h = png_size(png)
    return (statistics.median(walls), statistics.median(rss) / 1024.0, w, h, os.path.getsize(png),
            statistics.median(cpus))

def files_baseline(name):
    """(files velmora2d wrote, median seconds to create as many empty ones)"""
    rows = [open(os.path.join(work, "out", "velmora-%s-%d" % (name, k), "files")).read().split()
            for k in range(1, runs + 1)]
    return int(rows[0][0]), statistics.median(float(r[1]) for r in rows)

def row(label, m):
    print("  %-15s %6.3f s (cpu %6.3f s)  %7.1f MiB  atlas %5dx%-5d = %9d px  png %9d B"
          % (label, m[0], m[5], m[1], m[2], m[3], m[2] * m[3], m[4]))

print("%s vs velmora2d --atlas --packer maxrects; median of %d runs; %d cores; load %.2f %.2f %.2f; in %s"
      % ((versions, runs, os.cpu_count()) + os.getloadavg() + (shm,)))
for name in sets:
    folder = os.path.join(work, "sets", name)
    sizes = [png_size(os.path.join(folder, f)) for f in sorted(os.listdir(folder))]
    decoded = sum(w * h for w, h in sizes) * 4
    print("%-7s %4d sprites, %.1f MiB decoded" % (name, len(sizes), decoded / 2**20))
    peers = [(label, measure(tool, name)) for tool, label in PEERS]
    for label, p in peers:
        row(label, p)
    if not peer_only:
        v = measure("velmora", name)
        budget = 1.5 * (decoded + v[2] * v[3] * 4) / 2**20 + 32
        row("velmora2d", v)
        for label, p in peers:
            print("  vs %-15s speed %5.1fx (cpu %5.1fx)  area %.3f  png %.4f"
                  % (label, p[0] / v[0], p[5] / v[5], v[2] * v[3] / (p[2] * p[3]), v[4] / p[4]))
        print("  memory budget %.1f MiB (%s); creating velmora2d's %d files empty takes %.3f s here"
              % ((budget, "within" if v[1] <= budget else "OVER") + files_baseline(name)))
    elif pack_sizes:
        text = "".join("%d %d\n" % s for s in sizes)
        line = subprocess.run([pack_sizes], input=text, capture_output=True, text=True).stdout.strip()
        print("  engine PackRectsMaxRects: %s" % line)
EOF
