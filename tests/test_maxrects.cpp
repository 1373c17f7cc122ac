#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "velmora/packing.h"
#include "velmora_engine.h"

namespace {

using Velmora::PackRectsMaxRects;
using Velmora::RectPlacement;
using Velmora::Size2D;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

std::vector<Size2D> RandomSizes(uint32_t seed, size_t count, int32_t lo, int32_t hi) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> side(lo, hi);
    std::vector<Size2D> sizes(count);
    for (Size2D& s : sizes) {
        s.w = side(rng);
        s.h = side(rng);
    }
    return sizes;
}

bool IsPowerOfTwo(int32_t v) {
    return v > 0 && (v & (v - 1)) == 0;
}

// The whole success contract: every rectangle inside the atlas and inside
// the limits, no two overlapping, the atlas no larger than the extents
// (rounded to powers of two when asked).
void ExpectValidPlacement(const std::vector<Size2D>& sizes, const RectPlacement& p, int32_t maxWidth,
                          int32_t maxHeight, bool pot) {
    ASSERT_TRUE(p.fits);
    EXPECT_EQ(p.unplaced, 0u);
    ASSERT_EQ(p.positions.size(), sizes.size());
    EXPECT_LE(p.width, maxWidth);
    EXPECT_LE(p.height, maxHeight);
    int64_t right = 0;
    int64_t bottom = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int64_t x = p.positions[i].x;
        const int64_t y = p.positions[i].y;
        EXPECT_GE(x, 0);
        EXPECT_GE(y, 0);
        EXPECT_LE(x + sizes[i].w, p.width) << "rect " << i;
        EXPECT_LE(y + sizes[i].h, p.height) << "rect " << i;
        right = std::max(right, x + sizes[i].w);
        bottom = std::max(bottom, y + sizes[i].h);
    }
    if (pot) {
        EXPECT_TRUE(IsPowerOfTwo(p.width)) << p.width;
        EXPECT_TRUE(IsPowerOfTwo(p.height)) << p.height;
        EXPECT_LT(p.width / 2, right);
        EXPECT_LT(p.height / 2, bottom);
    } else if (!sizes.empty()) {
        EXPECT_EQ(p.width, right);
        EXPECT_EQ(p.height, bottom);
    }
    for (size_t a = 0; a < sizes.size(); ++a) {
        for (size_t b = a + 1; b < sizes.size(); ++b) {
            const bool apart = p.positions[a].x + sizes[a].w <= p.positions[b].x ||
                               p.positions[b].x + sizes[b].w <= p.positions[a].x ||
                               p.positions[a].y + sizes[a].h <= p.positions[b].y ||
                               p.positions[b].y + sizes[b].h <= p.positions[a].y;
            ASSERT_TRUE(apart) << "rects " << a << " and " << b << " overlap";
        }
    }
}

struct FitCase {
    const char* name;
    std::vector<Size2D> sizes;
    int32_t maxWidth, maxHeight;
    bool pot;
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class MaxRectsFits : public testing::TestWithParam<FitCase> {};

TEST_P(MaxRectsFits, PlacesEveryRectInsideWithoutOverlap) {
    const FitCase& c = GetParam();
    const RectPlacement p = PackRectsMaxRects(c.sizes, c.maxWidth, c.maxHeight, c.pot);
    ExpectValidPlacement(c.sizes, p, c.maxWidth, c.maxHeight, c.pot);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, MaxRectsFits,
    testing::Values(FitCase{"one", {{7, 3}}, 8192, 8192, false},
                    FitCase{"one_pot", {{7, 3}}, 8192, 8192, true},
                    FitCase{"exactly_the_limit", {{100, 50}}, 100, 50, false},
                    FitCase{"one_at_a_pot_limit", {{64, 33}}, 100, 100, true},
                    FitCase{"tall_and_wide", {{1, 500}, {500, 1}, {1, 1}, {499, 499}}, 8192, 8192, false},
                    FitCase{"equal_tiles", std::vector<Size2D>(64, Size2D{16, 16}), 8192, 8192, false},
                    FitCase{"tiles_filling_the_limit", std::vector<Size2D>(16, Size2D{16, 16}), 64, 64, false},
                    FitCase{"tiles_filling_a_pot_limit", std::vector<Size2D>(16, Size2D{16, 16}), 64, 100, true},
                    FitCase{"mixed", RandomSizes(1, 150, 1, 90), 8192, 8192, false},
                    FitCase{"mixed_pot", RandomSizes(2, 150, 1, 90), 8192, 8192, true},
                    FitCase{"contact_rule_range", RandomSizes(3, 40, 5, 60), 8192, 8192, false},
                    FitCase{"narrow_limit", RandomSizes(4, 60, 1, 30), 40, 8192, false},
                    FitCase{"huge_limits", RandomSizes(5, 30, 1, 200), kMax, kMax, true}),
    [](const testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

TEST(MaxRectsTightness, EqualTilesFillARectangleExactly) {
    // 12 tiles of 32 x 32 can fill 3 x 4 or 4 x 3 (or 2 x 6) without waste.
    const std::vector<Size2D> sizes(12, Size2D{32, 32});
    const RectPlacement p = PackRectsMaxRects(sizes, 8192, 8192, false);
    ASSERT_TRUE(p.fits);
    EXPECT_EQ(int64_t{p.width} * p.height, 12 * 32 * 32);
}

TEST(MaxRectsTightness, NoLargerThanTheShelfPacker) {
    // The shelf packer in input order on a mixed set, at the width the
    // MaxRects atlas chose and at a square-ish width.
    const std::vector<Size2D> sizes = RandomSizes(7, 120, 8, 96);
    const RectPlacement p = PackRectsMaxRects(sizes, 8192, 8192, false);
    ASSERT_TRUE(p.fits);
    std::vector<Velmora::SpriteFrame> frames;
    frames.reserve(sizes.size());
    for (const Size2D& s : sizes) {
        frames.push_back(Velmora::SpriteFrame{"f", s.w, s.h, std::vector<uint32_t>(static_cast<size_t>(s.w * s.h))});
    }
    for (const int32_t shelfWidth : {p.width, 600, 1024}) {
        int32_t w = 0;
        int32_t h = 0;
        std::vector<Velmora::Rect2D> rects;
        std::vector<uint32_t> atlas;
        ASSERT_TRUE(Velmora::PackSprites(frames, shelfWidth, w, h, rects, atlas));
        EXPECT_LE(int64_t{p.width} * p.height, int64_t{w} * h) << "shelf width " << shelfWidth;
    }
}

TEST(MaxRectsDeterminism, SameInputSamePlacement) {
    const std::vector<Size2D> sizes = RandomSizes(11, 200, 1, 120);
    const std::vector<Size2D> copy(sizes.begin(), sizes.end());  // another buffer, same values
    const RectPlacement a = PackRectsMaxRects(sizes, 4096, 4096, false);
    const RectPlacement b = PackRectsMaxRects(copy, 4096, 4096, false);
    ASSERT_TRUE(a.fits);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    ASSERT_EQ(a.positions.size(), b.positions.size());
    for (size_t i = 0; i < a.positions.size(); ++i) {
        EXPECT_EQ(a.positions[i].x, b.positions[i].x);
        EXPECT_EQ(a.positions[i].y, b.positions[i].y);
    }
}

// The search's passes may run at once on a caller's threads, in any order:
// the placement, the atlas and the frames left out are those of one loop.
TEST(MaxRectsDeterminism, WorkersNeverChangeTheResult) {
    struct Set {
        std::string name;
        std::vector<Size2D> sizes;
        int32_t maxWidth, maxHeight;
        bool pot;
    };
    const Set sets[] = {
        {"mixed", RandomSizes(21, 150, 1, 90), 8192, 8192, false},
        {"mixed_pot", RandomSizes(22, 150, 1, 90), 8192, 8192, true},
        {"contact_rule_range", RandomSizes(23, 40, 5, 60), 8192, 8192, false},
        {"over_the_contact_limit", RandomSizes(24, 400, 4, 40), 8192, 8192, false},
        {"equal_tiles", std::vector<Size2D>(64, Size2D{16, 16}), 8192, 8192, false},
        {"some_left_out", RandomSizes(25, 80, 10, 60), 200, 200, false},
        {"none_fit_together", std::vector<Size2D>(5, Size2D{60, 60}), 100, 100, true},
    };
    // Runners: one by one in order, backwards, odd passes first, and on
    // real threads.
    using Task = std::function<void(size_t)>;
    const auto inOrder = [](size_t tasks, const Task& task) {
        for (size_t i = 0; i < tasks; ++i) task(i);
    };
    const auto backwards = [](size_t tasks, const Task& task) {
        for (size_t i = tasks; i-- > 0;) task(i);
    };
    // Every later pass sees some passes before it finished and others not.
    const auto oddsFirst = [](size_t tasks, const Task& task) {
        for (size_t i = 1; i < tasks; i += 2) task(i);
        for (size_t i = 0; i < tasks; i += 2) task(i);
    };
    const auto threads = [](size_t tasks, const Task& task) {
        std::vector<std::thread> running;
        for (size_t i = 0; i < tasks; ++i) running.emplace_back(task, i);
        for (std::thread& t : running) t.join();
    };
    const struct {
        const char* name;
        Velmora::Workers workers;
    } runners[] = {{"2 in order", {2, inOrder}},   {"3 backwards", {3, backwards}}, {"7 backwards", {7, backwards}},
                   {"2 odds first", {2, oddsFirst}}, {"2 threads", {2, threads}},     {"4 threads", {4, threads}}};
    std::vector<Set> all(std::begin(sets), std::end(sets));
    // Random sets, some of whose second-round widths depend on which
    // passes one loop would have cut short.
    for (uint32_t seed = 270; seed < 300; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int32_t> count(10, 120);
        all.push_back({"random", RandomSizes(seed, static_cast<size_t>(count(rng)), 1, 80), 8192, 8192, seed % 3 == 0});
    }
    for (const Set& set : all) {
        const RectPlacement alone = PackRectsMaxRects(set.sizes, set.maxWidth, set.maxHeight, set.pot);
        for (const auto& runner : runners) {
            SCOPED_TRACE(set.name + " (" + std::to_string(set.sizes.size()) + "), " + runner.name);
            const RectPlacement p = PackRectsMaxRects(set.sizes, set.maxWidth, set.maxHeight, set.pot, runner.workers);
            EXPECT_EQ(p.fits, alone.fits);
            EXPECT_EQ(p.width, alone.width);
            EXPECT_EQ(p.height, alone.height);
            EXPECT_EQ(p.unplaced, alone.unplaced);
            EXPECT_EQ(p.leftOut, alone.leftOut);
            ASSERT_EQ(p.positions.size(), alone.positions.size());
            for (size_t i = 0; i < p.positions.size(); ++i) {
                EXPECT_EQ(p.positions[i].x, alone.positions[i].x) << i;
                EXPECT_EQ(p.positions[i].y, alone.positions[i].y) << i;
            }
        }
    }
}

// Placements are pinned: work on the packer's speed must not move a frame,
// or every user's next export would shuffle their atlas. The digests were
// taken from the packer before its free-space bookkeeping was reworked.
uint64_t PlacementDigest(const RectPlacement& p) {
    uint64_t h = 14695981039346656037ULL;  // FNV-1a
    const auto mix = [&h](int64_t v) { h = (h ^ static_cast<uint64_t>(v)) * 1099511628211ULL; };
    mix(p.width);
    mix(p.height);
    for (const Velmora::Point2D& q : p.positions) {
        mix(q.x);
        mix(q.y);
    }
    return h;
}

TEST(MaxRectsDeterminism, PlacementsArePinned) {
    const struct {
        uint64_t digest;
        size_t count;
        uint32_t seed;
        int32_t lo;
        int32_t hi;
        int32_t maxWidth;
        int32_t maxHeight;
        int32_t width;
        int32_t height;
        bool pot;
    } cases[] = {
        {0x4b84c06910e3795eULL, 60, 1, 1, 40, 4096, 4096, 142, 184, false},
        {0x17a60c743bfb8639ULL, 200, 2, 8, 256, 4096, 4096, 1297, 2769, false},
        {0x22194ed033732053ULL, 500, 3, 16, 192, 8192, 8192, 2106, 2682, false},
        {0x70be12984f89452fULL, 300, 4, 16, 192, 4096, 4096, 2048, 2048, true},
        {0x9a465cf4bea71f10ULL, 150, 5, 1, 300, 1024, 4096, 1024, 3581, false},
        {0x9100ea2e709636fdULL, 900, 6, 4, 64, 8192, 8192, 763, 1364, false},
        {0x1ec5324445840617ULL, 80, 7, 20, 120, 512, 8192, 512, 1024, true},
        {0xb77a4940c57b7015ULL, 400, 8, 30, 31, 4096, 4096, 696, 549, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        const std::vector<Size2D> sizes = RandomSizes(c.seed, c.count, c.lo, c.hi);
        const RectPlacement p = PackRectsMaxRects(sizes, c.maxWidth, c.maxHeight, c.pot);
        ExpectValidPlacement(sizes, p, c.maxWidth, c.maxHeight, c.pot);
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        EXPECT_EQ(PlacementDigest(p), c.digest);
    }
}

TEST(MaxRectsEdges, EmptyInputFitsInNothing) {
    const RectPlacement p = PackRectsMaxRects({}, 64, 64, true);
    EXPECT_TRUE(p.fits);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
    EXPECT_TRUE(p.positions.empty());
}

struct FailCase {
    const char* name;
    std::vector<Size2D> sizes;
    int32_t maxWidth, maxHeight;
    bool pot;
    size_t unplaced;
    std::vector<size_t> leftOut;  // which sizes, so a message can name them
};

void PrintTo(const FailCase& c, std::ostream* os) {
    *os << c.name;
}

class MaxRectsFails : public testing::TestWithParam<FailCase> {};

TEST_P(MaxRectsFails, CountsWhatDidNotFit) {
    const FailCase& c = GetParam();
    const RectPlacement p = PackRectsMaxRects(c.sizes, c.maxWidth, c.maxHeight, c.pot);
    EXPECT_FALSE(p.fits);
    EXPECT_EQ(p.unplaced, c.unplaced);
    EXPECT_EQ(p.leftOut, c.leftOut);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 0);
    EXPECT_TRUE(p.positions.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaxRectsFails,
    testing::Values(
        // 16 tiles of 16 x 16 fill 64 x 64 exactly; 3 more cannot go anywhere.
        FailCase{"three_too_many", std::vector<Size2D>(19, Size2D{16, 16}), 64, 64, false, 3, {16, 17, 18}},
        // Only a 64 x 64 power of two fits under 100 x 100.
        FailCase{"pot_limit_is_smaller", std::vector<Size2D>(20, Size2D{16, 16}), 100, 100, true, 4, {16, 17, 18, 19}},
        FailCase{"zero_width", {{0, 5}, {5, 5}}, 64, 64, false, 1, {0}},
        FailCase{"negative_height", {{5, -5}, {5, 5}, {3, 3}}, 64, 64, false, 1, {0}},
        FailCase{"wider_than_the_limit", {{65, 5}, {5, 5}}, 64, 64, false, 1, {0}},
        FailCase{"taller_than_the_pot_limit", {{5, 65}}, 100, 100, true, 1, {0}},
        FailCase{"invalid_and_too_many", {{0, 0}, {64, 64}, {64, 64}}, 64, 64, false, 2, {0, 2}},
        FailCase{"zero_limit", {{1, 1}, {2, 2}}, 0, 64, false, 2, {0, 1}},
        FailCase{"negative_limit", {{1, 1}}, 64, -1, false, 1, {0}},
        FailCase{"extreme_sizes", {{kMax, kMax}, {std::numeric_limits<int32_t>::min(), 1}}, 8192, 8192, false, 2, {0, 1}}),
    [](const testing::TestParamInfo<FailCase>& info) { return std::string(info.param.name); });

}  // namespace
