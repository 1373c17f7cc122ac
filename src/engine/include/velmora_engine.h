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

}  // namespace Velmora

#endif  // VELMORA_ENGINE_H
