// Atlas planning from sizes: the shelf packer's row rules and the cell
// geometry (padding, extrusion, power-of-two sides, limits) both packers
// share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "velmora/packing.h"

namespace {

using Velmora::AtlasGeometry;
using Velmora::AtlasPlan;
using Velmora::PackerKind;
using Velmora::PlanFailure;
using Velmora::Point2D;
using Velmora::RectPlacement;
using Velmora::Size2D;

TEST(ShelfPlanner, RowsBreakOnlyPastTheRowWidth) {
    struct Case {
        const char* what;
        std::vector<Size2D> sizes;
        int32_t rowWidth;
        std::vector<Point2D> positions;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {
        {"ending exactly at the row width stays on the row", {{60, 10}, {40, 20}}, 100, {{0, 0}, {60, 0}}, 100, 20},
        {"one pixel past starts a row below the tallest", {{60, 10}, {41, 5}, {10, 7}}, 100,
         {{0, 0}, {0, 10}, {41, 10}}, 64, 17},
        {"a rectangle wider than the row sits alone", {{10, 4}, {300, 6}, {10, 3}}, 100,
         {{0, 0}, {0, 4}, {0, 10}}, 300, 13},
        {"a narrow atlas is still 64 wide", {{8, 8}, {8, 8}}, 100, {{0, 0}, {8, 0}}, 64, 8},
        {"empty sizes and rows of nothing", {{0, 0}, {0, 5}}, 1, {{0, 0}, {0, 0}}, 64, 5},
        {"no sizes at all", {}, 100, {}, 64, 0},
    };
    for (const Case& c : cases) {
        const RectPlacement placement = Velmora::PackRectsShelf(c.sizes, c.rowWidth);
        ASSERT_TRUE(placement.fits) << c.what;
        ASSERT_EQ(placement.positions.size(), c.positions.size()) << c.what;
        for (size_t i = 0; i < c.positions.size(); ++i) {
            EXPECT_EQ(placement.positions[i].x, c.positions[i].x) << c.what << ", rectangle " << i;
            EXPECT_EQ(placement.positions[i].y, c.positions[i].y) << c.what << ", rectangle " << i;
        }
        EXPECT_EQ(placement.width, c.width) << c.what;
        EXPECT_EQ(placement.height, c.height) << c.what;
        EXPECT_EQ(placement.unplaced, 0U) << c.what;
    }
}

TEST(ShelfPlanner, RefusesNegativeSizesAndAtlasesBeyond32Bits) {
    const struct {
        const char* what;
        std::vector<Size2D> sizes;
    } cases[] = {
        {"negative width", {{4, 4}, {-1, 4}}},
        {"negative height", {{4, -4}}},
        {"rows stacked past 2^31 - 1", {{10, 2000000000}, {10, 2000000000}}},
        {"64 x 40000000 is past 2^31 - 1 pixels", {{64, 40000000}}},
    };
    for (const auto& c : cases) {
        const RectPlacement placement = Velmora::PackRectsShelf(c.sizes, 8);
        EXPECT_FALSE(placement.fits) << c.what;
        EXPECT_TRUE(placement.positions.empty()) << c.what;
        EXPECT_EQ(placement.width, 0) << c.what;
        EXPECT_EQ(placement.height, 0) << c.what;
        EXPECT_EQ(placement.unplaced, c.sizes.size()) << c.what;
    }
}

// Every frame with its extrusion inside the atlas, `padding` away from the
// atlas's edges and from every other frame's extrusion.
void ExpectSpacedOut(const std::vector<Size2D>& frames, const AtlasGeometry& geometry, const AtlasPlan& plan,
                     const std::string& what) {
    ASSERT_EQ(plan.positions.size(), frames.size()) << what;
    const int64_t e = geometry.extrude;
    const int64_t p = geometry.padding;
    for (size_t i = 0; i < frames.size(); ++i) {
        const int64_t left = plan.positions[i].x - e;
        const int64_t top = plan.positions[i].y - e;
        const int64_t right = plan.positions[i].x + frames[i].w + e;
        const int64_t bottom = plan.positions[i].y + frames[i].h + e;
        EXPECT_GE(left, p) << what << ": frame " << i << " too near the left edge";
        EXPECT_GE(top, p) << what << ": frame " << i << " too near the top edge";
        EXPECT_LE(right, plan.width - p) << what << ": frame " << i << " too near the right edge";
        EXPECT_LE(bottom, plan.height - p) << what << ": frame " << i << " too near the bottom edge";
        for (size_t j = i + 1; j < frames.size(); ++j) {
            const int64_t left2 = plan.positions[j].x - e;
            const int64_t top2 = plan.positions[j].y - e;
            const int64_t right2 = plan.positions[j].x + frames[j].w + e;
            const int64_t bottom2 = plan.positions[j].y + frames[j].h + e;
            const bool apart = right + p <= left2 || right2 + p <= left || bottom + p <= top2 || bottom2 + p <= top;
            EXPECT_TRUE(apart) << what << ": frames " << i << " and " << j << " closer than the padding";
        }
    }
}

bool IsPowerOfTwo(int32_t value) { return value > 0 && (value & (value - 1)) == 0; }

TEST(AtlasPlan, CellsKeepPaddingAndExtrusionAroundEveryFrameWithBothPackers) {
    const std::vector<Size2D> frames = {{30, 20}, {12, 40}, {25, 25}, {1, 1}, {50, 8}};
    struct Case {
        const char* what;
        AtlasGeometry geometry;
    };
    const Case cases[] = {
        {"bare", {0, 0, false, 8192, 8192}},
        {"padding", {3, 0, false, 8192, 8192}},
        {"extrusion", {0, 2, false, 8192, 8192}},
        {"padding and extrusion", {4, 1, false, 8192, 8192}},
        {"power of two", {2, 1, true, 8192, 8192}},
    };
    for (const Case& c : cases) {
        for (const PackerKind packer : {PackerKind::MaxRects, PackerKind::Shelf}) {
            const std::string what =
                std::string(c.what) + (packer == PackerKind::Shelf ? " (shelf)" : " (maxrects)");
            const AtlasPlan plan = Velmora::PlanAtlas(frames, c.geometry, packer, 100);
            ASSERT_EQ(plan.failure, PlanFailure::None) << what;
            ExpectSpacedOut(frames, c.geometry, plan, what);
            if (c.geometry.powerOfTwo) {
                EXPECT_TRUE(IsPowerOfTwo(plan.width) && IsPowerOfTwo(plan.height))
                    << what << ": " << plan.width << "x" << plan.height;
                continue;
            }
            // Without rounding the atlas ends exactly `padding` past the
            // farthest frame on at least one side each way: nothing wasted.
            int64_t right = 0;
            int64_t bottom = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                right = std::max<int64_t>(right, plan.positions[i].x + frames[i].w + c.geometry.extrude);
                bottom = std::max<int64_t>(bottom, plan.positions[i].y + frames[i].h + c.geometry.extrude);
            }
            if (packer == PackerKind::MaxRects) {
                EXPECT_EQ(plan.width, right + c.geometry.padding) << what;
            } else {
                EXPECT_EQ(plan.width, std::max<int64_t>(right + c.geometry.padding, 64 + c.geometry.padding))
                    << what;
            }
            EXPECT_EQ(plan.height, bottom + c.geometry.padding) << what;
        }
    }
}

TEST(AtlasPlan, ShelfRowsCountTheCellsNotTheFrames) {
    // Cells of 10 + 2 * 1 + 2 = 14: seven fill a row of 100 (98), the
    // eighth starts the next one.
    const std::vector<Size2D> frames(8, Size2D{10, 10});
    const AtlasPlan plan = Velmora::PlanAtlas(frames, AtlasGeometry{2, 1, false, 8192, 8192}, PackerKind::Shelf, 100);
    ASSERT_EQ(plan.failure, PlanFailure::None);
    EXPECT_EQ(plan.positions[6].x, 3 + 6 * 14);
    EXPECT_EQ(plan.positions[6].y, 3);
    EXPECT_EQ(plan.positions[7].x, 3);
    EXPECT_EQ(plan.positions[7].y, 3 + 14);
}

TEST(AtlasPlan, RefusalsSayWhyAndWhichFramesAreLeftOut) {
    struct Case {
        const char* what;
        std::vector<Size2D> frames;
        AtlasGeometry geometry;
        PackerKind packer;
        PlanFailure failure;
        std::vector<size_t> leftOut;
    };
    const Case cases[] = {
        {"a frame larger than the limit", {{10, 10}, {90, 10}}, {0, 0, false, 64, 64}, PackerKind::MaxRects,
         PlanFailure::FramesOutside, {1}},
        {"padding fills the limit", {{1, 1}}, {64, 0, false, 64, 64}, PackerKind::MaxRects, PlanFailure::NoRoom, {}},
        {"padding fills the limit (shelf)", {{1, 1}}, {64, 0, false, 64, 64}, PackerKind::Shelf, PlanFailure::NoRoom,
         {}},
        // Nothing to pack still needs the padding's room.
        {"no frames, padding taller than the limit", {}, {7, 0, true, 249, 1}, PackerKind::Shelf, PlanFailure::NoRoom,
         {}},
        {"power of two shrinks the limit below the frames", {{70, 10}}, {0, 0, true, 100, 100},
         PackerKind::MaxRects, PlanFailure::FramesOutside, {0}},
        {"shelf rows past the limit", {{30, 40}, {30, 40}, {30, 40}}, {0, 0, false, 64, 64}, PackerKind::Shelf,
         PlanFailure::FramesOutside, {2}},
        {"the shelf is 64 wide at least", {{8, 8}}, {0, 0, false, 50, 50}, PackerKind::Shelf,
         PlanFailure::ShelfTooWide, {}},
        {"the padding before the shelf counts", {{60, 8}}, {5, 0, false, 64, 64}, PackerKind::Shelf,
         PlanFailure::FramesOutside, {0}},
        {"frames that fit alone but not together", {{60, 60}, {30, 30}, {30, 30}}, {0, 0, false, 64, 64},
         PackerKind::MaxRects, PlanFailure::FramesOutside, {1, 2}},
    };
    for (const Case& c : cases) {
        // Shelf rows are 64 wide here: two 30 x 40 cells fill the first,
        // the third starts a row that ends 80 pixels down.
        const AtlasPlan plan = Velmora::PlanAtlas(c.frames, c.geometry, c.packer, 64);
        EXPECT_EQ(plan.failure, c.failure) << c.what;
        EXPECT_EQ(plan.leftOut, c.leftOut) << c.what;
        EXPECT_EQ(plan.unplaced, c.leftOut.size()) << c.what;
        EXPECT_TRUE(plan.positions.empty()) << c.what;
        EXPECT_EQ(plan.width, 0) << c.what;
    }
    EXPECT_EQ(Velmora::AtlasLimit(AtlasGeometry{0, 0, true, 100, 8192}).w, 64);
    EXPECT_EQ(Velmora::AtlasLimit(AtlasGeometry{0, 0, true, 100, 8192}).h, 8192);
    EXPECT_EQ(Velmora::AtlasLimit(AtlasGeometry{0, 0, false, 100, 90}).h, 90);
}

// ---------------------------------------------------------------------------
// Pages

using Velmora::PagesFailure;
using Velmora::PagesPlan;

// Every frame on exactly one page, each page a valid, spaced-out plan of
// its own frames within the limit, and the page counts adding up.
void ExpectWellFormed(const std::vector<Size2D>& frames, const AtlasGeometry& geometry, const PagesPlan& plan,
                      const std::string& what) {
    ASSERT_EQ(plan.failure, PagesFailure::None) << what;
    ASSERT_EQ(plan.pageOf.size(), frames.size()) << what;
    ASSERT_EQ(plan.frames.size(), plan.pages.size()) << what;
    ASSERT_EQ(plan.continues.size(), plan.pages.size()) << what;
    const Size2D limit = Velmora::AtlasLimit(geometry);
    for (size_t p = 0; p < plan.pages.size(); ++p) {
        std::vector<Size2D> own;
        AtlasPlan page = plan.pages[p];
        std::vector<Point2D> positions(plan.frames[p]);
        std::vector<bool> seen(plan.frames[p], false);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (plan.pageOf[i] != p) continue;
            ASSERT_LT(plan.indexOnPage[i], plan.frames[p]) << what;
            EXPECT_FALSE(seen[plan.indexOnPage[i]]) << what << ": two frames at one index of page " << p;
            seen[plan.indexOnPage[i]] = true;
            own.push_back(frames[i]);
        }
        ASSERT_EQ(own.size(), plan.frames[p]) << what << ": page " << p;
        EXPECT_GT(own.size(), 0U) << what << ": page " << p << " is empty";
        EXPECT_LE(page.width, limit.w) << what;
        EXPECT_LE(page.height, limit.h) << what;
        // Frames on a page keep input order, so the page's own plan lists
        // them in that order.
        ExpectSpacedOut(own, geometry, page, what + ", page " + std::to_string(p));
    }
}

TEST(PlanPages, SpreadsFramesThatDoNotFitOnePageOverAsFewPagesAsItFinds) {
    struct Case {
        const char* what;
        std::vector<Size2D> frames;
        AtlasGeometry geometry;
        PackerKind packer;
        size_t pages;
    };
    const Case cases[] = {
        {"one page is today's atlas", {{30, 20}, {12, 40}, {25, 25}}, {0, 0, false, 64, 64}, PackerKind::MaxRects, 1},
        {"16 tiles fill a page, 3 start the next", std::vector<Size2D>(19, Size2D{16, 16}), {0, 0, false, 64, 64},
         PackerKind::MaxRects, 2},
        {"exactly two pages", std::vector<Size2D>(32, Size2D{16, 16}), {0, 0, false, 64, 64}, PackerKind::MaxRects, 2},
        {"padding and extrusion count", std::vector<Size2D>(10, Size2D{20, 20}), {2, 1, false, 64, 64},
         PackerKind::MaxRects, 3},
        {"power of two", std::vector<Size2D>(20, Size2D{16, 16}), {0, 0, true, 100, 100}, PackerKind::MaxRects, 2},
        {"shelf rows over pages", std::vector<Size2D>(9, Size2D{30, 40}), {0, 0, false, 64, 64}, PackerKind::Shelf, 5},
        {"mixed sizes", {{60, 60}, {30, 30}, {30, 30}, {10, 50}, {50, 10}, {64, 64}}, {0, 0, false, 64, 64},
         PackerKind::MaxRects, 4},
    };
    for (const Case& c : cases) {
        const PagesPlan plan = Velmora::PlanPages(c.frames, {}, c.geometry, c.packer, 64, 0);
        ExpectWellFormed(c.frames, c.geometry, plan, c.what);
        EXPECT_EQ(plan.pages.size(), c.pages) << c.what;
        if (c.pages == 1) {
            const AtlasPlan single = Velmora::PlanAtlas(c.frames, c.geometry, c.packer, 64);
            EXPECT_EQ(plan.pages[0].width, single.width) << c.what;
            EXPECT_EQ(plan.pages[0].height, single.height) << c.what;
        }
        for (const int64_t continues : plan.continues) {
            EXPECT_EQ(continues, -1) << c.what;
        }
    }
}

// A frame keeps its page across runs unless it no longer fits there: a
// frame that changes page breaks every reference an engine holds to it.
TEST(PlanPages, FramesStayOnTheirEarlierPageWhereTheyCan) {
    const AtlasGeometry geometry{0, 0, false, 64, 64};
    std::vector<Size2D> frames(40, Size2D{16, 16});
    frames[5] = Size2D{32, 32};
    frames[23] = Size2D{8, 40};
    const PagesPlan first = Velmora::PlanPages(frames, {}, geometry, PackerKind::MaxRects, 64, 0);
    ExpectWellFormed(frames, geometry, first, "first run");
    ASSERT_GE(first.pages.size(), 3U);

    struct Case {
        const char* what;
        std::vector<size_t> added;  // where new frames go in the name order
        Size2D size;
    };
    const Case cases[] = {
        {"one new frame first", {0}, {16, 16}},
        {"new frames in between", {3, 17, 30}, {16, 16}},
        {"a large new frame", {10}, {48, 48}},
        {"many new frames", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}, {16, 16}},
    };
    for (const Case& c : cases) {
        std::vector<Size2D> sizes;
        std::vector<int64_t> previous;
        std::vector<int64_t> oldIndex;
        size_t next = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            while (next < c.added.size() && c.added[next] == i) {
                sizes.push_back(c.size);
                previous.push_back(-1);
                oldIndex.push_back(-1);
                ++next;
            }
            sizes.push_back(frames[i]);
            previous.push_back(static_cast<int64_t>(first.pageOf[i]));
            oldIndex.push_back(static_cast<int64_t>(i));
        }
        const PagesPlan again = Velmora::PlanPages(sizes, previous, geometry, PackerKind::MaxRects, 64, 0);
        ExpectWellFormed(sizes, geometry, again, c.what);
        for (size_t i = 0; i < sizes.size(); ++i) {
            if (oldIndex[i] < 0) continue;
            const size_t page = again.pageOf[i];
            EXPECT_EQ(again.continues[page], previous[i]) << c.what << ": frame " << oldIndex[i] << " moved";
        }
    }

    // A smaller limit: the earlier pages cannot hold their frames any more,
    // so some move, and only as many as must.
    const AtlasGeometry smaller{0, 0, false, 48, 48};
    std::vector<int64_t> previous(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        previous[i] = static_cast<int64_t>(first.pageOf[i]);
    }
    const PagesPlan shrunk = Velmora::PlanPages(frames, previous, smaller, PackerKind::MaxRects, 64, 0);
    ExpectWellFormed(frames, smaller, shrunk, "smaller limit");
    size_t stayed = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        stayed += shrunk.continues[shrunk.pageOf[i]] == previous[i] ? 1 : 0;
    }
    // A 48 x 48 page holds at least four of these frames whichever they are.
    EXPECT_GE(stayed, 4U * first.pages.size());
    EXPECT_LT(stayed, frames.size());
}

TEST(PlanPages, KeepsAPagesIdentityWhenAnEarlierPageEmpties) {
    const AtlasGeometry geometry{0, 0, false, 32, 32};
    // Earlier pages 0, 1 and 2; every frame of page 1 is gone.
    const std::vector<Size2D> frames = {{32, 32}, {32, 32}};
    const PagesPlan plan = Velmora::PlanPages(frames, {0, 2}, geometry, PackerKind::MaxRects, 64, 0);
    ExpectWellFormed(frames, geometry, plan, "page 1 emptied");
    EXPECT_EQ(plan.continues, (std::vector<int64_t>{0, 2}));
    EXPECT_EQ(plan.pageOf, (std::vector<size_t>{0, 1}));
}

// Shelf rows in frame order: the new large frames come first, and the page
// filled for earlier page 0 ends up holding none of its small frames. That
// page must not carry on page 0; the page its frames went to does.
TEST(PlanPages, APageCarriesOnOnlyAnEarlierPageWhoseFramesItHolds) {
    const AtlasGeometry geometry{2, 2, false, 256, 256};
    std::vector<Size2D> frames = {{128, 128}, {128, 128}, {128, 128}, {128, 54}, {18, 7}};
    frames.resize(16, Size2D{1, 1});
    std::vector<int64_t> previous(16, 0);
    std::fill(previous.begin(), previous.begin() + 4, -1);
    const PagesPlan plan = Velmora::PlanPages(frames, previous, geometry, PackerKind::Shelf, 512, 0);
    ExpectWellFormed(frames, geometry, plan, "shelf");
    size_t carried = 0;
    for (size_t p = 0; p < plan.pages.size(); ++p) {
        if (plan.continues[p] < 0) continue;
        ++carried;
        bool holds = false;
        for (size_t i = 0; i < frames.size(); ++i) holds = holds || (plan.pageOf[i] == p && previous[i] == plan.continues[p]);
        EXPECT_TRUE(holds) << "page " << p << " carries on page " << plan.continues[p] << " without its frames";
    }
    EXPECT_EQ(carried, 1U);
}

// Keeping frames in place never costs pages: a larger limit gathers them
// again, and each page keeps the identity most of its frames had.
TEST(PlanPages, PacksAfreshWhenKeepingPlacesWouldTakeMorePages) {
    struct Case {
        const char* what;
        std::vector<Size2D> frames;
        std::vector<int64_t> previous;
        AtlasGeometry geometry;
        std::vector<int64_t> continues;
    };
    const std::vector<Size2D> six(6, Size2D{32, 32});
    const Case cases[] = {
        {"three pages become one", six, {0, 0, 1, 1, 2, 2}, {0, 0, false, 128, 128}, {0}},
        {"most frames came from page 1", six, {1, 1, 1, 0, 0, 2}, {0, 0, false, 128, 128}, {1}},
        {"three pages become two", six, {0, 0, 1, 1, 2, 2}, {0, 0, false, 64, 64}, {0, 2}},
        {"pages that still hold their frames stay", six, {0, 0, 0, 0, 1, 1}, {0, 0, false, 64, 64}, {0, 1}},
    };
    for (const Case& c : cases) {
        const PagesPlan plan = Velmora::PlanPages(c.frames, c.previous, c.geometry, PackerKind::MaxRects, 64, 0);
        ExpectWellFormed(c.frames, c.geometry, plan, c.what);
        EXPECT_EQ(plan.continues, c.continues) << c.what;
    }
}

TEST(PlanPages, RefusalsSayWhy) {
    struct Case {
        const char* what;
        std::vector<Size2D> frames;
        AtlasGeometry geometry;
        PackerKind packer;
        size_t maxPages;
        PagesFailure failure;
        std::vector<size_t> leftOut;
        size_t pagesNeeded;
    };
    const Case cases[] = {
        {"a frame larger than any page", {{10, 10}, {90, 10}, {5, 5}}, {0, 0, false, 64, 64}, PackerKind::MaxRects, 0,
         PagesFailure::FramesOutside, {1}, 0},
        {"extrusion makes it too large", {{62, 10}}, {0, 2, false, 64, 64}, PackerKind::MaxRects, 0,
         PagesFailure::FramesOutside, {0}, 0},
        {"more pages than allowed", std::vector<Size2D>(40, Size2D{16, 16}), {0, 0, false, 64, 64},
         PackerKind::MaxRects, 2, PagesFailure::TooManyPages, {32, 33, 34, 35, 36, 37, 38, 39}, 3},
        {"as many pages as allowed", std::vector<Size2D>(32, Size2D{16, 16}), {0, 0, false, 64, 64},
         PackerKind::MaxRects, 2, PagesFailure::None, {}, 2},
        {"padding fills the page", {{1, 1}}, {64, 0, false, 64, 64}, PackerKind::MaxRects, 0, PagesFailure::NoRoom,
         {}, 0},
        {"the shelf is 64 wide at least", {{8, 8}}, {0, 0, false, 50, 50}, PackerKind::Shelf, 0,
         PagesFailure::ShelfTooWide, {}, 0},
    };
    for (const Case& c : cases) {
        const PagesPlan plan = Velmora::PlanPages(c.frames, {}, c.geometry, c.packer, 64, c.maxPages);
        EXPECT_EQ(plan.failure, c.failure) << c.what;
        EXPECT_EQ(plan.leftOut, c.leftOut) << c.what;
        EXPECT_EQ(plan.pages.size(), c.pagesNeeded) << c.what;
        if (c.failure != PagesFailure::None) {
            EXPECT_TRUE(plan.pageOf.empty()) << c.what;
        }
    }
}

}  // namespace
