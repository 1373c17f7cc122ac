#include "reference_outline.h"

#include <cstddef>

namespace VelmoraTest {

std::vector<OutlinePoint> ReferenceOutline(const std::vector<uint32_t>& pixels, int64_t width, int64_t height,
                                           uint8_t threshold, int64_t step) {
    const auto solid = [&](int64_t x, int64_t y) {
        return (pixels[static_cast<size_t>(y * width + x)] >> 24) >= threshold;
    };
    std::vector<OutlinePoint> out;
    const auto add = [&out](int64_t x, int64_t y, Side side) {
        out.push_back({Velmora::Point2D{static_cast<int32_t>(x), static_cast<int32_t>(y)}, side});
    };
    for (int64_t x = 0; x < width; x += step) {
        for (int64_t y = 0; y < height; ++y) {
            if (solid(x, y)) {
                add(x, y, Side::Top);
                break;
            }
        }
    }
    for (int64_t y = 0; y < height; y += step) {
        for (int64_t x = width - 1; x >= 0; --x) {
            if (solid(x, y)) {
                add(x, y, Side::Right);
                break;
            }
        }
    }
    for (int64_t x = width - 1; x >= 0; x -= step) {
        for (int64_t y = height - 1; y >= 0; --y) {
            if (solid(x, y)) {
                add(x, y, Side::Bottom);
                break;
            }
        }
    }
    for (int64_t y = height - 1; y >= 0; y -= step) {
        for (int64_t x = 0; x < width; ++x) {
            if (solid(x, y)) {
                add(x, y, Side::Left);
                break;
            }
        }
    }
    return out;
}

}  // namespace VelmoraTest
