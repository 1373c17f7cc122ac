// Images for tests: opaque random pixels, reproducible from a seed; a
// soft-edged disc, and a count of the pixels around it that lost its colour.
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

// A disc of colour `rgb` (0xBBGGRR) on a size x size transparent square:
// opaque out to `solidRadius` pixels from the centre, then alpha falling to
// 0 at `radius` (linear in the squared distance). Pixels of alpha 0 hold
// `hidden` as colour, as painting programs leave it. Integer arithmetic
// only, so the pixels are the same on every platform.
inline Velmora::Image SoftDisc(int32_t size, int32_t solidRadius, int32_t radius, uint32_t rgb,
                               uint32_t hidden = 0) {
    Velmora::Image image;
    image.width = size;
    image.height = size;
    image.pixels.resize(static_cast<size_t>(size) * static_cast<size_t>(size));
    // Doubled coordinates: pixel centres are odd, the disc's centre is `size`.
    const int64_t outer = 4 * static_cast<int64_t>(radius) * radius;
    const int64_t inner = 4 * static_cast<int64_t>(solidRadius) * solidRadius;
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            const int64_t dx = 2 * static_cast<int64_t>(x) + 1 - size;
            const int64_t dy = 2 * static_cast<int64_t>(y) + 1 - size;
            const int64_t d2 = dx * dx + dy * dy;
            const int64_t alpha = d2 <= inner ? 255 : d2 >= outer ? 0 : 255 * (outer - d2) / (outer - inner);
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x);
            image.pixels[at] = alpha == 0 ? (hidden & 0x00FFFFFFU) : (static_cast<uint32_t>(alpha) << 24) | rgb;
        }
    }
    return image;
}

// How many visible pixels (alpha above 0) are not `rgb`, within `tolerance`
// per channel: after resampling a SoftDisc, the dark or coloured fringe that
// filtering colour without its alpha leaves around soft edges.
inline size_t CountFringePixels(const Velmora::Image& image, uint32_t rgb, int32_t tolerance) {
    size_t count = 0;
    for (const uint32_t pixel : image.pixels) {
        if ((pixel >> 24) == 0) {
            continue;
        }
        for (int shift = 0; shift < 24; shift += 8) {
            const int32_t have = static_cast<int32_t>((pixel >> shift) & 0xFFU);
            const int32_t want = static_cast<int32_t>((rgb >> shift) & 0xFFU);
            if (have - want > tolerance || want - have > tolerance) {
                ++count;
                break;
            }
        }
    }
    return count;
}

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_SPRITES_H
