// Images of the file pipeline: the record, and the pure operations that
// trim, crop, compose and compare them. Same rules as velmora_engine.h: no
// state, no printing, failure only through results.
#ifndef VELMORA_IMAGE_H
#define VELMORA_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velmora/workers.h"
#include "velmora_engine.h"

namespace Velmora {

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

// A part of an image: top-left corner and size, in pixels.
struct Area2D {
    int32_t x = 0;
    int32_t y = 0;
    int32_t w = 0;
    int32_t h = 0;
};

// The smallest area holding every pixel whose alpha is above 0. A fully
// transparent image gives the 1 x 1 area at (0, 0). An invalid image gives
// w = h = 0.
Area2D FindOpaqueBounds(const Image& image);

// The pixels of `area` (x, y, w, h) of `image`. Returns an empty Image
// (width 0) when `image` is invalid or `area` is empty or not inside it.
Image CropImage(const Image& image, const Area2D& area);

// Composes an atlas of `width` x `height`, all 0, with images[i] copied so its
// top-left pixel lands at positions[i]; when `extrude` > 0 each image's edge
// pixels are repeated `extrude` times around it (corners included), clipped
// to the atlas. Images are drawn in order, later over earlier.
// Returns false and leaves `atlas` untouched when the atlas size is invalid,
// the two sequences differ in length, an image is invalid, or an image
// (without its extrusion) does not lie wholly inside the atlas.
bool ComposeAtlas(const std::vector<Image>& images, const std::vector<Point2D>& positions,
                  int32_t width, int32_t height, int32_t extrude, Image& atlas);

// A `width` x `height` image, all 0, into `image`; false, and `image`
// untouched, for a size out of range. Its memory is first touched on the
// workers' threads: fresh memory costs a fault per page, which for a large
// atlas is milliseconds that one thread would spend alone.
bool BlankImage(int32_t width, int32_t height, const Workers& workers, Image& image);

// Copies a valid `image` into `atlas` with its top-left pixel at `at`, as
// ComposeAtlas does without extrusion; false, and nothing copied, when it
// does not lie wholly inside. Images that do not overlap may be copied at
// once from several threads.
bool CopyIntoImage(const Image& image, Point2D at, Image& atlas);

// For each image, the index of the first image with the same size and the
// same pixels (its own index when it is the first). Invalid images are never
// duplicates of anything.
std::vector<size_t> FindDuplicateImages(const std::vector<Image>& images);

}  // namespace Velmora

#endif  // VELMORA_IMAGE_H
