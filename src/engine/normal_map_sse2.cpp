// Normal map kernel, 4 pixels per step with SSE2, which every x86-64 CPU
// has: the fallback when AVX2 is missing. Same operations, same order, same
// NaN and clamping rules as the AVX2 kernel; see velmora_normalmap_avx2.cpp.
#include "normal_map_internal.h"

#if VELMORA_NORMALMAP_X86

#include <emmintrin.h>

namespace Velmora {
namespace NormalMapInternal {
namespace {

struct Constants {
    __m128i byteMask;
    __m128i alphaMask;
    __m128i nine;
    __m128i four;
    __m128 red;
    __m128 green;
    __m128 blue;
    __m128 maxByte;
    __m128 half;
    __m128 zero;
    __m128 minLength;
    __m128 z0;
    __m128 z0Squared;
};

Constants MakeConstants(float z0) {
    Constants k;
    k.byteMask = _mm_set1_epi32(0xFF);
    k.alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    k.nine = _mm_set1_epi32(9);
    k.four = _mm_set1_epi32(4);
    k.red = _mm_set1_ps(0.299f);
    k.green = _mm_set1_ps(0.587f);
    k.blue = _mm_set1_ps(0.114f);
    k.maxByte = _mm_set1_ps(255.0f);
    k.half = _mm_set1_ps(0.5f);
    k.zero = _mm_setzero_ps();
    k.minLength = _mm_set1_ps(1e-5f);
    k.z0 = _mm_set1_ps(z0);
    k.z0Squared = _mm_set1_ps(z0 * z0);
    return k;
}

inline __m128 Elevation(const uint32_t* at, const Constants& k) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128 r = _mm_cvtepi32_ps(_mm_and_si128(p, k.byteMask));
    const __m128 g = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 8), k.byteMask));
    const __m128 b = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(p, 16), k.byteMask));
    const __m128i alpha = _mm_srli_epi32(p, 24);
    const __m128 a = _mm_cvtepi32_ps(alpha);
    const __m128 luminance =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(g, k.green), _mm_mul_ps(r, k.red)), _mm_mul_ps(b, k.blue));
    const __m128 elevation = _mm_mul_ps(luminance, _mm_div_ps(a, k.maxByte));
    // Alpha below 10 contributes nothing; the product is finite and >= 0,
    // so masking its bits yields exactly 0 or the value.
    const __m128i solid = _mm_cmpgt_epi32(alpha, k.nine);
    return _mm_and_ps(elevation, _mm_castsi128_ps(solid));
}

// SSE2 has no blendv: pick bits with and / andnot / or.
inline __m128 Select(__m128 mask, __m128 ifSet, __m128 ifClear) {
    return _mm_or_ps(_mm_and_ps(mask, ifSet), _mm_andnot_ps(mask, ifClear));
}

inline __m128i Encode(__m128 v, const Constants& k) {
    const __m128 e = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(v, k.half), k.half), k.maxByte);
    // maxps returns its second operand when either is NaN: NaN -> 0.
    const __m128 clamped = _mm_min_ps(_mm_max_ps(e, k.zero), k.maxByte);
    return _mm_cvttps_epi32(clamped);
}

// Result pixels x .. x+3; reads columns x-1 .. x+4.
inline void Step(const NormalMapRows& rows, size_t x, const Constants& k) {
    const __m128 tl = Elevation(rows.up + x - 1, k);
    const __m128 t = Elevation(rows.up + x, k);
    const __m128 tr = Elevation(rows.up + x + 1, k);
    const __m128 l = Elevation(rows.mid + x - 1, k);
    const __m128 r = Elevation(rows.mid + x + 1, k);
    const __m128 bl = Elevation(rows.down + x - 1, k);
    const __m128 b = Elevation(rows.down + x, k);
    const __m128 br = Elevation(rows.down + x + 1, k);

    const __m128 gx = _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(r, r), tr), br),
                                    _mm_add_ps(_mm_add_ps(_mm_add_ps(l, l), tl), bl));
    const __m128 gy = _mm_sub_ps(_mm_add_ps(_mm_add_ps(bl, _mm_add_ps(b, b)), br),
                                    _mm_add_ps(_mm_add_ps(tl, _mm_add_ps(t, t)), tr));
    const __m128 len = _mm_sqrt_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(gx, gx), _mm_mul_ps(gy, gy)), k.z0Squared));
    // Ordered compare: false for NaN, which keeps the raw components.
    const __m128 normalise = _mm_cmpgt_ps(len, k.minLength);
    const __m128 nx = Select(normalise, _mm_div_ps(gx, len), gx);
    const __m128 ny = Select(normalise, _mm_div_ps(gy, len), gy);
    const __m128 nz = Select(normalise, _mm_div_ps(k.z0, len), k.z0);

    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows.mid + x));
    __m128i packed = _mm_and_si128(c, k.alphaMask);
    packed = _mm_or_si128(packed, _mm_slli_epi32(Encode(nz, k), 16));
    packed = _mm_or_si128(packed, _mm_slli_epi32(Encode(ny, k), 8));
    packed = _mm_or_si128(packed, Encode(nx, k));
    // Alpha below 5: the pixel is not processed and becomes 0.
    const __m128i processed = _mm_cmpgt_epi32(_mm_srli_epi32(c, 24), k.four);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.out + x), _mm_and_si128(packed, processed));
}

}  // namespace

void NormalMapKernelSse2(const uint32_t* source, uint32_t* result, int32_t width, int32_t height,
                         float z0) {
    constexpr int32_t kLanes = 4;
    const Constants k = MakeConstants(z0);
    const size_t stride = static_cast<size_t>(width);
    for (int32_t y = 0; y < height; ++y) {
        const NormalMapRows rows = RowsAround(source, result, width, height, y);
        // The vector steps cover the interior columns 1 .. width-2.
        if (width - 2 < kLanes) {
            NormalMapSpanPortable(rows, width, 0, width, z0);
            continue;
        }
        NormalMapSpanPortable(rows, width, 0, 1, z0);
        const size_t lastStep = stride - 1 - kLanes;
        size_t x = 1;
        for (; x <= lastStep; x += kLanes) {
            Step(rows, x, k);
        }
        // A final step flush with the right border redoes a few pixels,
        // writing the same values again.
        if (x < stride - 1) {
            Step(rows, lastStep, k);
        }
        NormalMapSpanPortable(rows, width, width - 1, width, z0);
    }
}

}  // namespace NormalMapInternal
}  // namespace Velmora

#endif  // VELMORA_NORMALMAP_X86
