#include <gtest/gtest.h>

#include <limits>

#include "velmora_engine.h"

namespace {

using Velmora::PackSprites;
using Velmora::Rect2D;
using Velmora::SpriteFrame;

struct Size {
    int32_t w, h;
};

// Every pixel of frame k is distinct from every other frame's and from the
// empty atlas, so a misplaced or missing copy shows up.
SpriteFrame MakeFrame(size_t k, Size size) {
    SpriteFrame frame{"f" + std::to_string(k), size.w, size.h, {}};
    const size_t count = static_cast<size_t>(size.w) * static_cast<size_t>(size.h);
    for (size_t i = 0; i < count; ++i) {
        frame.pixels.push_back(0x01000000u * static_cast<uint32_t>(k + 1) + static_cast<uint32_t>(i));
    }
    return frame;
}

std::vector<SpriteFrame> MakeFrames(const std::vector<Size>& sizes) {
    std::vector<SpriteFrame> frames;
    for (size_t k = 0; k < sizes.size(); ++k) {
        frames.push_back(MakeFrame(k, sizes[k]));
    }
    return frames;
}

// Row-major index, widened before multiplying.
size_t Index(int32_t x, int32_t y, int32_t width) {
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
}

// The atlas a correct packer must compose for the expected placement.
std::vector<uint32_t> ExpectedAtlas(const std::vector<SpriteFrame>& frames,
                                    const std::vector<Size>& corners, int32_t width, int32_t height) {
    std::vector<uint32_t> atlas(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
    for (size_t k = 0; k < frames.size(); ++k) {
        for (int32_t i = 0; i < frames[k].height; ++i) {
            for (int32_t j = 0; j < frames[k].width; ++j) {
                atlas.at(Index(corners[k].w + j, corners[k].h + i, width)) =
                    frames[k].pixels[Index(j, i, frames[k].width)];
            }
        }
    }
    return atlas;
}

struct LayoutCase {
    const char* name;
    std::vector<Size> sizes;
    int32_t maxWidth;
    std::vector<Size> corners;  // expected (x, y) per frame
    int32_t width, height;
};

// Keeps test listings readable: the case's name instead of its bytes.
void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class PackerLayout : public testing::TestWithParam<LayoutCase> {};

TEST_P(PackerLayout, PlacesFramesAndComposesAtlas) {
    const LayoutCase& c = GetParam();
    const auto frames = MakeFrames(c.sizes);
    int32_t width = -7;
    int32_t height = -7;
    std::vector<Rect2D> rects{{1, 2, 3, 4, "stale"}};
    std::vector<uint32_t> atlas(50000, 0xDEADBEEFu);  // an earlier, larger result

    ASSERT_TRUE(PackSprites(frames, c.maxWidth, width, height, rects, atlas));
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    ASSERT_EQ(rects.size(), frames.size()) << "earlier rectangles must be discarded";
    for (size_t k = 0; k < rects.size(); ++k) {
        EXPECT_EQ(rects[k].x, c.corners[k].w) << "frame " << k;
        EXPECT_EQ(rects[k].y, c.corners[k].h) << "frame " << k;
        EXPECT_EQ(rects[k].w, frames[k].width) << "frame " << k;
        EXPECT_EQ(rects[k].h, frames[k].height) << "frame " << k;
        EXPECT_EQ(rects[k].name, frames[k].name) << "frame " << k;
    }
    EXPECT_TRUE(atlas == ExpectedAtlas(frames, c.corners, c.width, c.height))
        << "atlas must hold exactly the frames, 0 elsewhere, nothing of the old buffer";
}

const LayoutCase kLayouts[] = {
    {"SampleFitsOneRowEndingExactlyAtMax", {{32, 32}, {32, 32}, {32, 32}, {32, 32}}, 128,
     {{0, 0}, {32, 0}, {64, 0}, {96, 0}}, 128, 32},
    {"RowBreaksOnlyPastMaxWidth", {{32, 32}, {32, 32}, {32, 32}, {32, 32}}, 100,
     {{0, 0}, {32, 0}, {64, 0}, {0, 32}}, 96, 64},
    {"MixedHeightsStackBelowTallest", {{40, 20}, {30, 50}, {50, 10}, {70, 30}}, 100,
     {{0, 0}, {40, 0}, {0, 50}, {0, 60}}, 70, 90},
    {"OversizeFrameGetsItsOwnRow", {{32, 32}, {200, 10}, {16, 16}}, 128,
     {{0, 0}, {0, 32}, {0, 42}}, 200, 58},
    {"OversizeFirstFrameStaysAtOrigin", {{200, 10}, {16, 16}}, 128, {{0, 0}, {0, 10}}, 200, 26},
    {"SingleSmallFrameGetsMinimumWidth", {{10, 10}}, 128, {{0, 0}}, 64, 10},
    {"ZeroMaxWidthStacksOneColumn", {{10, 5}, {70, 6}, {20, 7}}, 0, {{0, 0}, {0, 5}, {0, 11}}, 70, 18},
    {"NegativeMaxWidthStacksOneColumn", {{10, 5}, {20, 7}}, -50, {{0, 0}, {0, 5}}, 64, 12},
    {"ZeroWidthFrameStillCountsItsHeight", {{10, 5}, {0, 40}, {10, 5}}, 128,
     {{0, 0}, {10, 0}, {10, 0}}, 64, 40},
    {"ZeroSizedFramesOnly", {{0, 0}, {0, 0}}, 128, {{0, 0}, {0, 0}}, 64, 0},
};

INSTANTIATE_TEST_SUITE_P(Packer, PackerLayout, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Packer, LongerFrameBufferUsesOnlyItsFirstPixels) {
    auto frames = MakeFrames({{2, 2}});
    frames[0].pixels.push_back(0xFFFFFFFFu);
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rect2D> rects;
    std::vector<uint32_t> atlas;
    ASSERT_TRUE(PackSprites(frames, 128, width, height, rects, atlas));
    for (uint32_t pixel : atlas) {
        EXPECT_NE(pixel, 0xFFFFFFFFu);
    }
}

struct RejectCase {
    const char* name;
    std::vector<SpriteFrame> frames;
    int32_t maxWidth;
};

TEST(Packer, RejectedInputLeavesEveryOutputUntouched) {
    const int32_t huge = std::numeric_limits<int32_t>::max();
    auto shortBuffer = MakeFrames({{4, 4}});
    shortBuffer[0].pixels.pop_back();
    const RejectCase cases[] = {
        {"empty frame list", {}, 128},
        {"negative width", {SpriteFrame{"n", -1, 4, {}}}, 128},
        {"negative height", {SpriteFrame{"n", 4, -1, {}}}, 128},
        {"pixels one short of width x height", shortBuffer, 128},
        {"width x height past 32 bits in pixel count", {SpriteFrame{"big", 65536, 65536, {}}}, 128},
        {"rows stacking past 2^31", {SpriteFrame{"a", 0, 1 << 30, {}}, SpriteFrame{"b", 0, 1 << 30, {}},
                                     SpriteFrame{"c", 0, 1, {}}}, 0},
        {"atlas area past 2^31 - 1", {SpriteFrame{"tall", 0, huge, {}}}, 128},
    };
    for (const RejectCase& c : cases) {
        int32_t width = 11;
        int32_t height = 22;
        std::vector<Rect2D> rects{{1, 2, 3, 4, "kept"}};
        std::vector<uint32_t> atlas{7, 8, 9};
        EXPECT_FALSE(PackSprites(c.frames, c.maxWidth, width, height, rects, atlas)) << c.name;
        EXPECT_EQ(width, 11) << c.name;
        EXPECT_EQ(height, 22) << c.name;
        ASSERT_EQ(rects.size(), 1u) << c.name;
        EXPECT_EQ(rects[0].name, "kept") << c.name;
        EXPECT_EQ(atlas, (std::vector<uint32_t>{7, 8, 9})) << c.name;
    }
}

TEST(Packer, FramesAsWideAsTheRangeBreakRowsWithoutWrapping) {
    // Two zero-height frames as wide as the 32-bit range: with maxWidth at the
    // limit the second would wrap the cursor in 32-bit arithmetic.
    const int32_t huge = std::numeric_limits<int32_t>::max();
    std::vector<SpriteFrame> frames{SpriteFrame{"a", huge, 0, {}}, SpriteFrame{"b", huge, 0, {}}};
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rect2D> rects;
    std::vector<uint32_t> atlas;
    ASSERT_TRUE(PackSprites(frames, huge, width, height, rects, atlas))
        << "the second frame breaks the row, so nothing overflows";
    EXPECT_EQ(width, huge);
    EXPECT_EQ(height, 0);
    EXPECT_TRUE(atlas.empty());
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[1].x, 0);
}

}  // namespace
