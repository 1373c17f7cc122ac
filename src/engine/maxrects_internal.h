// The MaxRects packer's parts that the search (maxrects_search.cpp) shares
// with the bin and its passes (maxrects_packer.cpp).
#ifndef VELMORA_ENGINE_MAXRECTS_INTERNAL_H
#define VELMORA_ENGINE_MAXRECTS_INTERNAL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "velmora/image.h"

namespace Velmora::MaxRects {

enum class Heuristic { BestShortSide, BestLongSide, BestArea, BottomLeft, ContactPoint };

enum class Order { Height, MaxSide, Area, Width, Perimeter };

// Contact scoring compares a candidate with every placed frame: quadratic,
// so it is only tried on small sets.
constexpr size_t kContactPointLimit = 300;
// Beyond these counts the search narrows (fewer heuristics, orders and
// widths) so a very large set still packs in a few near-linear passes.
constexpr size_t kFullSearchLimit = 4000;
constexpr size_t kSmallSearchLimit = 30000;

struct Outcome {
    size_t unplaced = 0;
    std::vector<size_t> leftOut;  // input indices, in the order tried
    int64_t width = 0;   // extents of the placed frames, rounded up when
    int64_t height = 0;  // powers of two are asked for
    std::vector<Point2D> positions;
};

inline int64_t Area(const Outcome& o) {
    return o.width * o.height;
}

// Smaller area first, then the smaller longest side.
inline bool Better(const Outcome& a, const Outcome& b) {
    if (Area(a) != Area(b)) {
        return Area(a) < Area(b);
    }
    return std::max(a.width, a.height) < std::max(b.width, b.height);
}

int64_t RoundUpPowerOfTwo(int64_t v);
int32_t RoundDownPowerOfTwo(int32_t v);

// `valid` (indices into `sizes`) sorted largest first by `order`; equal keys
// keep input order.
std::vector<size_t> SortedOrder(const std::vector<Size2D>& sizes, const std::vector<size_t>& valid, Order order);

// No bound on a pass's area.
constexpr int64_t kNoArea = INT64_MAX;

// One pass: frames in `order` into a `binWidth` x `binHeight` bin. Gives up
// (returns false) as soon as the atlas's area is sure to exceed `boundArea`.
bool RunPass(const std::vector<Size2D>& sizes, const std::vector<size_t>& order, int32_t binWidth,
             int32_t binHeight, Heuristic heuristic, bool powerOfTwo, int64_t boundArea, Outcome& out);

// Bin widths to try, most promising first (at most `count` around the
// square root of the total area, then the narrowest and, for powers of two,
// those in between, then the limit).
std::vector<int32_t> CandidateWidths(const std::vector<Size2D>& sizes, const std::vector<size_t>& valid,
                                     int32_t limitWidth, int32_t limitHeight, bool powerOfTwo, size_t count);

}  // namespace Velmora::MaxRects

#endif  // VELMORA_ENGINE_MAXRECTS_INTERNAL_H
