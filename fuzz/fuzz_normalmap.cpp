// GenerateNormalMap on arbitrary frames: any width and height (zero,
// negative, up to the ends of the 32-bit range), any strength (zero,
// negative, tiny, huge, infinite, NaN), pixel buffers shorter or longer than
// the sizes say.
//
// The result must have the size the sizes call for, hold the neutral fill
// when the frame is not processed, and otherwise equal the literal
// one-pixel-at-a-time reference bit for bit on every code path this CPU
// supports, with transparent pixels 0 and every other pixel keeping its
// alpha.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "fuzz_input.h"
#include "velmora_engine.h"
#include "normal_map_internal.h"

namespace {

using Velmora::NormalMapInternal::NormalMapPath;
using VelmoraFuzz::Reader;

constexpr int64_t kMaxBufferPixels = int64_t{1} << 14;
constexpr uint32_t kNeutralFill = 0xFF808080u;

// Strengths where the normalisation changes behaviour: 0 (z0 infinite),
// around 1e5 (z0 at the 1e-5 threshold), infinities, NaN, negatives and
// values whose reciprocal overflows or underflows.
constexpr float kStrengths[] = {
    1.0f, 2.0f, 0.0f, -0.0f, -1.0f, 0.5f, 99999.0f, 100000.0f, 1e-30f, 1e30f, 1e-45f,
    std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::max(),
    std::numeric_limits<float>::min(),
};

float TakeStrength(Reader& in) {
    const uint8_t mode = VelmoraFuzz::TakeByte(in);
    if ((mode & 1) == 0) {
        return kStrengths[static_cast<size_t>(mode >> 1) % (sizeof kStrengths / sizeof kStrengths[0])];
    }
    const uint32_t bits = VelmoraFuzz::TakeU32(in);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t width = VelmoraFuzz::TakeInt32(in);
    const int32_t height = VelmoraFuzz::TakeInt32(in);
    const float strength = TakeStrength(in);

    const int64_t need = int64_t{width} * int64_t{height};
    // Sizes that must be refused or processed run at any magnitude; a frame
    // too narrow to process legitimately returns `need` entries of the
    // neutral fill, so only small ones of those are made.
    if (need > kMaxBufferPixels && need <= VelmoraFuzz::kMaxInt) {
        return 0;
    }
    const uint8_t mode = VelmoraFuzz::TakeByte(in);
    const int64_t length = VelmoraFuzz::BufferLength(mode, need, kMaxBufferPixels);
    // The rest of the input is the pixel pattern, repeated over the frame,
    // four bytes (red, green, blue, alpha) per pixel.
    std::vector<uint8_t> bytes(data + in.pos, data + size);
    while (bytes.size() < 4 || bytes.size() % 4 != 0) {
        bytes.push_back(0xFF);
    }
    std::vector<uint32_t> pixels;
    const size_t patternPixels = bytes.size() / 4;
    for (int64_t i = 0; i < length; ++i) {
        const size_t at = static_cast<size_t>(i) % patternPixels * 4;
        pixels.push_back(uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 |
                         uint32_t{bytes[at + 2]} << 16 | uint32_t{bytes[at + 3]} << 24);
    }

    if (need < 0) {
        bool threw = false;
        try {
            (void)Velmora::GenerateNormalMap(pixels, width, height, strength);
        } catch (const std::length_error&) {
            threw = true;
        }
        FUZZ_CHECK(threw);
        return 0;
    }
    const std::vector<uint32_t> result = Velmora::GenerateNormalMap(pixels, width, height, strength);
    if (need > VelmoraFuzz::kMaxInt) {
        FUZZ_CHECK(result.empty());
        return 0;
    }
    FUZZ_CHECK(static_cast<int64_t>(result.size()) == need);
    const bool processed = width >= 3 && height >= 3 && static_cast<int64_t>(pixels.size()) >= need;
    if (!processed) {
        for (const uint32_t value : result) {
            FUZZ_CHECK(value == kNeutralFill);
        }
        return 0;
    }

    const std::vector<uint32_t> reference =
        Velmora::NormalMapInternal::GenerateNormalMapReference(pixels, width, height, strength);
    FUZZ_CHECK(result == reference);
    for (const NormalMapPath path : {NormalMapPath::Portable, NormalMapPath::Sse2, NormalMapPath::Avx2}) {
        if (Velmora::NormalMapInternal::IsPathSupported(path)) {
            FUZZ_CHECK(Velmora::NormalMapInternal::GenerateNormalMapOnPath(path, pixels, width, height,
                                                                           strength) == reference);
        }
    }
    for (size_t i = 0; i < result.size(); ++i) {
        if (pixels[i] < 0x05000000u) {
            FUZZ_CHECK(result[i] == 0);
        } else {
            FUZZ_CHECK(result[i] >> 24 == pixels[i] >> 24);
        }
    }
    return 0;
}
