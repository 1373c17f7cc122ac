// PackSprites on arbitrary frame lists: any sizes (negative, zero, up to the
// ends of the 32-bit range), pixel buffers shorter or longer than the sizes
// say, any maxWidth, and outputs that hold stale contents.
//
// PackSprites is the sizes-only shelf planner PackRectsShelf plus copying
// pixels, so the planner is the expectation: the call must succeed exactly
// when the list is non-empty, every buffer is long enough and the planner
// fits, and then put every frame where the planner did. The planner itself
// is held to the shelf's row rules, and a failure must be one the sizes
// justify (a negative size, or an atlas that can pass 2^31 - 1 pixels).
// A success is checked pixel by pixel; a failure must leave every output
// as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "velmora/packing.h"
#include "velmora_engine.h"

namespace {

using Velmora::Rect2D;
using Velmora::SpriteFrame;
using VelmoraFuzz::Reader;

// A frame's buffer is materialised only up to this many pixels; larger
// frames get a short buffer, which the packer must refuse.
constexpr int64_t kMaxFramePixels = int64_t{1} << 14;
// A call the model says succeeds with a larger atlas is skipped: it would
// legitimately allocate up to 8 GiB. Calls that must fail are always made,
// however large their sizes, since refusing them allocates nothing.
constexpr int64_t kMaxAtlasPixels = int64_t{1} << 18;
constexpr int64_t kMaxPixelCount = VelmoraFuzz::kMaxInt;

struct Model {
    bool packs = false;
    int64_t width = 0;
    int64_t height = 0;
    std::vector<Velmora::Point2D> places;
};

// Each rectangle continues its row (right after the previous one, same top)
// when it ends within maxWidth, else it starts the next row at x = 0 right
// below the tallest of the row before; the atlas is the widest row (at
// least 64) by the bottom of the last row.
void CheckShelfRules(const std::vector<Velmora::Size2D>& sizes, int32_t maxWidth,
                     const Velmora::RectPlacement& placement) {
    FUZZ_CHECK(placement.positions.size() == sizes.size());
    int64_t rowTop = 0;
    int64_t rowEnd = 0;
    int64_t rowHeight = 0;
    int64_t extent = 0;
    for (size_t k = 0; k < sizes.size(); ++k) {
        const Velmora::Point2D at = placement.positions[k];
        const bool continues = k > 0 && rowEnd + sizes[k].w <= maxWidth;
        if (continues) {
            FUZZ_CHECK(at.x == rowEnd && at.y == rowTop);
        } else {
            FUZZ_CHECK(at.x == 0 && at.y == rowTop + rowHeight);
            rowTop = at.y;
            rowHeight = 0;
        }
        rowEnd = int64_t{at.x} + sizes[k].w;
        rowHeight = rowHeight > sizes[k].h ? rowHeight : sizes[k].h;
        extent = extent > rowEnd ? extent : rowEnd;
    }
    FUZZ_CHECK(placement.width == (extent > 64 ? extent : 64));
    FUZZ_CHECK(placement.height == rowTop + rowHeight);
}

// Failing is right only when a size is negative or the sizes could give an
// atlas beyond 2^31 - 1 pixels: at most every frame stacked in its own row,
// each row at most as wide as the row width, the widest frame or 64.
void CheckShelfRefusal(const std::vector<Velmora::Size2D>& sizes, int32_t maxWidth,
                       const Velmora::RectPlacement& placement) {
    FUZZ_CHECK(placement.positions.empty() && placement.width == 0 && placement.height == 0);
    FUZZ_CHECK(placement.unplaced == sizes.size() && placement.leftOut.size() == sizes.size());
    int64_t heights = 0;
    int64_t widest = maxWidth > 64 ? maxWidth : 64;
    bool negative = false;
    for (const Velmora::Size2D& size : sizes) {
        negative = negative || size.w < 0 || size.h < 0;
        heights += size.h;
        widest = widest > size.w ? widest : size.w;
    }
    FUZZ_CHECK(negative || heights > kMaxPixelCount || widest * heights > kMaxPixelCount);
}

Model ShelfModel(const std::vector<SpriteFrame>& frames, int32_t maxWidth) {
    Model model;
    std::vector<Velmora::Size2D> sizes;
    bool usable = !frames.empty();
    for (const SpriteFrame& frame : frames) {
        sizes.push_back(Velmora::Size2D{frame.width, frame.height});
        const int64_t need = int64_t{frame.width} * int64_t{frame.height};
        usable = usable && frame.width >= 0 && frame.height >= 0 &&
                 need <= static_cast<int64_t>(frame.pixels.size());
    }
    const Velmora::RectPlacement placement = Velmora::PackRectsShelf(sizes, maxWidth);
    if (placement.fits) {
        CheckShelfRules(sizes, maxWidth, placement);
    } else {
        CheckShelfRefusal(sizes, maxWidth, placement);
    }
    model.packs = usable && placement.fits;
    model.width = placement.width;
    model.height = placement.height;
    model.places = placement.positions;
    return model;
}

SpriteFrame TakeFrame(Reader& in, uint32_t seed) {
    SpriteFrame frame;
    frame.name = VelmoraFuzz::TakeText(in, 12);
    frame.width = VelmoraFuzz::TakeInt32(in);
    frame.height = VelmoraFuzz::TakeInt32(in);
    const int64_t need = int64_t{frame.width} * int64_t{frame.height};
    const uint8_t mode = VelmoraFuzz::TakeByte(in);
    const int64_t length = VelmoraFuzz::BufferLength(mode, need, kMaxFramePixels);
    // A few zero pixels, so a zeroed atlas cannot pass for copied frames
    // only by luck, and many distinct ones.
    const bool sparse = (mode & 0x20) != 0;
    for (int64_t i = 0; i < length; ++i) {
        const uint32_t value = VelmoraFuzz::MixBits(seed + static_cast<uint32_t>(i));
        frame.pixels.push_back(sparse && (value & 3) == 0 ? 0u : value);
    }
    return frame;
}

bool SameRects(const std::vector<Rect2D>& a, const std::vector<Rect2D>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].x != b[k].x || a[k].y != b[k].y || a[k].w != b[k].w || a[k].h != b[k].h ||
            a[k].name != b[k].name) {
            return false;
        }
    }
    return true;
}

void CheckPacked(const std::vector<SpriteFrame>& frames, const Model& model, int32_t outWidth,
                 int32_t outHeight, const std::vector<Rect2D>& rects,
                 const std::vector<uint32_t>& atlas) {
    FUZZ_CHECK(outWidth == model.width);
    FUZZ_CHECK(outHeight == model.height);
    FUZZ_CHECK(outWidth >= 64);
    const int64_t width = outWidth;
    const int64_t height = outHeight;
    FUZZ_CHECK(static_cast<int64_t>(atlas.size()) == width * height);
    FUZZ_CHECK(rects.size() == frames.size());

    for (size_t k = 0; k < frames.size(); ++k) {
        const Rect2D& rect = rects[k];
        FUZZ_CHECK(rect.x == model.places[k].x && rect.y == model.places[k].y);
        FUZZ_CHECK(rect.w == frames[k].width && rect.h == frames[k].height);
        FUZZ_CHECK(rect.name == frames[k].name);
        FUZZ_CHECK(rect.x >= 0 && rect.y >= 0);
        FUZZ_CHECK(int64_t{rect.x} + rect.w <= width && int64_t{rect.y} + rect.h <= height);
    }

    for (size_t a = 0; a < rects.size(); ++a) {
        for (size_t b = a + 1; b < rects.size(); ++b) {
            const Rect2D& p = rects[a];
            const Rect2D& q = rects[b];
            if (p.w == 0 || p.h == 0 || q.w == 0 || q.h == 0) {
                continue;
            }
            const bool apart = int64_t{p.x} + p.w <= q.x || int64_t{q.x} + q.w <= p.x ||
                               int64_t{p.y} + p.h <= q.y || int64_t{q.y} + q.h <= p.y;
            FUZZ_CHECK(apart);
        }
    }

    std::vector<bool> covered(atlas.size(), false);
    for (size_t k = 0; k < frames.size(); ++k) {
        const SpriteFrame& frame = frames[k];
        for (int64_t i = 0; i < frame.height; ++i) {
            for (int64_t j = 0; j < frame.width; ++j) {
                const size_t at = static_cast<size_t>((rects[k].y + i) * width + rects[k].x + j);
                FUZZ_CHECK(atlas[at] == frame.pixels[static_cast<size_t>(i * frame.width + j)]);
                covered[at] = true;
            }
        }
    }
    for (size_t at = 0; at < atlas.size(); ++at) {
        FUZZ_CHECK(covered[at] || atlas[at] == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t maxWidth = VelmoraFuzz::TakeInt32(in);
    const uint32_t seed = VelmoraFuzz::TakeU32(in);

    // Outputs start with stale contents: a success must replace them whole,
    // a failure must leave them exactly as they are.
    int32_t outWidth = VelmoraFuzz::TakeInt32(in);
    int32_t outHeight = VelmoraFuzz::TakeInt32(in);
    std::vector<Rect2D> rects(VelmoraFuzz::TakeCount(in, 3), Rect2D{-1, 2, -3, 4, "stale"});
    std::vector<uint32_t> atlas(VelmoraFuzz::TakeCount(in, 7), 0xDEADBEEFu);

    std::vector<SpriteFrame> frames(VelmoraFuzz::TakeCount(in, 8));
    for (size_t k = 0; k < frames.size(); ++k) {
        frames[k] = TakeFrame(in, seed + static_cast<uint32_t>(k) * 0x10000u);
    }

    const Model model = ShelfModel(frames, maxWidth);
    if (model.packs && model.width * model.height > kMaxAtlasPixels) {
        return 0;
    }
    const int32_t staleWidth = outWidth;
    const int32_t staleHeight = outHeight;
    const std::vector<Rect2D> staleRects = rects;
    const std::vector<uint32_t> staleAtlas = atlas;

    const bool packed = Velmora::PackSprites(frames, maxWidth, outWidth, outHeight, rects, atlas);
    FUZZ_CHECK(packed == model.packs);
    if (packed) {
        CheckPacked(frames, model, outWidth, outHeight, rects, atlas);
    } else {
        FUZZ_CHECK(outWidth == staleWidth && outHeight == staleHeight);
        FUZZ_CHECK(SameRects(rects, staleRects));
        FUZZ_CHECK(atlas == staleAtlas);
    }
    return 0;
}
