// Images for tests: opaque random pixels, reproducible from a seed.
#ifndef VELMORA_TESTS_SUPPORT_SPRITES_H
#define VELMORA_TESTS_SUPPORT_SPRITES_H

#include <cstddef>
#include <cstdint>
#include <random>

#include "velmora/image.h"

namespace VelmoraTest {

// Opaque random pixels inside a transparent border of `border` pixels.
inline Velmora::Image Sprite(int32_t width, int32_t height, uint32_t seed, int32_t border = 0) {
    Velmora::Image image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0U);
    std::mt19937 random(seed);
    for (int32_t y = border; y < height - border; ++y) {
        for (int32_t x = border; x < width - border; ++x) {
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            image.pixels[at] = static_cast<uint32_t>(random()) | 0xFF000000U;
        }
    }
    return image;
}

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_SPRITES_H
