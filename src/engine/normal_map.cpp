// Normal map generator: Sobel gradient of an opacity-weighted luminance,
// packed into red, green and blue with the pixel's own alpha.
//
// The heavy lifting is done 8 (AVX2) or 4 (SSE2) pixels at a time; the
// border columns and frames too narrow for a vector go one pixel at a time
// through NormalMapSpanPortable. Every path performs the same single-precision
// operations in the same order, so they agree bit for bit.
#include <cmath>
#include <limits>

#include "velmora_engine.h"
#include "memory_internal.h"
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

// Clamps in float before converting: converting NaN or an out-of-range value
// to an integer is undefined in C++.
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

void KernelPortable(const uint32_t* source, uint32_t* result, int32_t width, int32_t height, float z0) {
    for (int32_t y = 0; y < height; ++y) {
        const NormalMapRows rows = RowsAround(source, result, width, height, y);
        NormalMapSpanPortable(rows, width, 0, width, z0);
    }
}

}  // namespace

void NormalMapSpanPortable(const NormalMapRows& rows, int32_t width, int32_t xBegin, int32_t xEnd,
                           float z0) {
    for (int32_t x = xBegin; x < xEnd; ++x) {
        const uint32_t c = rows.mid[x];
        if (c < 0x05000000u) {
            rows.out[x] = 0;
            continue;
        }
        const int32_t xl = x == 0 ? 0 : x - 1;
        const int32_t xr = x == width - 1 ? width - 1 : x + 1;
        const float tl = Elevation(rows.up[xl]);
        const float t = Elevation(rows.up[x]);
        const float tr = Elevation(rows.up[xr]);
        const float l = Elevation(rows.mid[xl]);
        const float r = Elevation(rows.mid[xr]);
        const float bl = Elevation(rows.down[xl]);
        const float b = Elevation(rows.down[x]);
        const float br = Elevation(rows.down[xr]);
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
        rows.out[x] = (c & 0xFF000000u) | (Encode(nz) << 16) | (Encode(ny) << 8) | Encode(nx);
    }
}

bool IsPathSupported(NormalMapPath path) {
    switch (path) {
#if VELMORA_NORMALMAP_X86
    case NormalMapPath::Sse2:  // part of the x86-64 baseline
#endif
    case NormalMapPath::Portable:
        return true;
#if VELMORA_NORMALMAP_X86
    case NormalMapPath::Avx2:
        // Also checks that the operating system saves the YMM registers.
        return __builtin_cpu_supports("avx2") != 0;
#endif
    default:
        return false;
    }
}

NormalMapPath FastestPath() {
    if (IsPathSupported(NormalMapPath::Avx2)) {
        return NormalMapPath::Avx2;
    }
    if (IsPathSupported(NormalMapPath::Sse2)) {
        return NormalMapPath::Sse2;
    }
    return NormalMapPath::Portable;
}

std::vector<uint32_t> GenerateNormalMapOnPath(NormalMapPath path, const std::vector<uint32_t>& pixels,
                                              int32_t width, int32_t height, float strength) {
    const int64_t n = int64_t{width} * int64_t{height};
    // Far too big to allocate, and the caller's buffer cannot be that long
    // either: nothing to read, nothing to write.
    if (n > std::numeric_limits<int32_t>::max()) {
        return {};
    }
    // A negative count becomes a size beyond max_size(): std::length_error.
    // Large results ask for huge pages before their first write.
    std::vector<uint32_t> result = MemoryInternal::FilledLargeBuffer(static_cast<size_t>(n), kNeutralFill);
    if (width < 3 || height < 3 || pixels.size() < static_cast<size_t>(n)) {
        return result;
    }
    const float z0 = 1.0f / strength;
    switch (path) {
#if VELMORA_NORMALMAP_X86
    case NormalMapPath::Avx2:
        NormalMapKernelAvx2(pixels.data(), result.data(), width, height, z0);
        break;
    case NormalMapPath::Sse2:
        NormalMapKernelSse2(pixels.data(), result.data(), width, height, z0);
        break;
#endif
    default:
        KernelPortable(pixels.data(), result.data(), width, height, z0);
        break;
    }
    return result;
}

}  // namespace NormalMapInternal

std::vector<uint32_t> GenerateNormalMap(const std::vector<uint32_t>& pixels, int32_t width,
                                        int32_t height, float strength) {
    return NormalMapInternal::GenerateNormalMapOnPath(NormalMapInternal::FastestPath(), pixels, width,
                                                      height, strength);
}

}  // namespace Velmora
