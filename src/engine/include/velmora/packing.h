// Atlas planning from sizes alone: where each rectangle goes, never pixels.
// Composing the atlas is a separate step (ComposeAtlas in velmora/image.h).
#ifndef VELMORA_PACKING_H
#define VELMORA_PACKING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "velmora/image.h"
#include "velmora/workers.h"

namespace Velmora {

// Where a set of rectangles goes in an atlas (PackRectsMaxRects,
// PackRectsShelf).
struct RectPlacement {
    bool fits = false;               // every rectangle was placed
    int32_t width = 0;               // the atlas's size when `fits`
    int32_t height = 0;
    std::vector<Point2D> positions;  // top-left corner per size, input order
    size_t unplaced = 0;             // how many did not fit when not `fits`
    std::vector<size_t> leftOut;     // which, ascending: `unplaced` indices into the sizes
};

// MaxRects packer: places rectangles of `sizes` so that none overlap and the
// atlas holding them is as small as it can find. Frames are never rotated.
//
// On success `fits` is true, `unplaced` is 0, positions[i] is the top-left
// corner of sizes[i], and width x height is the atlas actually used: the
// largest right and bottom edges of the placed rectangles, or with
// `powerOfTwo` those edges each rounded up to a power of two. Every
// rectangle lies wholly inside the atlas, and the atlas within
// maxWidth x maxHeight (with `powerOfTwo`, within the largest powers of two
// not above them). No padding is added: pad the sizes to space frames out.
// An empty `sizes` fits in a 0 x 0 atlas.
//
// The search: several bin widths (around the square root of the total area,
// the narrowest possible, powers of two when asked, the whole limit), frame
// orders (tallest, longest side, largest perimeter or area first; ties keep
// input order) and placement rules (best short side, best long side, best
// area, bottom-left, and contact point for up to 300 frames); the smallest
// area wins, then the smaller longest side, then the first found in that
// fixed order. Above 4,000 frames the search narrows to a few passes and
// above 30,000 to one, so the time stays near n times the free-space list.
//
// Failure: `fits` is false, width and height are 0, `positions` is empty,
// and `unplaced` counts the rectangles that could not be placed: those with
// a side below 1 or above the limits, plus, when the others do not all fit
// together, the fewest any tried layout left out; `leftOut` lists them. A limit below 1 always
// fails, with every rectangle unplaced (an empty `sizes` included).
//
// Deterministic: integer arithmetic only, ties broken by position and fixed
// order, so the same input gives the same placement on every platform.
// Its independent passes run on `workers`.
RectPlacement PackRectsMaxRects(const std::vector<Size2D>& sizes, int32_t maxWidth,
                                int32_t maxHeight, bool powerOfTwo, const Workers& workers = Workers{});

// The narrowest atlas the shelf packer makes.
constexpr int32_t kShelfMinWidth = 64;

// Shelf packer, sizes only: rectangles in input order, left to right; one
// starts a new row when its right edge would pass `rowWidth` (one ending
// exactly at `rowWidth` stays). Rows start at x = 0 directly below the
// tallest rectangle of the previous row. No padding, no sorting, no rotation.
// A rectangle wider than `rowWidth` sits alone at the start of its row.
//
// On success `fits` is true: positions[i] is the top-left corner of
// sizes[i], width is the widest row extent but at least kShelfMinWidth, and
// height the bottom of the last row (0 for an empty `sizes`).
//
// Failure: `fits` is false, width and height are 0, `positions` is empty and
// `unplaced` is the number of sizes, when a size is negative or the atlas
// leaves the signed 32-bit range (a coordinate, or width * height, above
// 2147483647).
RectPlacement PackRectsShelf(const std::vector<Size2D>& sizes, int32_t rowWidth);

// The space an atlas gives each frame, and its limits. A frame becomes a
// cell: `extrude` repeated edge pixels on each side, then `padding`
// transparent pixels after it (right and below); the atlas starts with
// `padding` too, so every frame has that much space on every side. With
// `powerOfTwo` both sides of the atlas are rounded up to powers of two and
// the limits shrink to the largest powers of two within them.
struct AtlasGeometry {
    int32_t padding = 0;
    int32_t extrude = 0;
    bool powerOfTwo = false;
    int32_t maxWidth = kMaxImageSide;
    int32_t maxHeight = kMaxImageSide;
};

// The largest atlas `geometry` allows (after power-of-two rounding).
Size2D AtlasLimit(const AtlasGeometry& geometry);

enum class PackerKind { MaxRects, Shelf };

// Why an atlas plan failed.
enum class PlanFailure {
    None,
    FramesOutside,  // `unplaced` frames do not fit the limit
    NoRoom,         // the padding alone fills the limit
    ShelfTooWide,   // the shelf's narrowest atlas is wider than the limit
};

// Where frames go on an atlas (PlanAtlas).
struct AtlasPlan {
    PlanFailure failure = PlanFailure::None;
    int32_t width = 0;               // the atlas, padding and rounding included
    int32_t height = 0;
    std::vector<Point2D> positions;  // each frame's own top-left pixel
    size_t unplaced = 0;             // with FramesOutside
    std::vector<size_t> leftOut;     // with FramesOutside: which frames, ascending
};

// Plans an atlas for frames of `frameSizes` under `geometry`: their cells
// packed by `packer` (the shelf with rows of `shelfRowWidth`, padding
// included, in input order; MaxRects as tightly as it finds), then the atlas
// padded and rounded. Every frame with its extrusion lies inside the atlas,
// at least `padding` pixels from every other frame's and from the atlas's
// edges, and the atlas within AtlasLimit(geometry). On failure the plan's
// sizes are 0 and `positions` is empty.
AtlasPlan PlanAtlas(const std::vector<Size2D>& frameSizes, const AtlasGeometry& geometry,
                    PackerKind packer, int32_t shelfRowWidth, const Workers& workers = Workers{});

// Why a plan over several pages failed.
enum class PagesFailure {
    None,
    FramesOutside,  // `leftOut` frames do not fit an empty page on their own
    NoRoom,         // as PlanFailure::NoRoom
    ShelfTooWide,   // as PlanFailure::ShelfTooWide
    TooManyPages,   // the frames need `pages.size()` pages, more than allowed
};

// Frames spread over pages (PlanPages).
struct PagesPlan {
    PagesFailure failure = PagesFailure::None;
    std::vector<AtlasPlan> pages;     // each as tight as PlanAtlas makes it for its frames
    std::vector<size_t> frames;       // per page: how many frames it holds
    std::vector<size_t> pageOf;       // per frame: its page
    std::vector<size_t> indexOnPage;  // per frame: its index among its page's frames
    std::vector<int64_t> continues;   // per page: the earlier page it carries on, or -1
    std::vector<size_t> leftOut;      // with FramesOutside, or TooManyPages: the frames past the
                                      // last page allowed; ascending
};

// Plans as few pages as it finds for frames of `frameSizes`, each page a
// PlanAtlas of its frames (in input order). `previousPage[i]` is the page
// frame i was on in an earlier run, or -1 (the vector may be empty: no
// earlier run). Frames stay with the frames of their earlier page while
// they fit; new frames fill earlier pages first; a page that keeps earlier
// frames records that page in `continues`, so its identity can be kept even
// when emptied pages before it move it to a lower number. Deterministic: the
// same sizes and earlier pages give the same pages. `maxPages` 0 is no limit.
PagesPlan PlanPages(const std::vector<Size2D>& frameSizes, const std::vector<int64_t>& previousPage,
                    const AtlasGeometry& geometry, PackerKind packer, int32_t shelfRowWidth, size_t maxPages,
                    const Workers& workers = Workers{});

}  // namespace Velmora

#endif  // VELMORA_PACKING_H
