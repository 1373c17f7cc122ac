#!/usr/bin/env bash
# Packs three generated sprite sets with free-tex-packer-core (npm, version
# locked by bench/peers/package-lock.json) and with `velmora2d --atlas`, and
# prints per set: median wall time of N runs and the speed ratio, median peak
# RSS (with the memory budget 1.5 x (decoded inputs + atlas) + 32 MiB), atlas
# area and atlas PNG size, and how long creating as many empty files as
# velmora2d wrote takes right after each of its runs (the file system's
# floor, which moves a lot on some volumes). Both tools: MaxRects, no
# rotation, padding 0, no trimming, no extrusion, no duplicate detection.
#
#   bash bench/compare_peers.sh [--velmora PATH] [--runs N] [--peer-only]
#
# Without --velmora the program is built with the `app` preset. When the
# program has no --atlas command (or with --peer-only), only the peer is run
# and, when built (default preset, target pack_sizes), the engine packer's
# atlas area on the same sizes is printed beside it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

velmora=""
runs=5
peer_only=0
while [ $# -gt 0 ]; do
    case "$1" in
        --velmora) velmora="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --peer-only) peer_only=1; shift ;;
        *) echo "usage: $0 [--velmora PATH] [--runs N] [--peer-only]" >&2; exit 1 ;;
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

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "installing the peer (npm ci, locked versions)..." >&2
mkdir -p "$work/peer"
cp "$root/bench/peers/package.json" "$root/bench/peers/package-lock.json" "$work/peer/"
(cd "$work/peer" && npm ci --no-audit --no-fund --loglevel=error >&2)
peer_version="$(node -p "require('$work/peer/node_modules/free-tex-packer-core/package.json').version")"

echo "generating the sets..." >&2
python3 "$root/bench/peers/make_sets.py" "$work/sets"

if [ "$peer_only" -eq 0 ] && ! "$velmora" --atlas --help >/dev/null 2>&1; then
    echo "note: $velmora has no --atlas command; measuring the peer only" >&2
    peer_only=1
fi

# run TOOL SET INDEX: one timed run; its "wall_seconds peak_kib" go to a file.
run() {
    local tool="$1" set="$2" k="$3" out="$work/out/$1-$2-$3"
    mkdir -p "$out"
    if [ "$tool" = peer ]; then
        python3 "$root/bench/peers/timed.py" "$out/time" \
            node "$root/bench/peers/pack_peer.js" "$work/peer/node_modules" "$work/sets/$set" "$out/atlas"
    else
        python3 "$root/bench/peers/timed.py" "$out/time" \
            "$velmora" --atlas --packer maxrects -o "$out/atlas" "$work/sets/$set"
        # The file system's share: creating as many empty files, right after.
        python3 "$root/bench/peers/create_files.py" "$work/out/files-$2-$3" \
            "$(find "$out" -type f ! -name time ! -name files | wc -l)" >"$out/files"
    fi
}

tools=(peer)
[ "$peer_only" -eq 1 ] || tools+=(velmora)
for set in grid32 mixed drawn; do
    for tool in "${tools[@]}"; do
        for k in $(seq 1 "$runs"); do
            run "$tool" "$set" "$k"
        done
    done
done

pack_sizes="$root/build/default/bench/pack_sizes"
[ -x "$pack_sizes" ] || pack_sizes=""

python3 - "$work" "$runs" "$peer_only" "$peer_version" "$pack_sizes" <<'EOF'
import os, statistics, struct, subprocess, sys

work, runs, peer_only, peer_version, pack_sizes = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1", sys.argv[4], sys.argv[5]

def png_size(path):
    with open(path, "rb") as f:
        return struct.unpack(">II", f.read(24)[16:24])

def measure(tool, name):
    walls, rss = [], []
    for k in range(1, runs + 1):
        wall, kib = open(os.path.join(work, "out", "%s-%s-%d" % (tool, name, k), "time")).read().split()[-2:]
        walls.append(float(wall))
        rss.append(int(kib))
    png = os.path.join(work, "out", "%s-%s-1" % (tool, name), "atlas.png")
    w, h = png_size(png)
    return statistics.median(walls), statistics.median(rss) / 1024.0, w, h, os.path.getsize(png)

def files_baseline(name):
    """(files velmora2d wrote, median seconds to create as many empty ones)"""
    rows = [open(os.path.join(work, "out", "velmora-%s-%d" % (name, k), "files")).read().split()
            for k in range(1, runs + 1)]
    return int(rows[0][0]), statistics.median(float(r[1]) for r in rows)

print("free-tex-packer-core %s (MaxRectsPacker) vs velmora2d --atlas --packer maxrects; median of %d runs; %d cores"
      % (peer_version, runs, os.cpu_count()))
for name in ("grid32", "mixed", "drawn"):
    folder = os.path.join(work, "sets", name)
    sizes = [png_size(os.path.join(folder, f)) for f in sorted(os.listdir(folder))]
    decoded = sum(w * h for w, h in sizes) * 4
    p = measure("peer", name)
    print("%-7s %4d sprites, %.1f MiB decoded" % (name, len(sizes), decoded / 2**20))
    print("  peer    %6.3f s  %7.1f MiB  atlas %5dx%-5d = %9d px  png %9d B" % (p[0], p[1], p[2], p[3], p[2] * p[3], p[4]))
    if not peer_only:
        v = measure("velmora", name)
        budget = 1.5 * (decoded + v[2] * v[3] * 4) / 2**20 + 32
        print("  velmora %6.3f s  %7.1f MiB  atlas %5dx%-5d = %9d px  png %9d B" % (v[0], v[1], v[2], v[3], v[2] * v[3], v[4]))
        print("  speed %.1fx, memory budget %.1f MiB (%s), area %.3f of the peer's, png %.4f of the peer's"
              % (p[0] / v[0], budget, "within" if v[1] <= budget else "OVER", v[2] * v[3] / (p[2] * p[3]), v[4] / p[4]))
        print("  creating velmora2d's %d files empty takes %.3f s here (median, right after each run)"
              % files_baseline(name))
    elif pack_sizes:
        text = "".join("%d %d\n" % s for s in sizes)
        line = subprocess.run([pack_sizes], input=text, capture_output=True, text=True).stdout.strip()
        print("  engine PackRectsMaxRects: %s" % line)
EOF
