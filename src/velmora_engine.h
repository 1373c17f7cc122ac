// Velmora 2D Studio engine: sample sprites, shelf atlas packing, collision
// outlines, lighting normal maps and engine export documents.
//
// Free functions and plain records. Nothing here keeps state between calls,
// prints, or touches files. Pixels are packed 32-bit values: red in bits 0-7,
// green 8-15, blue 16-23, alpha 24-31; a pixel buffer is row-major, pixel
// (x, y) at index y * width + x, origin top-left, y growing downward.
//
// Failure is reported only through results (an empty sequence, `false`, or
// for the normal map a buffer of the neutral fill 0xFF808080).
// An out-parameter is replaced whole on success and untouched on failure.
#ifndef VELMORA_ENGINE_H
#define VELMORA_ENGINE_H

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

using Pixel = uint32_t;

// One named sprite image; `pixels` holds width * height packed pixels.
struct SpriteFrame {
    std::string name;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// Where one frame sits in the atlas: top-left corner, size, frame name.
struct Rect2D {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
    std::string name;
};

// A pixel position within a frame (x column, y row).
struct Point2D {
    int32_t x = 0;
    int32_t y = 0;
};

// A named collision outline, points in trace order.
struct CollisionPolygon {
    std::string name;
    std::vector<Point2D> points;
};

// The procedural sample set: four 32 x 32 frames "hero_walk_0" .. "hero_walk_3"
// of a walking figure (head, body, two legs that alternate pose between even
// and odd frames). Every painted pixel is opaque, every other pixel is 0.
// Each call builds a fresh, identical set.
std::vector<SpriteFrame> CreateSampleSprites();

// Shelf packer. Places `frames` left to right in input order; a frame starts
// a new row when its right edge would pass `maxWidth` (a frame ending exactly
// at `maxWidth` stays). Rows start at x = 0 directly below the tallest frame
// of the previous row. No padding, no sorting, no rotation.
//
// On success returns true and replaces the outputs: `rects` gets one
// rectangle per frame (frame size and name, in frame order); `outWidth` is the
// widest row extent but at least 64; `outHeight` is the bottom of the last
// row; `atlasPixels` holds exactly outWidth * outHeight pixels, each frame
// copied into its rectangle and 0 everywhere else.
//
// Returns false and leaves every output untouched when `frames` is empty, a
// frame has a negative width or height, a frame's `pixels` hold fewer than
// width * height entries, or the atlas would exceed 2147483647 pixels (or a
// coordinate would leave the signed 32-bit range).
bool PackSprites(const std::vector<SpriteFrame>& frames, int32_t maxWidth, int32_t& outWidth,
                 int32_t& outHeight, std::vector<Rect2D>& rects, std::vector<uint32_t>& atlasPixels);

// Collision outline from the alpha channel. A pixel is solid when its alpha
// is >= `alphaThreshold`. Four passes, each sampling every `step`-th line:
// top (columns 0, step, ... scanned downward), right (rows 0, step, ...
// scanned leftward), bottom (columns width-1, width-1-step, ... scanned
// upward), left (rows height-1, height-1-step, ... scanned rightward). Each
// sampled line contributes its first solid pixel, if any; points are neither
// de-duplicated nor sorted, so the result runs clockwise on screen and holds
// at most 2*ceil(width/step) + 2*ceil(height/step) points.
//
// Returns the empty sequence when width or height is <= 0, `pixels` holds
// fewer than width * height entries, width * height exceeds 2147483647,
// `step` is below 1, or no pixel is solid. A longer buffer is accepted; only
// its first width * height entries are read.
std::vector<Point2D> GenerateCollisionHull(const std::vector<uint32_t>& pixels, int32_t width,
                                           int32_t height, uint8_t alphaThreshold, int32_t step);

// Lighting normal map of one frame. Each pixel's elevation is its BT.601
// luminance times alpha / 255, or 0 when its alpha is below 10; the 3 x 3
// Sobel gradient (gx right minus left, gy lower minus upper, border pixels
// replicated) and z = 1 / `strength` form the normal, which is normalised
// when its length exceeds 1e-5. Each component v is stored as
// trunc((v * 0.5 + 0.5) * 255) clamped to 0..255 (NaN gives 0): x in red,
// y in green, z in blue; alpha is copied from the source. A pixel whose own
// alpha is below 5 becomes 0x00000000. All arithmetic is single precision,
// each operation rounded on its own, so the bytes are the same on every
// compiler and platform; a flat opaque area gives 0xFFFF7F7F for strengths
// between 0 and 100000 (exclusive).
//
// Returns width * height pixels (same indexing as the input; a longer input
// is accepted and only its first width * height entries are read). When
// width or height is below 3, or `pixels` holds fewer than width * height
// entries, every entry is the neutral fill 0xFF808080 (no entries when the
// product is 0). A negative width * height throws std::length_error. When
// width * height exceeds 2147483647 nothing is read or allocated and the
// result is empty.
std::vector<uint32_t> GenerateNormalMap(const std::vector<uint32_t>& pixels, int32_t width,
                                        int32_t height, float strength);

// Godot 4 text resource (".tres"): a header, one external texture at
// `texturePath` with id "1_atlas", one AtlasTexture sub-resource per rectangle
// (ids "frame_0", "frame_1", ... by position), then, when `polygons` is not
// empty, a "# Physics Collision Polygons" heading and per polygon a
// "# Collider:" comment and a "points = PackedVector2Array(...)" line.
// Lines end with "\n"; the document ends with an empty line.
//
// Names and the path are written byte for byte, except that they can never
// break the document: in the quoted path `\` becomes `\\` and `"` becomes
// `\"`, and anywhere a control character (below 0x20, or 0x7F) is written as
// `\n`, `\r`, `\t` or `\uXXXX`. Never fails; any input gives a whole document.
std::string ExportGodot4Tres(const std::vector<Rect2D>& rects,
                             const std::vector<CollisionPolygon>& polygons,
                             const std::string& texturePath);

// Unity sprite-sheet JSON: a "frames" array with one object per rectangle
// ("filename", "frame" {x, y, w, h}, "rotated": false, "trimmed": false) and
// a "meta" object with "app": "Velmora 2D Studio" and "size" {w, h} taken
// from the arguments as given. Two-blank indentation, "\n" line ends.
//
// Names are escaped as JSON strings require (`"` and `\` with a backslash,
// control characters as `\n`, `\r`, `\t` or `\u00XX`); other bytes, non-ASCII
// included, are written unchanged. Never fails; any input gives a whole
// document.
std::string ExportUnityJson(const std::vector<Rect2D>& rects, int32_t atlasWidth,
                            int32_t atlasHeight);


// ---------------------------------------------------------------------------
// The file pipeline's operations. Same rules as above: pure, no state, no
// printing; failure only through results.

// The largest side a decoded image, a frame or an atlas may have.
constexpr int32_t kMaxImageSide = 16384;

// A decoded image: width * height packed pixels, row-major, top-left origin.
// Valid when 1 <= width, height <= kMaxImageSide and `pixels` holds exactly
// width * height entries; every operation below that takes an Image treats
// an invalid one as its failure case.
struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

bool IsValidImage(const Image& image);

// A rectangle's size.
struct Size2D {
    int32_t w = 0;
    int32_t h = 0;
};

// The smallest rectangle holding every pixel whose alpha is above 0, as
// x, y, w, h in `image` (the name stays empty). A fully transparent image
// gives the 1 x 1 rectangle at (0, 0). An invalid image gives w = h = 0.
Rect2D FindOpaqueBounds(const Image& image);

// The pixels of `area` (x, y, w, h) of `image`. Returns an empty Image
// (width 0) when `image` is invalid or `area` is empty or not inside it.
Image CropImage(const Image& image, const Rect2D& area);

// Composes an atlas of `width` x `height`, all 0, with images[i] copied so its
// top-left pixel lands at positions[i]; when `extrude` > 0 each image's edge
// pixels are repeated `extrude` times around it (corners included), clipped
// to the atlas. Images are drawn in order, later over earlier.
// Returns false and leaves `atlas` untouched when the atlas size is invalid,
// the two sequences differ in length, an image is invalid, or an image
// (without its extrusion) does not lie wholly inside the atlas.
bool ComposeAtlas(const std::vector<Image>& images, const std::vector<Point2D>& positions,
                  int32_t width, int32_t height, int32_t extrude, Image& atlas);

// For each image, the index of the first image with the same size and the
// same pixels (its own index when it is the first). Invalid images are never
// duplicates of anything.
std::vector<size_t> FindDuplicateImages(const std::vector<Image>& images);

// Collision polygons of one image's alpha mask, one per solid region, ready
// for physics engines that want simple polygons.
//
// A pixel is solid when its alpha (bits 24-31) is >= `alphaThreshold`.
// Regions are 4-connected: pixels that touch only at a corner belong to
// different regions. Each region's polygon is its outer contour: the
// boundary of the region with its own holes filled, where a hole is a part
// of the rest of the image (other regions' pixels included), 4-connected,
// that the region walls off from the image border. So a ring gives one
// disc, a region touching itself at a corner around a hole gives one
// polygon around both, and each pixel of a checkerboard gives its unit
// square. A region lying in another's hole has its own polygon, inside that
// one: polygons may nest and, after simplification, overlap. No region is
// dropped; the smallest, a single pixel, gives its unit square.
//
// Each polygon starts at the top-left corner of its region's first pixel in
// row-major order, and polygons come in that order. Points are pixel
// corners: integers in [0, width] x [0, height]. Every polygon
//   - has at least 3 points, no two equal;
//   - is simple: no two of its edges meet except neighbours at their shared
//     point (neighbours never overlap); different polygons may touch, cross
//     or nest;
//   - runs clockwise on screen (y down), so its shoelace sum
//     sum(x[i] * y[i+1] - x[i+1] * y[i]) is positive;
//   - keeps a subset of its outer contour's corners: each dropped corner
//     lies within `tolerance` pixels of the edge that replaces it, the
//     contour runs forward along that edge, and all replacements together
//     change at most 1/42 of the region's own pixel count (holes not
//     counted), so the polygons' union covers the union of the filled
//     regions with an intersection-over-union of at least 41/43 (0.953) at
//     any tolerance, and each polygon its filled region likewise. Where a
//     replacement would make the polygon meet itself, the corners it
//     dropped are kept.
// Tolerance 0, a negative tolerance and NaN keep every corner: the polygons
// are the filled regions' exact outlines (only corners where the outline
// turns). A large or infinite tolerance simplifies as far as the area
// budget allows. Comparisons with the tolerance and the budget are in
// single precision, the same on every platform.
//
// Time and memory are linear in the pixel count: one byte of flags per
// pixel of the image framed by one pixel on each side (256 MiB at the
// largest size, 16384 x 16384; 64 MiB for an 8192 x 8192 frame), a flood
// fill stack of at most two entries per row run of one region, and work
// proportional to the outlines' length (simplification handles outlines in
// pieces of at most 256 edges). Each region is flood-filled twice (to label
// it, then to retire it) and its outer contour walked once.
//
// Returns no polygons when the image is invalid or has no solid pixel.
std::vector<std::vector<Point2D>> TraceColliderPolygons(const Image& image, uint8_t alphaThreshold,
                                                        float tolerance);

// Where a set of rectangles goes in an atlas (PackRectsMaxRects).
struct RectPlacement {
    bool fits = false;               // every rectangle was placed
    int32_t width = 0;               // the atlas's size when `fits`
    int32_t height = 0;
    std::vector<Point2D> positions;  // top-left corner per size, input order
    size_t unplaced = 0;             // how many did not fit when not `fits`
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
// together, the fewest any tried layout left out. A limit below 1 always
// fails, with every rectangle unplaced (an empty `sizes` included).
//
// Deterministic: integer arithmetic only, ties broken by position and fixed
// order, so the same input gives the same placement on every platform.
RectPlacement PackRectsMaxRects(const std::vector<Size2D>& sizes, int32_t maxWidth,
                                int32_t maxHeight, bool powerOfTwo);

}  // namespace Velmora

#endif  // VELMORA_ENGINE_H
