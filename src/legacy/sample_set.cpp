// The procedural sample set: the only sprite source of the tool.
#include "velmora_engine.h"

#include <cstddef>

namespace Velmora {
namespace {

constexpr int32_t kFrameSize = 32;
constexpr int kFrameCount = 4;

constexpr Pixel kHead = 0xFFE0C090u;
constexpr Pixel kBody = 0xFF3030D0u;
constexpr Pixel kLeg = 0xFF505050u;

// Paints the inclusive block [x0, x1] x [y0, y1] of a 32-wide frame.
void FillBlock(std::vector<Pixel>& pixels, int32_t x0, int32_t x1, int32_t y0, int32_t y1,
               Pixel value) {
    for (int32_t y = y0; y <= y1; ++y) {
        for (int32_t x = x0; x <= x1; ++x) {
            pixels[static_cast<size_t>(y) * kFrameSize + static_cast<size_t>(x)] = value;
        }
    }
}

}  // namespace

std::vector<SpriteFrame> CreateSampleSprites() {
    std::vector<SpriteFrame> frames;
    frames.reserve(kFrameCount);
    for (int i = 0; i < kFrameCount; ++i) {
        SpriteFrame frame;
        frame.name = "hero_walk_" + std::to_string(i);
        frame.width = kFrameSize;
        frame.height = kFrameSize;
        frame.pixels.assign(static_cast<size_t>(kFrameSize) * kFrameSize, 0u);

        FillBlock(frame.pixels, 10, 21, 8, 23, kBody);
        FillBlock(frame.pixels, 12, 19, 2, 7, kHead);
        // Even frames stand with legs apart, odd frames mid-stride.
        const int32_t leftLeg = (i % 2 == 0) ? 10 : 14;
        const int32_t rightLeg = (i % 2 == 0) ? 21 : 17;
        FillBlock(frame.pixels, leftLeg, leftLeg, 24, 29, kLeg);
        FillBlock(frame.pixels, rightLeg, rightLeg, 24, 29, kLeg);

        frames.push_back(std::move(frame));
    }
    return frames;
}

}  // namespace Velmora
