// From frame sizes to an atlas plan: cells around the frames, one of the two
// packers, then padding and power-of-two rounding. Sizes only; the pixels
// are composed afterwards.
#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "velmora/packing.h"

namespace Velmora {
namespace {

int32_t NextPowerOfTwo(int32_t value) {
    int32_t power = 1;
    while (power < value) {
        power *= 2;
    }
    return power;
}

int32_t LargestPowerOfTwoUpTo(int32_t value) {
    int32_t power = 1;
    while (power * 2 <= value) {
        power *= 2;
    }
    return power;
}

AtlasPlan Failed(PlanFailure failure, std::vector<size_t> leftOut = {}) {
    AtlasPlan plan;
    plan.failure = failure;
    plan.unplaced = leftOut.size();
    plan.leftOut = std::move(leftOut);
    return plan;
}

std::vector<size_t> Every(size_t count) {
    std::vector<size_t> all(count);
    std::iota(all.begin(), all.end(), size_t{0});
    return all;
}

// The shelf packs cells as they come, so the limit is checked afterwards:
// which cells end beyond it (the padding before the first row included).
std::vector<size_t> CellsOutside(const std::vector<Size2D>& cells, const RectPlacement& placement,
                                 int32_t padding, Size2D limit) {
    if (!placement.fits) {
        return Every(cells.size());
    }
    std::vector<size_t> outside;
    for (size_t i = 0; i < cells.size(); ++i) {
        const int64_t right = int64_t{padding} + placement.positions[i].x + cells[i].w;
        const int64_t bottom = int64_t{padding} + placement.positions[i].y + cells[i].h;
        if (right > limit.w || bottom > limit.h) outside.push_back(i);
    }
    return outside;
}

}  // namespace

Size2D AtlasLimit(const AtlasGeometry& geometry) {
    if (!geometry.powerOfTwo) {
        return Size2D{geometry.maxWidth, geometry.maxHeight};
    }
    return Size2D{LargestPowerOfTwoUpTo(geometry.maxWidth), LargestPowerOfTwoUpTo(geometry.maxHeight)};
}

AtlasPlan PlanAtlas(const std::vector<Size2D>& frameSizes, const AtlasGeometry& geometry,
                    PackerKind packer, int32_t shelfRowWidth, const Workers& workers) {
    const Size2D limit = AtlasLimit(geometry);
    const int64_t border = 2 * int64_t{geometry.extrude} + geometry.padding;
    std::vector<Size2D> cells;
    cells.reserve(frameSizes.size());
    for (const Size2D& frame : frameSizes) {
        const int64_t w = frame.w + border;
        const int64_t h = frame.h + border;
        if (frame.w < 0 || frame.h < 0 || w > std::numeric_limits<int32_t>::max() ||
            h > std::numeric_limits<int32_t>::max()) {
            return Failed(PlanFailure::FramesOutside, Every(frameSizes.size()));
        }
        cells.push_back(Size2D{static_cast<int32_t>(w), static_cast<int32_t>(h)});
    }

    if (limit.w <= geometry.padding || limit.h <= geometry.padding) {
        return Failed(PlanFailure::NoRoom);
    }
    RectPlacement placement;
    if (packer == PackerKind::Shelf) {
        placement = PackRectsShelf(cells, shelfRowWidth);
        std::vector<size_t> outside = CellsOutside(cells, placement, geometry.padding, limit);
        if (!outside.empty()) {
            return Failed(PlanFailure::FramesOutside, std::move(outside));
        }
        if (int64_t{geometry.padding} + placement.width > limit.w) {
            return Failed(PlanFailure::ShelfTooWide);
        }
    } else {
        placement = PackRectsMaxRects(cells, limit.w - geometry.padding, limit.h - geometry.padding, false, workers);
        if (!placement.fits) {
            return Failed(PlanFailure::FramesOutside, std::move(placement.leftOut));
        }
    }

    AtlasPlan plan;
    plan.width = placement.width + geometry.padding;
    plan.height = placement.height + geometry.padding;
    if (geometry.powerOfTwo) {
        plan.width = NextPowerOfTwo(plan.width);
        plan.height = NextPowerOfTwo(plan.height);
    }
    const int32_t inset = geometry.padding + geometry.extrude;
    plan.positions = std::move(placement.positions);
    for (Point2D& position : plan.positions) {
        position.x += inset;
        position.y += inset;
    }
    return plan;
}

}  // namespace Velmora
