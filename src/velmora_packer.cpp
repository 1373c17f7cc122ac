// Shelf atlas packer: frames in input order, left to right, new row past
// maxWidth. Simple and predictable: the atlas layout follows the frame list.
#include "velmora_engine.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Velmora {
namespace {

constexpr int32_t kMinAtlasWidth = 64;
constexpr int64_t kMaxCoordinate = std::numeric_limits<int32_t>::max();

struct Layout {
    std::vector<Rect2D> rects;
    int32_t width = 0;
    int32_t height = 0;
};

bool FrameIsUsable(const SpriteFrame& frame) {
    if (frame.width < 0 || frame.height < 0) {
        return false;
    }
    const int64_t count = int64_t{frame.width} * int64_t{frame.height};
    return static_cast<uint64_t>(count) <= frame.pixels.size();
}

// Computes the layout in 64-bit so that no sum can overflow; returns false
// when a frame breaks the contract or the atlas leaves the signed 32-bit range.
bool PlanLayout(const std::vector<SpriteFrame>& frames, int32_t maxWidth, Layout& layout) {
    int64_t cursorX = 0;
    int64_t cursorY = 0;
    int64_t rowHeight = 0;
    int64_t extent = 0;
    layout.rects.reserve(frames.size());
    for (const SpriteFrame& frame : frames) {
        if (!FrameIsUsable(frame)) {
            return false;
        }
        if (cursorX + frame.width > maxWidth) {
            cursorY += rowHeight;
            cursorX = 0;
            rowHeight = 0;
        }
        if (cursorY > kMaxCoordinate) {
            return false;
        }
        layout.rects.push_back(Rect2D{static_cast<int32_t>(cursorX), static_cast<int32_t>(cursorY),
                                      frame.width, frame.height, frame.name});
        // Stays within 32 bits: either the row fits under maxWidth or the
        // frame starts it at x = 0.
        cursorX += frame.width;
        rowHeight = std::max<int64_t>(rowHeight, frame.height);
        extent = std::max(extent, cursorX);
    }
    const int64_t width = std::max<int64_t>(extent, kMinAtlasWidth);
    const int64_t height = cursorY + rowHeight;
    if (height > kMaxCoordinate || width * height > kMaxCoordinate) {
        return false;
    }
    layout.width = static_cast<int32_t>(width);
    layout.height = static_cast<int32_t>(height);
    return true;
}

}  // namespace

bool PackSprites(const std::vector<SpriteFrame>& frames, int32_t maxWidth, int32_t& outWidth,
                 int32_t& outHeight, std::vector<Rect2D>& rects, std::vector<uint32_t>& atlasPixels) {
    if (frames.empty()) {
        return false;
    }
    Layout layout;
    if (!PlanLayout(frames, maxWidth, layout)) {
        return false;
    }

    const size_t atlasWidth = static_cast<size_t>(layout.width);
    atlasPixels.assign(atlasWidth * static_cast<size_t>(layout.height), 0u);
    for (size_t k = 0; k < frames.size(); ++k) {
        const SpriteFrame& frame = frames[k];
        const Rect2D& rect = layout.rects[k];
        const size_t rowBytes = static_cast<size_t>(frame.width) * sizeof(Pixel);
        if (rowBytes == 0) {
            continue;
        }
        for (int32_t i = 0; i < frame.height; ++i) {
            const Pixel* source = frame.pixels.data() + static_cast<size_t>(i) * static_cast<size_t>(frame.width);
            Pixel* target = atlasPixels.data() +
                            static_cast<size_t>(rect.y + i) * atlasWidth + static_cast<size_t>(rect.x);
            std::memcpy(target, source, rowBytes);
        }
    }

    rects = std::move(layout.rects);
    outWidth = layout.width;
    outHeight = layout.height;
    return true;
}

}  // namespace Velmora
