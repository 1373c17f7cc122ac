// What the PNG reader and writer share: the signature, big-endian numbers
// and the image shapes both accept.
#ifndef VELMORA_IO_PNG_COMMON_H
#define VELMORA_IO_PNG_COMMON_H

#include <cstddef>
#include <cstdint>

#include "velmora/image.h"
#include "velmora_engine.h"

namespace Velmora::Io::Png {

// Decoded straight into the packed pixels: red in the lowest byte is R, G,
// B, A in memory on a little-endian machine, which every target is.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "packed pixels assume little-endian");

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// IHDR's colour types.
constexpr uint8_t kGray = 0;
constexpr uint8_t kTruecolour = 2;
constexpr uint8_t kIndexed = 3;
constexpr uint8_t kGrayAlpha = 4;
constexpr uint8_t kTruecolourAlpha = 6;

// PNG numbers are big-endian.
inline void PutU32At(uint8_t* at, unsigned long value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>((value >> (24 - 8 * i)) & 0xff);
    }
}

inline uint32_t GetU32At(const uint8_t* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

inline bool IsUsableImage(const Image& image) {
    return image.width >= 1 && image.height >= 1 && image.width <= kMaxImageSide &&
           image.height <= kMaxImageSide &&
           image.pixels.size() ==
               static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

}  // namespace Velmora::Io::Png

#endif  // VELMORA_IO_PNG_COMMON_H
