// Normal map internals shared by the engine, its tests, benchmarks and fuzz
// targets: the plain per-pixel reference and entry points that force one
// code path. Not part of the engine's public contract.
#ifndef VELMORA_NORMALMAP_INTERNAL_H
#define VELMORA_NORMALMAP_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#define VELMORA_NORMALMAP_X86 1
#else
#define VELMORA_NORMALMAP_X86 0
#endif

namespace Velmora {
namespace NormalMapInternal {

// The code paths GenerateNormalMap can take; all give identical bytes.
enum class NormalMapPath {
    Portable,  // one pixel at a time, any CPU
    Sse2,      // 4 pixels per step, x86-64 baseline
    Avx2,      // 8 pixels per step, chosen at run time when the CPU has AVX2
};

// True when `path` is compiled into this build and the running CPU has it.
bool IsPathSupported(NormalMapPath path);

// The path GenerateNormalMap takes on this CPU.
NormalMapPath FastestPath();

// GenerateNormalMap forced onto `path`, which must be supported.
std::vector<uint32_t> GenerateNormalMapOnPath(NormalMapPath path, const std::vector<uint32_t>& pixels,
                                              int32_t width, int32_t height, float strength);

// The operation written out literally, one pixel at a time: eight elevation
// computations per pixel, no SIMD, no shortcuts. Same contract as
// GenerateNormalMap; the fast paths are checked against it.
std::vector<uint32_t> GenerateNormalMapReference(const std::vector<uint32_t>& pixels, int32_t width,
                                                 int32_t height, float strength);

// --- Kernel pieces, used only by the path implementations. ---

// The three source rows around one result row and that result row. `up` and
// `down` already repeat the edge row at the top and bottom borders.
struct NormalMapRows {
    const uint32_t* up;
    const uint32_t* mid;
    const uint32_t* down;
    uint32_t* out;
};

// The rows around result row `y` of a width x height frame.
inline NormalMapRows RowsAround(const uint32_t* source, uint32_t* result, int32_t width,
                                int32_t height, int32_t y) {
    const size_t stride = static_cast<size_t>(width);
    const size_t row = static_cast<size_t>(y);
    const size_t up = y == 0 ? row : row - 1;
    const size_t down = y == height - 1 ? row : row + 1;
    return NormalMapRows{source + up * stride, source + row * stride, source + down * stride,
                         result + row * stride};
}

// Result pixels [xBegin, xEnd) of one row, one at a time, with the border
// columns replicated. `width` >= 3.
void NormalMapSpanPortable(const NormalMapRows& rows, int32_t width, int32_t xBegin, int32_t xEnd,
                           float z0);

// Whole-frame kernels: `width` and `height` >= 3, `source` holds width * height
// pixels, every entry of `result` is written.
void NormalMapKernelSse2(const uint32_t* source, uint32_t* result, int32_t width, int32_t height,
                         float z0);
void NormalMapKernelAvx2(const uint32_t* source, uint32_t* result, int32_t width, int32_t height,
                         float z0);

}  // namespace NormalMapInternal
}  // namespace Velmora

#endif  // VELMORA_NORMALMAP_INTERNAL_H
