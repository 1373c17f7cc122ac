#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "reference_outline.h"
#include "velmora_engine.h"

namespace {

using Velmora::GenerateCollisionHull;
using Velmora::Point2D;
using Points = std::vector<std::pair<int32_t, int32_t>>;

Points AsPairs(const std::vector<Point2D>& points) {
    Points pairs;
    for (const Point2D& p : points) {
        pairs.emplace_back(p.x, p.y);
    }
    return pairs;
}

// A width x height frame of `background` with the block [x0,x1] x [y0,y1] set to `fill`.
std::vector<uint32_t> Block(int32_t width, int32_t height, int32_t x0, int32_t x1, int32_t y0,
                            int32_t y1, uint32_t fill, uint32_t background = 0) {
    std::vector<uint32_t> pixels(static_cast<size_t>(width * height), background);
    for (int32_t y = y0; y <= y1; ++y) {
        for (int32_t x = x0; x <= x1; ++x) {
            pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = fill;
        }
    }
    return pixels;
}

struct TraceCase {
    const char* name;
    std::vector<uint32_t> pixels;
    int32_t width, height;
    uint8_t threshold;
    int32_t step;
    Points expected;
};

TEST(Tracer, PassesVisitLinesInClockwiseOrder) {
    const auto block = Block(6, 5, 1, 4, 1, 3, 0xFF000000u);
    const auto frame0 = Velmora::CreateSampleSprites()[0];
    const TraceCase cases[] = {
        {"block, step 2", block, 6, 5, 1, 2, {{2, 1}, {4, 1}, {4, 2}, {3, 3}, {1, 3}, {1, 2}}},
        {"block, step 1: corners listed twice", block, 6, 5, 1, 1,
         {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 1}, {4, 2}, {4, 3},
          {4, 3}, {3, 3}, {2, 3}, {1, 3}, {1, 3}, {1, 2}, {1, 1}}},
        {"threshold 0: every pixel solid", block, 6, 5, 0, 2,
         {{0, 0}, {2, 0}, {4, 0}, {5, 0}, {5, 2}, {5, 4}, {5, 4}, {3, 4}, {1, 4}, {0, 4}, {0, 2}, {0, 0}}},
        {"alpha equal to threshold is solid", std::vector<uint32_t>(4, 0x0A000000u), 2, 2, 10, 1,
         {{0, 0}, {1, 0}, {1, 0}, {1, 1}, {1, 1}, {0, 1}, {0, 1}, {0, 0}}},
        {"alpha below threshold is not", std::vector<uint32_t>(4, 0x0A000000u), 2, 2, 11, 1, {}},
        {"colour never counts", std::vector<uint32_t>(4, 0x00FFFFFFu), 2, 2, 1, 1, {}},
        {"step past both sizes: one line per pass", block, 6, 5, 0, 100, {{0, 0}, {5, 0}, {5, 4}, {0, 4}}},
        {"sample frame 0 as exported", frame0.pixels, 32, 32, 10, 2,
         {{10, 8}, {12, 2}, {14, 2}, {16, 2}, {18, 2}, {20, 8},
          {19, 2}, {19, 4}, {19, 6}, {21, 8}, {21, 10}, {21, 12}, {21, 14}, {21, 16}, {21, 18},
          {21, 20}, {21, 22}, {21, 24}, {21, 26}, {21, 28},
          {21, 29}, {19, 23}, {17, 23}, {15, 23}, {13, 23}, {11, 23},
          {10, 29}, {10, 27}, {10, 25}, {10, 23}, {10, 21}, {10, 19}, {10, 17}, {10, 15},
          {10, 13}, {10, 11}, {10, 9}, {12, 7}, {12, 5}, {12, 3}}},
    };
    for (const TraceCase& c : cases) {
        EXPECT_EQ(AsPairs(GenerateCollisionHull(c.pixels, c.width, c.height, c.threshold, c.step)),
                  c.expected)
            << c.name;
    }
}

TEST(Tracer, RejectedInputGivesEmptyResult) {
    const std::vector<uint32_t> solid(64, 0xFFFFFFFFu);
    struct Case {
        const char* name;
        int32_t width, height, step;
        size_t pixels;
    };
    const Case cases[] = {
        {"zero width", 0, 8, 1, 64},
        {"zero height", 8, 0, 1, 64},
        {"negative sizes", -8, -8, 1, 64},
        {"buffer one short", 8, 8, 1, 63},
        {"pixel count past 32 bits", 65536, 65536, 1, 64},
        {"pixel count past 2^31 - 1", 2, 1 << 30, 1, 64},
        {"step 0 would never advance", 8, 8, 0, 64},
        {"negative step would leave the frame", 8, 8, -2, 64},
        {"lowest step", 8, 8, std::numeric_limits<int32_t>::min(), 64},
    };
    for (const Case& c : cases) {
        const std::vector<uint32_t> pixels(solid.begin(), solid.begin() + static_cast<long>(c.pixels));
        EXPECT_TRUE(GenerateCollisionHull(pixels, c.width, c.height, 1, c.step).empty()) << c.name;
    }
    for (int threshold = 1; threshold <= 255; ++threshold) {
        EXPECT_TRUE(GenerateCollisionHull(std::vector<uint32_t>(64, 0x00FFFFFFu), 8, 8,
                                          static_cast<uint8_t>(threshold), 1)
                        .empty())
            << "fully transparent frame, threshold " << threshold;
    }
}

TEST(Tracer, HugeStepDoesNotOverflowTheLineCounter) {
    const std::vector<uint32_t> solid(9, 0xFF000000u);
    EXPECT_EQ(AsPairs(GenerateCollisionHull(solid, 3, 3, 1, std::numeric_limits<int32_t>::max())),
              (Points{{0, 0}, {2, 0}, {2, 2}, {0, 2}}));
}

TEST(Tracer, LongerBufferReadsOnlyTheFrame) {
    auto pixels = Block(4, 4, 1, 2, 1, 2, 0xFF000000u);
    pixels.resize(100, 0xFF000000u);  // solid pixels past the frame must be ignored
    EXPECT_EQ(AsPairs(GenerateCollisionHull(pixels, 4, 4, 1, 1)),
              (Points{{1, 1}, {2, 1}, {2, 1}, {2, 2}, {2, 2}, {1, 2}, {1, 2}, {1, 1}}));
}

// Reference: each pass walks its scan lines one pixel at a time, exactly as
// the outline is defined (the model fuzz/fuzz_tracer.cpp checks against too);
// the engine sweeps column passes row by row instead.
Points ReferenceTrace(const std::vector<uint32_t>& px, int32_t w, int32_t h, uint8_t t, int32_t s) {
    Points out;
    for (const VelmoraTest::OutlinePoint& traced : VelmoraTest::ReferenceOutline(px, w, h, t, s)) {
        out.emplace_back(traced.point.x, traced.point.y);
    }
    return out;
}

TEST(Tracer, MatchesPixelByPixelReferenceOnRandomFrames) {
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t w = 1 + static_cast<int32_t>(rng() % 40);
        const int32_t h = 1 + static_cast<int32_t>(rng() % 40);
        const int32_t step = 1 + static_cast<int32_t>(rng() % 7);
        const uint8_t threshold = static_cast<uint8_t>(rng() % 256);
        const uint32_t density = static_cast<uint32_t>(rng() % 100);  // sparse to dense silhouettes
        std::vector<uint32_t> pixels(static_cast<size_t>(w * h));
        for (uint32_t& p : pixels) {
            p = static_cast<uint32_t>((rng() % 100 < density) ? (rng() | 0x01000000u) : (rng() & 0x00FFFFFFu));
        }
        ASSERT_EQ(AsPairs(GenerateCollisionHull(pixels, w, h, threshold, step)),
                  ReferenceTrace(pixels, w, h, threshold, step))
            << "trial " << trial << ": " << w << "x" << h << " step " << step;
    }
}

}  // namespace
