// Normal map kernel, 8 pixels per step with AVX2. Only functions marked
// VELMORA_AVX2 use AVX2, and they run only after the CPU check in
// velmora_normalmap.cpp, so the rest of the program stays baseline x86-64.
// (GCC's target_clones would do the dispatch for us, but needs ifunc, which
// Windows lacks. A per-file -mavx2 would also compile any inline library
// function used here for AVX2, and the linker may keep that copy for
// callers on any CPU.)
//
// Speed: each source row's elevations are computed once per step and
// shifted across lanes for the left and right neighbours, and two result
// rows are done together so that they share their two middle source rows.
// Nothing is stored beyond registers; the result is the only allocation.
//
// Bit-exactness: each intrinsic is one IEEE single-precision operation,
// applied in the same grouping as the scalar code; divps and sqrtps are
// correctly rounded like their scalar forms. cvttps returns 0x80000000 for
// NaN and out-of-range values, so the encoding clamps in float first, with
// maxps placed so that NaN becomes 0.
#include "normal_map_internal.h"

#if VELMORA_NORMALMAP_X86

#include <immintrin.h>

#define VELMORA_AVX2 __attribute__((target("avx2")))
// The per-step helpers must inline into the row loop so that the constants
// stay in registers.
#define VELMORA_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace Velmora {
namespace NormalMapInternal {
namespace {

struct Constants {
    __m256i greenBytes;
    __m256i blueBytes;
    __m256i byteMask;
    __m256i alphaMask;
    __m256i nine;
    __m256i four;
    __m256 red;
    __m256 green;
    __m256 blue;
    __m256 maxByte;
    __m256 half;
    __m256 zero;
    __m256 minLength;
    __m256 z0;
    __m256 z0Squared;
};

VELMORA_AVX2_INLINE Constants MakeConstants(float z0) {
    Constants k;
    // vpshufb picks one byte per 32-bit lane and zeroes the rest (index -1).
    k.greenBytes = _mm256_setr_epi8(1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1,
                                    1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1);
    k.blueBytes = _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1,
                                   2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
    k.byteMask = _mm256_set1_epi32(0xFF);
    k.alphaMask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    k.nine = _mm256_set1_epi32(9);
    k.four = _mm256_set1_epi32(4);
    k.red = _mm256_set1_ps(0.299f);
    k.green = _mm256_set1_ps(0.587f);
    k.blue = _mm256_set1_ps(0.114f);
    k.maxByte = _mm256_set1_ps(255.0f);
    k.half = _mm256_set1_ps(0.5f);
    k.zero = _mm256_setzero_ps();
    k.minLength = _mm256_set1_ps(1e-5f);
    k.z0 = _mm256_set1_ps(z0);
    k.z0Squared = _mm256_set1_ps(z0 * z0);
    return k;
}

VELMORA_AVX2_INLINE __m256 Elevation(const uint32_t* at, const Constants& k) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256 r = _mm256_cvtepi32_ps(_mm256_and_si256(p, k.byteMask));
    const __m256 g = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(p, k.greenBytes));
    const __m256 b = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(p, k.blueBytes));
    const __m256i alpha = _mm256_srli_epi32(p, 24);
    const __m256 a = _mm256_cvtepi32_ps(alpha);
    const __m256 luminance =
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(g, k.green), _mm256_mul_ps(r, k.red)), _mm256_mul_ps(b, k.blue));
    const __m256 elevation = _mm256_mul_ps(luminance, _mm256_div_ps(a, k.maxByte));
    // Alpha below 10 contributes nothing; the product is finite and >= 0,
    // so masking its bits yields exactly 0 or the value.
    const __m256i solid = _mm256_cmpgt_epi32(alpha, k.nine);
    return _mm256_and_ps(elevation, _mm256_castsi256_ps(solid));
}

VELMORA_AVX2_INLINE __m256i Encode(__m256 v, const Constants& k) {
    const __m256 e = _mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(v, k.half), k.half), k.maxByte);
    // maxps returns its second operand when either is NaN: NaN -> 0.
    const __m256 clamped = _mm256_min_ps(_mm256_max_ps(e, k.zero), k.maxByte);
    return _mm256_cvttps_epi32(clamped);
}

// Elevations of columns x-1 .. x+6 (left), x .. x+7 (centre) and
// x+1 .. x+8 (right) of one source row.
struct Columns {
    __m256 left;
    __m256 centre;
    __m256 right;
};

// The elevations every result pixel of a step needs, read straight from the
// source: usable anywhere, costs three elevation vectors per row.
VELMORA_AVX2_INLINE Columns LoadColumns(const uint32_t* row, size_t x, const Constants& k) {
    return Columns{Elevation(row + x - 1, k), Elevation(row + x, k), Elevation(row + x + 1, k)};
}

// Moves a row's window on by 8 columns: computes the elevations of columns
// x+8 .. x+15, completes `columns.right` for the current step from them and
// returns the window of the next step. The right neighbours of this step and
// the left neighbours of the next are the same values shifted across lanes,
// so each source pixel's elevation is computed once per row of the step.
VELMORA_AVX2_INLINE Columns Slide(Columns& columns, const uint32_t* row, size_t x, const Constants& k) {
    const __m256 next = Elevation(row + x + 8, k);
    const __m256i centre = _mm256_castps_si256(columns.centre);
    const __m256i following = _mm256_castps_si256(next);
    // Lanes 4..7 of the centre, then lanes 0..3 of the next vector.
    const __m256i straddle = _mm256_permute2x128_si256(centre, following, 0x21);
    columns.right = _mm256_castsi256_ps(_mm256_alignr_epi8(straddle, centre, 4));
    const __m256 nextLeft = _mm256_castsi256_ps(_mm256_alignr_epi8(following, straddle, 12));
    return Columns{nextLeft, next, _mm256_setzero_ps()};
}

// Result pixels x .. x+7 of one row from the windows of the source rows
// above, at and below it.
VELMORA_AVX2_INLINE void Step(const uint32_t* centreRow, uint32_t* out, size_t x, const Columns& upper,
                              const Columns& middle, const Columns& lower, const Constants& k) {
    const __m256 tl = upper.left;
    const __m256 t = upper.centre;
    const __m256 tr = upper.right;
    const __m256 l = middle.left;
    const __m256 r = middle.right;
    const __m256 bl = lower.left;
    const __m256 b = lower.centre;
    const __m256 br = lower.right;

    const __m256 gx = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(_mm256_add_ps(r, r), tr), br),
                                    _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(l, l), tl), bl));
    const __m256 gy = _mm256_sub_ps(_mm256_add_ps(_mm256_add_ps(bl, _mm256_add_ps(b, b)), br),
                                    _mm256_add_ps(_mm256_add_ps(tl, _mm256_add_ps(t, t)), tr));
    const __m256 len = _mm256_sqrt_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(gx, gx), _mm256_mul_ps(gy, gy)), k.z0Squared));
    // Ordered compare: false for NaN, which keeps the raw components.
    const __m256 normalise = _mm256_cmp_ps(len, k.minLength, _CMP_GT_OQ);
    const __m256 nx = _mm256_blendv_ps(gx, _mm256_div_ps(gx, len), normalise);
    const __m256 ny = _mm256_blendv_ps(gy, _mm256_div_ps(gy, len), normalise);
    const __m256 nz = _mm256_blendv_ps(k.z0, _mm256_div_ps(k.z0, len), normalise);

    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(centreRow + x));
    __m256i packed = _mm256_and_si256(c, k.alphaMask);
    packed = _mm256_or_si256(packed, _mm256_slli_epi32(Encode(nz, k), 16));
    packed = _mm256_or_si256(packed, _mm256_slli_epi32(Encode(ny, k), 8));
    packed = _mm256_or_si256(packed, Encode(nx, k));
    // Alpha below 5: the pixel is not processed and becomes 0.
    const __m256i processed = _mm256_cmpgt_epi32(_mm256_srli_epi32(c, 24), k.four);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_and_si256(packed, processed));
}

// Interior columns 1 .. width-2 of `Rows` consecutive result rows; needs
// width >= 10. `source` lists the Rows + 2 source rows from the one above
// the first result row to the one below the last; `out` the result rows.
// Doing two rows at once shares the elevations of their two middle source
// rows. The windows slide while the following 8 columns lie inside the row;
// the last step reads its right neighbours straight from the source, and a
// final step flush with the right border redoes a few pixels, writing the
// same values again.
template <size_t Rows>
VELMORA_AVX2_INLINE void InteriorRows(const uint32_t* const (&source)[Rows + 2], uint32_t* const (&out)[Rows],
                                      size_t width, const Constants& k) {
    const size_t lastStep = width - 9;
    size_t x = 1;
    Columns window[Rows + 2];
    for (size_t i = 0; i < Rows + 2; ++i) {
        window[i] = Columns{Elevation(source[i], k), Elevation(source[i] + 1, k), _mm256_setzero_ps()};
    }
    for (; x + 8 <= lastStep; x += 8) {
        Columns next[Rows + 2];
        for (size_t i = 0; i < Rows + 2; ++i) {
            next[i] = Slide(window[i], source[i], x, k);
        }
        for (size_t r = 0; r < Rows; ++r) {
            Step(source[r + 1], out[r], x, window[r], window[r + 1], window[r + 2], k);
        }
        for (size_t i = 0; i < Rows + 2; ++i) {
            window[i] = next[i];
        }
    }
    for (size_t i = 0; i < Rows + 2; ++i) {
        window[i].right = Elevation(source[i] + x + 1, k);
    }
    for (size_t r = 0; r < Rows; ++r) {
        Step(source[r + 1], out[r], x, window[r], window[r + 1], window[r + 2], k);
    }
    if (x < lastStep) {
        for (size_t i = 0; i < Rows + 2; ++i) {
            window[i] = LoadColumns(source[i], lastStep, k);
        }
        for (size_t r = 0; r < Rows; ++r) {
            Step(source[r + 1], out[r], lastStep, window[r], window[r + 1], window[r + 2], k);
        }
    }
}

}  // namespace

VELMORA_AVX2 void NormalMapKernelAvx2(const uint32_t* source, uint32_t* result, int32_t width,
                                      int32_t height, float z0) {
    const Constants k = MakeConstants(z0);
    const size_t stride = static_cast<size_t>(width);
    const size_t rowCount = static_cast<size_t>(height);
    const auto sourceRow = [&](size_t y) { return source + y * stride; };
    const auto resultRow = [&](size_t y) { return result + y * stride; };
    // Border columns, and whole rows too narrow for a step, go one pixel at
    // a time.
    const auto edges = [&](size_t y) {
        const NormalMapRows rows{sourceRow(y == 0 ? y : y - 1), sourceRow(y),
                                 sourceRow(y + 1 == rowCount ? y : y + 1), resultRow(y)};
        if (width < 10) {
            NormalMapSpanPortable(rows, width, 0, width, z0);
        } else {
            NormalMapSpanPortable(rows, width, 0, 1, z0);
            NormalMapSpanPortable(rows, width, width - 1, width, z0);
        }
    };
    size_t y = 0;
    for (; y + 1 < rowCount; y += 2) {
        edges(y);
        edges(y + 1);
        if (width >= 10) {
            const uint32_t* const rows[4] = {sourceRow(y == 0 ? y : y - 1), sourceRow(y), sourceRow(y + 1),
                                             sourceRow(y + 2 == rowCount ? y + 1 : y + 2)};
            uint32_t* const outs[2] = {resultRow(y), resultRow(y + 1)};
            InteriorRows<2>(rows, outs, stride, k);
        }
    }
    if (y < rowCount) {
        edges(y);
        if (width >= 10) {
            const uint32_t* const rows[3] = {sourceRow(y - 1), sourceRow(y), sourceRow(y)};
            uint32_t* const outs[1] = {resultRow(y)};
            InteriorRows<1>(rows, outs, stride, k);
        }
    }
}

}  // namespace NormalMapInternal
}  // namespace Velmora

#endif  // VELMORA_NORMALMAP_X86
