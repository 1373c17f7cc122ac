// Shelf atlas packer: frames in input order, left to right, new row past
// the row width. Simple and predictable: the atlas layout follows the frame
// list. PackRectsShelf plans from sizes; PackSprites adds the pixels.
#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

#include "velmora/packing.h"
#include "velmora_engine.h"

namespace Velmora {
namespace {

constexpr int64_t kMaxCoordinate = std::numeric_limits<int32_t>::max();

RectPlacement Unplaced(size_t count) {
    RectPlacement placement;
    placement.unplaced = count;
    placement.leftOut.resize(count);
    std::iota(placement.leftOut.begin(), placement.leftOut.end(), size_t{0});
    return placement;
}

bool FrameIsUsable(const SpriteFrame& frame) {
    if (frame.width < 0 || frame.height < 0) {
        return false;
    }
    const int64_t count = int64_t{frame.width} * int64_t{frame.height};
    return static_cast<uint64_t>(count) <= frame.pixels.size();
}

}  // namespace

// Plans in 64-bit so that no sum can overflow.
RectPlacement PackRectsShelf(const std::vector<Size2D>& sizes, int32_t rowWidth) {
    RectPlacement placement;
    placement.positions.reserve(sizes.size());
    int64_t cursorX = 0;
    int64_t cursorY = 0;
    int64_t rowHeight = 0;
    int64_t extent = 0;
    for (const Size2D& size : sizes) {
        if (size.w < 0 || size.h < 0) {
            return Unplaced(sizes.size());
        }
        if (cursorX + size.w > rowWidth) {
            cursorY += rowHeight;
            cursorX = 0;
            rowHeight = 0;
        }
        if (cursorY > kMaxCoordinate) {
            return Unplaced(sizes.size());
        }
        placement.positions.push_back(Point2D{static_cast<int32_t>(cursorX), static_cast<int32_t>(cursorY)});
        // Stays within 32 bits: either the row fits under rowWidth or the
        // rectangle starts it at x = 0.
        cursorX += size.w;
        rowHeight = std::max<int64_t>(rowHeight, size.h);
        extent = std::max(extent, cursorX);
    }
    const int64_t width = std::max<int64_t>(extent, kShelfMinWidth);
    const int64_t height = cursorY + rowHeight;
    if (height > kMaxCoordinate || width * height > kMaxCoordinate) {
        return Unplaced(sizes.size());
    }
    placement.fits = true;
    placement.width = static_cast<int32_t>(width);
    placement.height = static_cast<int32_t>(height);
    return placement;
}

bool PackSprites(const std::vector<SpriteFrame>& frames, int32_t maxWidth, int32_t& outWidth,
                 int32_t& outHeight, std::vector<Rect2D>& rects, std::vector<uint32_t>& atlasPixels) {
    if (frames.empty() || !std::all_of(frames.begin(), frames.end(), FrameIsUsable)) {
        return false;
    }
    std::vector<Size2D> sizes;
    sizes.reserve(frames.size());
    for (const SpriteFrame& frame : frames) {
        sizes.push_back(Size2D{frame.width, frame.height});
    }
    const RectPlacement placement = PackRectsShelf(sizes, maxWidth);
    if (!placement.fits) {
        return false;
    }

    const size_t atlasWidth = static_cast<size_t>(placement.width);
    std::vector<uint32_t> pixels(atlasWidth * static_cast<size_t>(placement.height), 0U);
    std::vector<Rect2D> placed;
    placed.reserve(frames.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        const SpriteFrame& frame = frames[k];
        const Point2D at = placement.positions[k];
        placed.push_back(Rect2D{at.x, at.y, frame.width, frame.height, frame.name});
        const size_t rowBytes = static_cast<size_t>(frame.width) * sizeof(Pixel);
        if (rowBytes == 0) {
            continue;
        }
        for (int32_t i = 0; i < frame.height; ++i) {
            const Pixel* source = frame.pixels.data() + static_cast<size_t>(i) * static_cast<size_t>(frame.width);
            Pixel* target = pixels.data() + static_cast<size_t>(at.y + i) * atlasWidth + static_cast<size_t>(at.x);
            std::memcpy(target, source, rowBytes);
        }
    }

    rects = std::move(placed);
    atlasPixels = std::move(pixels);
    outWidth = placement.width;
    outHeight = placement.height;
    return true;
}

}  // namespace Velmora
