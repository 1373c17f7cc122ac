// Packs a list of frame sizes with the engine's MaxRects packer and prints the
// atlas it chose, for comparing atlas areas with other packers on the same
// sets (bench/compare_peers.sh feeds it the sizes of each set's PNGs).
//
//   pack_sizes [--pot] < sizes.txt      (one "width height" pair per line)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "velmora/packing.h"
#include "velmora_engine.h"

int main(int argc, char** argv) {
    const bool pot = argc > 1 && std::strcmp(argv[1], "--pot") == 0;
    std::vector<Velmora::Size2D> sizes;
    int w = 0;
    int h = 0;
    while (std::scanf("%d %d", &w, &h) == 2) {
        sizes.push_back(Velmora::Size2D{w, h});
    }
    const auto start = std::chrono::steady_clock::now();
    const Velmora::RectPlacement placement = Velmora::PackRectsMaxRects(sizes, 8192, 8192, pot);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!placement.fits) {
        std::printf("frames %zu: %zu did not fit\n", sizes.size(), placement.unplaced);
        return 2;
    }
    long long used = 0;
    for (const Velmora::Size2D& s : sizes) {
        used += static_cast<long long>(s.w) * s.h;
    }
    const long long area = static_cast<long long>(placement.width) * placement.height;
    std::printf("frames %zu: atlas %dx%d area %lld (frames %lld, %.1f%% used), %.1f ms\n", sizes.size(),
                placement.width, placement.height, area, used, 100.0 * static_cast<double>(used) / static_cast<double>(area),
                took.count());
    return 0;
}
