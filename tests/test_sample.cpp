#include <gtest/gtest.h>

#include "velmora_engine.h"

namespace {

using Velmora::CreateSampleSprites;
using Velmora::SpriteFrame;

uint32_t PixelAt(const SpriteFrame& frame, int x, int y) {
    return frame.pixels.at(static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x));
}

TEST(SampleSprites, FourNamedFramesOf32By32) {
    const auto frames = CreateSampleSprites();
    ASSERT_EQ(frames.size(), 4u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].name, "hero_walk_" + std::to_string(i));
        EXPECT_EQ(frames[i].width, 32);
        EXPECT_EQ(frames[i].height, 32);
        EXPECT_EQ(frames[i].pixels.size(), 1024u);
    }
}

TEST(SampleSprites, PaintedPixelsByRegion) {
    struct Case {
        int frame, x, y;
        uint32_t expected;
        const char* why;
    };
    const Case cases[] = {
        {0, 15, 0, 0x00000000u, "rows 0-1 are background"},
        {0, 12, 2, 0xFFE0C090u, "head top-left corner"},
        {0, 19, 7, 0xFFE0C090u, "head bottom-right corner"},
        {0, 11, 7, 0x00000000u, "beside the head, above the body"},
        {0, 10, 8, 0xFF3030D0u, "body top-left corner"},
        {0, 21, 23, 0xFF3030D0u, "body bottom-right corner"},
        {0, 21, 29, 0xFF505050u, "even frames: right leg on the body's edge"},
        {1, 21, 29, 0x00000000u, "odd frames: legs moved inward"},
        {0, 14, 24, 0x00000000u, "even frames: no inner leg"},
        {1, 14, 24, 0xFF505050u, "odd frames: left leg at column 14"},
        {3, 17, 29, 0xFF505050u, "odd frames: right leg at column 17"},
        {2, 10, 24, 0xFF505050u, "frame 2 stands like frame 0"},
        {0, 15, 24, 0x00000000u, "gap between the legs"},
        {1, 15, 24, 0x00000000u, "gap between the legs"},
        {0, 10, 30, 0x00000000u, "legs end at row 29"},
    };
    const auto frames = CreateSampleSprites();
    for (const Case& c : cases) {
        EXPECT_EQ(PixelAt(frames[static_cast<size_t>(c.frame)], c.x, c.y), c.expected)
            << "frame " << c.frame << " (" << c.x << ", " << c.y << "): " << c.why;
    }
}

TEST(SampleSprites, AlphaIsAllOrNothingWith252OpaquePixels) {
    for (const SpriteFrame& frame : CreateSampleSprites()) {
        int opaque = 0;
        for (uint32_t pixel : frame.pixels) {
            const uint32_t alpha = pixel >> 24;
            ASSERT_TRUE(alpha == 0 || alpha == 255) << frame.name;
            if (alpha == 255) {
                ++opaque;
            } else {
                EXPECT_EQ(pixel, 0u) << frame.name << ": transparent pixels carry no colour";
            }
        }
        EXPECT_EQ(opaque, 252) << frame.name;
    }
}

TEST(SampleSprites, PosesAlternateByParity) {
    const auto frames = CreateSampleSprites();
    EXPECT_EQ(frames[0].pixels, frames[2].pixels);
    EXPECT_EQ(frames[1].pixels, frames[3].pixels);
    int gone = 0;
    int appeared = 0;
    for (size_t i = 0; i < frames[0].pixels.size(); ++i) {
        const uint32_t before = frames[0].pixels[i];
        const uint32_t after = frames[1].pixels[i];
        if (before == after) {
            continue;
        }
        const int x = static_cast<int>(i % 32);
        const int y = static_cast<int>(i / 32);
        EXPECT_TRUE(y >= 24 && y <= 29 && (x == 10 || x == 21 || x == 14 || x == 17))
            << "only leg pixels may differ, not (" << x << ", " << y << ")";
        (before == 0 ? appeared : gone)++;
    }
    EXPECT_EQ(gone, 12);
    EXPECT_EQ(appeared, 12);
}

TEST(SampleSprites, EveryCallBuildsTheSameSet) {
    const auto first = CreateSampleSprites();
    const auto second = CreateSampleSprites();
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].name, second[i].name);
        EXPECT_EQ(first[i].pixels, second[i].pixels);
    }
}

}  // namespace
