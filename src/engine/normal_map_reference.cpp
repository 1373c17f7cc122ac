// The normal map written out the slow, obvious way: one pixel at a time,
// eight elevation computations per pixel, each float operation on its own.
// Kept beside the fast paths as the yardstick for tests and benchmarks; the
// program itself never calls it, so the linker leaves it out.
#include <cmath>
#include <limits>

#include "normal_map_internal.h"

namespace Velmora {
namespace NormalMapInternal {
namespace {

constexpr uint32_t kNeutralFill = 0xFF808080u;

float Elevation(uint32_t pixel) {
    if (pixel < 0x0A000000u) {
        return 0.0f;
    }
    const float r = static_cast<float>(pixel & 0xFFu);
    const float g = static_cast<float>((pixel >> 8) & 0xFFu);
    const float b = static_cast<float>((pixel >> 16) & 0xFFu);
    const float a = static_cast<float>(pixel >> 24);
    return ((g * 0.587f + r * 0.299f) + b * 0.114f) * (a / 255.0f);
}

// Truncation toward zero, then 0..255; NaN gives 0. The comparisons come
// first so that the conversion never sees a value it cannot represent.
uint32_t Encode(float v) {
    const float e = (v * 0.5f + 0.5f) * 255.0f;
    if (!(e >= 0.0f)) {
        return 0;
    }
    if (e >= 255.0f) {
        return 255;
    }
    return static_cast<uint32_t>(e);
}

}  // namespace

std::vector<uint32_t> GenerateNormalMapReference(const std::vector<uint32_t>& pixels, int32_t width,
                                                 int32_t height, float strength) {
    const int64_t n = int64_t{width} * int64_t{height};
    if (n > std::numeric_limits<int32_t>::max()) {
        return {};
    }
    // A negative count becomes a size beyond max_size(): std::length_error.
    std::vector<uint32_t> result(static_cast<size_t>(n), kNeutralFill);
    if (width < 3 || height < 3) {
        return result;
    }
    if (pixels.size() < static_cast<size_t>(n)) {
        return result;
    }
    const float z0 = 1.0f / strength;
    const auto at = [&](int32_t x, int32_t y) {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    };
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = at(x, y);
            uint32_t& out = result[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            if (c < 0x05000000u) {
                out = 0;
                continue;
            }
            const int32_t xl = x == 0 ? 0 : x - 1;
            const int32_t xr = x == width - 1 ? width - 1 : x + 1;
            const int32_t yu = y == 0 ? 0 : y - 1;
            const int32_t yd = y == height - 1 ? height - 1 : y + 1;
            const float tl = Elevation(at(xl, yu));
            const float t = Elevation(at(x, yu));
            const float tr = Elevation(at(xr, yu));
            const float l = Elevation(at(xl, y));
            const float r = Elevation(at(xr, y));
            const float bl = Elevation(at(xl, yd));
            const float b = Elevation(at(x, yd));
            const float br = Elevation(at(xr, yd));
            const float gx = ((r + r + tr) + br) - ((l + l + tl) + bl);
            const float gy = ((bl + (b + b)) + br) - ((tl + (t + t)) + tr);
            const float len = std::sqrt((gx * gx + gy * gy) + z0 * z0);
            float nx = gx;
            float ny = gy;
            float nz = z0;
            if (len > 1e-5f) {
                nx = gx / len;
                ny = gy / len;
                nz = z0 / len;
            }
            out = (c & 0xFF000000u) | (Encode(nz) << 16) | (Encode(ny) << 8) | Encode(nx);
        }
    }
    return result;
}

}  // namespace NormalMapInternal
}  // namespace Velmora
