// TraceColliderPolygons on small random masks with any threshold and
// tolerance (NaN, negative and infinite included), and on buffers that do
// not match their size. Checks every polygon's rules (>= 3 points, inside
// the image, simple, clockwise), one polygon per 4-connected region against
// a plain labeller, in order of the regions' first pixels and starting at
// that pixel's top-left corner, and coverage: each polygon's area stays
// within its region's budget of the region with its own holes filled, and
// equals it exactly when no corner may be dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fuzz_input.h"
#include "polygon_rules.h"
#include "velmora/collider.h"
#include "velmora/image.h"
#include "velmora_engine.h"

namespace {

using Velmora::Point2D;

// 4-connected flood from `seeds` through pixels where `pass` holds; marks
// them in `seen`.
template <typename Pass>
void Flood(std::vector<size_t> seeds, int32_t w, int32_t h, std::vector<char>& seen, Pass pass) {
    while (!seeds.empty()) {
        const size_t i = seeds.back();
        seeds.pop_back();
        if (seen[i] != 0 || !pass(i)) {
            continue;
        }
        seen[i] = 1;
        const size_t x = i % static_cast<size_t>(w);
        const size_t y = i / static_cast<size_t>(w);
        if (x > 0) seeds.push_back(i - 1);
        if (x + 1 < static_cast<size_t>(w)) seeds.push_back(i + 1);
        if (y > 0) seeds.push_back(i - static_cast<size_t>(w));
        if (y + 1 < static_cast<size_t>(h)) seeds.push_back(i + static_cast<size_t>(w));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VelmoraFuzz::Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t w = 1 + VelmoraFuzz::TakeByte(in) % 24;
    const int32_t h = 1 + VelmoraFuzz::TakeByte(in) % 24;
    const uint8_t threshold = VelmoraFuzz::TakeByte(in);
    const uint8_t mode = VelmoraFuzz::TakeByte(in);
    const float tolerances[] = {0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 5.0f, std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::quiet_NaN(), -1.0f};
    float tolerance = tolerances[mode % 9];
    if ((mode & 0x40) != 0) {
        const uint32_t bits = VelmoraFuzz::TakeU32(in);
        std::memcpy(&tolerance, &bits, sizeof tolerance);
    }
    const auto need = static_cast<int64_t>(w) * h;
    const int64_t length = VelmoraFuzz::BufferLength(VelmoraFuzz::TakeByte(in), need, need);
    // The rest is the mask: one bit per pixel (solid alpha 255 or 0) or,
    // with bit 7 of `mode`, one alpha byte per pixel; repeated as needed.
    std::vector<uint8_t> rest(data + in.pos, data + size);
    rest.push_back(0);
    Velmora::Image image{w, h, {}};
    for (int64_t i = 0; i < length; ++i) {
        const auto k = static_cast<size_t>(i);
        const uint32_t alpha = (mode & 0x80) != 0 ? rest[k % rest.size()]
                                                  : ((rest[(k / 8) % rest.size()] >> (k % 8)) & 1u) * 255u;
        image.pixels.push_back(alpha << 24 | (VelmoraFuzz::MixBits(static_cast<uint32_t>(i)) & 0xFFFFFFu));
    }

    const std::vector<std::vector<Point2D>> polygons = Velmora::TraceColliderPolygons(image, threshold, tolerance);
    if (length != need) {
        FUZZ_CHECK(polygons.empty());
        return 0;
    }

    // Reference: label the 4-connected regions; fill each one's holes by
    // flooding the rest of the image from the border.
    const auto count = static_cast<size_t>(need);
    std::vector<size_t> border;
    for (size_t i = 0; i < count; ++i) {
        const size_t x = i % static_cast<size_t>(w);
        const size_t y = i / static_cast<size_t>(w);
        if (x == 0 || y == 0 || x + 1 == static_cast<size_t>(w) || y + 1 == static_cast<size_t>(h)) {
            border.push_back(i);
        }
    }
    const auto solid = [&](size_t i) { return (image.pixels[i] >> 24) >= threshold; };
    std::vector<char> labelled(count, 0);
    size_t regions = 0;
    for (size_t i = 0; i < count; ++i) {
        if (labelled[i] != 0 || !solid(i)) {
            continue;
        }
        std::vector<char> region(count, 0);
        Flood({i}, w, h, region, solid);
        std::vector<char> outside(count, 0);
        Flood(border, w, h, outside, [&](size_t j) { return region[j] == 0; });
        int64_t own = 0;
        int64_t filled = 0;
        for (size_t j = 0; j < count; ++j) {
            own += region[j];
            filled += outside[j] == 0;
            labelled[j] = static_cast<char>(labelled[j] | region[j]);
        }
        FUZZ_CHECK(regions < polygons.size());
        const std::vector<Point2D>& poly = polygons[regions++];
        // At least 3 points, inside the image, simple, clockwise.
        FUZZ_CHECK(VelmoraTest::PolygonFault(poly, w, h).empty());
        FUZZ_CHECK(static_cast<size_t>(poly[0].x) == i % static_cast<size_t>(w) &&
                   static_cast<size_t>(poly[0].y) == i / static_cast<size_t>(w));
        const size_t m = poly.size();
        int64_t twice = 0;
        bool axisAligned = true;
        for (size_t k = 0; k < m; ++k) {
            const Point2D& a = poly[k];
            const Point2D& b = poly[(k + 1) % m];
            twice += int64_t{a.x} * b.y - int64_t{b.x} * a.y;
            axisAligned = axisAligned && (a.x == b.x || a.y == b.y);
        }
        // The shortcuts change at most 1/42 of the region's own pixels.
        const int64_t change = twice > 2 * filled ? twice - 2 * filled : 2 * filled - twice;
        FUZZ_CHECK(change * 42 <= 2 * own);
        if (!(tolerance > 0.0f)) {
            FUZZ_CHECK(twice == 2 * filled && axisAligned);
        }
    }
    FUZZ_CHECK(polygons.size() == regions);
    return 0;
}
