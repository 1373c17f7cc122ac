// Resampling an image by a scale factor, for the scale variants of an atlas
// (the same frames at 0.5x, 2x, ...). Same rules as velmora_engine.h: no
// state, no printing, failure only through results.
#ifndef VELMORA_RESAMPLE_H
#define VELMORA_RESAMPLE_H

#include <cstdint>

#include "velmora/image.h"

namespace Velmora {

// A scale factor as an exact fraction, so every size rounds the same way on
// every platform (0.1 has no exact binary form: 70 * 0.1 in floating point
// is not 7). Valid when both parts are at least 1.
struct ScaleFactor {
    int32_t numerator = 1;
    int32_t denominator = 1;
};

enum class ResampleFilter {
    // Painted art: filtered in premultiplied alpha, so soft edges keep their
    // colour. Mitchell-Netravali (B = C = 1/3) where a side shrinks,
    // Catmull-Rom where it grows; a side that keeps its length is copied.
    Smooth,
    // Pixel art: each output pixel is the input pixel under its centre, so
    // no new colour appears. Exact for whole factors (2, 3) and for their
    // inverses on art drawn that many times larger.
    Nearest,
};

// One side after scaling: ceil(side * factor), at least 1, computed exactly.
// The same rounding as peers that resize sprites before packing, so a
// half-size variant of a 3-pixel frame still shows its last column.
// Returns 0 when `side` is below 1 or the factor is invalid.
int64_t ScaledSide(int32_t side, ScaleFactor factor);

enum class ResampleFailure {
    None,
    InvalidImage,  // the image is not valid (IsValidImage)
    InvalidScale,  // a part of the factor is below 1
    TooLarge,      // a scaled side passes kMaxImageSide
};

struct ResampleResult {
    ResampleFailure failure = ResampleFailure::None;
    Image image;  // the scaled image when `failure` is None, otherwise empty
    Size2D size;  // the scaled size (also with TooLarge, for the message)
};

// `image` resampled to ScaledSide(width) x ScaledSide(height).
//
// A factor of exactly 1 returns the image unchanged. Otherwise every output
// pixel whose alpha is 0 has RGB 0 too, so the bytes never depend on the
// colour hidden under transparent input pixels. Smooth filtering weights
// each input pixel's colour by its alpha (colour of fully transparent pixels
// has no effect), clamps at the image's edges (the border pixels repeat
// outward), works on the stored 8-bit values as they are (no conversion to
// linear light, as other sprite tools do) and rounds to nearest.
//
// Deterministic: single-precision arithmetic without contraction or
// reordering, so the bytes are the same on every compiler, optimisation
// level and platform.
//
// Fails, with an empty image, when the image or the factor is invalid, or
// when the scaled size passes kMaxImageSide (nothing is allocated then).
// Memory: the result, and for Smooth about 16 bytes per pixel of one
// scaled row per filter tap.
ResampleResult ResampleImage(const Image& image, ScaleFactor factor, ResampleFilter filter);

}  // namespace Velmora

#endif  // VELMORA_RESAMPLE_H
