// PackSprites on arbitrary frame lists: any sizes (negative, zero, up to the
// ends of the 32-bit range), pixel buffers shorter or longer than the sizes
// say, any maxWidth, and outputs that hold stale contents.
//
// The outcome is checked against a plain 64-bit model of shelf packing: it
// says whether the call must succeed (and where every frame goes) or must
// fail (empty list, negative size, short buffer, atlas over 2^31 - 1
// pixels). A success is then checked pixel by pixel; a failure must leave
// every output as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
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

struct Placement {
    int64_t x;
    int64_t y;
};

struct Model {
    bool packs = false;
    int64_t width = 0;
    int64_t height = 0;
    std::vector<Placement> places;
};

Model ShelfModel(const std::vector<SpriteFrame>& frames, int32_t maxWidth) {
    Model model;
    if (frames.empty()) {
        return model;
    }
    int64_t cursorX = 0;
    int64_t cursorY = 0;
    int64_t rowHeight = 0;
    int64_t extent = 0;
    for (const SpriteFrame& frame : frames) {
        const int64_t w = frame.width;
        const int64_t h = frame.height;
        if (w < 0 || h < 0 || w * h > static_cast<int64_t>(frame.pixels.size())) {
            return model;
        }
        if (cursorX + w > maxWidth) {
            cursorY += rowHeight;
            cursorX = 0;
            rowHeight = 0;
        }
        model.places.push_back(Placement{cursorX, cursorY});
        cursorX += w;
        rowHeight = rowHeight > h ? rowHeight : h;
        extent = extent > cursorX ? extent : cursorX;
    }
    model.width = extent > 64 ? extent : 64;
    model.height = cursorY + rowHeight;
    // Height first: with up to 8 frames it can pass 2^31, and the product
    // must stay within 64 bits.
    model.packs = model.height <= kMaxPixelCount && model.width * model.height <= kMaxPixelCount;
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
