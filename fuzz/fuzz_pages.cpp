// PlanPages on arbitrary frame sizes, earlier pages and geometry. A plan
// must put every frame on exactly one page, each page a spaced-out atlas
// within the limit holding at least one frame, and a frame whose earlier
// page survives on that page unless it must move; a refusal must be
// justified.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "velmora/packing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VelmoraFuzz::Reader in = VelmoraFuzz::MakeReader(data, size);
    const uint8_t flags = VelmoraFuzz::TakeByte(in);
    Velmora::AtlasGeometry geometry;
    geometry.powerOfTwo = (flags & 1) != 0;
    geometry.padding = VelmoraFuzz::TakeByte(in) & 7;
    geometry.extrude = VelmoraFuzz::TakeByte(in) & 3;
    geometry.maxWidth = 1 + (VelmoraFuzz::TakeInt32(in) & 255);
    geometry.maxHeight = 1 + (VelmoraFuzz::TakeInt32(in) & 255);
    const Velmora::PackerKind packer =
        (flags & 2) != 0 ? Velmora::PackerKind::Shelf : Velmora::PackerKind::MaxRects;
    const int32_t rowWidth = 1 + (VelmoraFuzz::TakeInt32(in) & 511);
    const size_t maxPages = (flags & 4) != 0 ? 1 + (VelmoraFuzz::TakeByte(in) & 7) : 0;
    std::vector<Velmora::Size2D> sizes(VelmoraFuzz::TakeCount(in, 60));
    std::vector<int64_t> previous(sizes.size(), -1);
    for (size_t i = 0; i < sizes.size(); ++i) {
        sizes[i].w = 1 + (VelmoraFuzz::TakeInt32(in) & 127);
        sizes[i].h = 1 + (VelmoraFuzz::TakeInt32(in) & 127);
        const uint8_t page = VelmoraFuzz::TakeByte(in);
        previous[i] = page < 8 ? page : -1;
    }

    const Velmora::PagesPlan plan = Velmora::PlanPages(sizes, previous, geometry, packer, rowWidth, maxPages);
    const Velmora::Size2D limit = Velmora::AtlasLimit(geometry);
    if (plan.failure == Velmora::PagesFailure::TooManyPages) {
        FUZZ_CHECK(maxPages != 0 && plan.pages.size() > maxPages && plan.pageOf.empty());
        FUZZ_CHECK(!plan.leftOut.empty() && plan.leftOut.back() < sizes.size() &&
                   std::is_sorted(plan.leftOut.begin(), plan.leftOut.end()));
        return 0;
    }
    if (plan.failure == Velmora::PagesFailure::FramesOutside) {
        // Only frames that fit no empty page are refused, and each is.
        FUZZ_CHECK(!plan.leftOut.empty());
        for (size_t i = 0; i < sizes.size(); ++i) {
            const Velmora::AtlasPlan alone = Velmora::PlanAtlas({sizes[i]}, geometry, packer, rowWidth);
            const bool listed = std::binary_search(plan.leftOut.begin(), plan.leftOut.end(), i);
            FUZZ_CHECK(listed == (alone.failure == Velmora::PlanFailure::FramesOutside));
        }
        return 0;
    }
    if (plan.failure != Velmora::PagesFailure::None) {
        // The page itself has no room: any single frame is refused the same way.
        FUZZ_CHECK(sizes.empty() ||
                   Velmora::PlanAtlas({sizes[0]}, geometry, packer, rowWidth).failure != Velmora::PlanFailure::None);
        return 0;
    }
    FUZZ_CHECK(plan.pageOf.size() == sizes.size() && plan.indexOnPage.size() == sizes.size());
    FUZZ_CHECK(plan.frames.size() == plan.pages.size() && plan.continues.size() == plan.pages.size());
    FUZZ_CHECK(maxPages == 0 || plan.pages.size() <= maxPages);
    const int64_t e = geometry.extrude;
    const int64_t p = geometry.padding;
    for (size_t page = 0; page < plan.pages.size(); ++page) {
        const Velmora::AtlasPlan& atlas = plan.pages[page];
        FUZZ_CHECK(atlas.width <= limit.w && atlas.height <= limit.h);
        FUZZ_CHECK(atlas.positions.size() == plan.frames[page]);
        FUZZ_CHECK(sizes.empty() || plan.frames[page] > 0);
        std::vector<size_t> on;
        for (size_t i = 0; i < sizes.size(); ++i) {
            if (plan.pageOf[i] == page) on.push_back(i);
        }
        FUZZ_CHECK(on.size() == plan.frames[page]);
        for (size_t k = 0; k < on.size(); ++k) {
            FUZZ_CHECK(plan.indexOnPage[on[k]] == k);
            const Velmora::Point2D at = atlas.positions[k];
            const Velmora::Size2D s = sizes[on[k]];
            FUZZ_CHECK(at.x - e >= p && at.y - e >= p && at.x + s.w + e <= atlas.width - p &&
                       at.y + s.h + e <= atlas.height - p);
            for (size_t j = k + 1; j < on.size(); ++j) {
                const Velmora::Point2D b = atlas.positions[j];
                const Velmora::Size2D t = sizes[on[j]];
                const bool apart = at.x + s.w + e + p <= b.x - e || b.x + t.w + e + p <= at.x - e ||
                                   at.y + s.h + e + p <= b.y - e || b.y + t.h + e + p <= at.y - e;
                FUZZ_CHECK(apart);
            }
        }
        // A page carries on an earlier page only when it holds its frames.
        if (plan.continues[page] >= 0) {
            FUZZ_CHECK(std::any_of(on.begin(), on.end(), [&](size_t i) { return previous[i] == plan.continues[page]; }));
        }
    }
    return 0;
}
