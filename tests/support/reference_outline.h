// The outline tracer's definition, written as plainly as possible for the
// unit tests and the fuzz target to compare GenerateCollisionHull with:
// four passes (columns from the top, rows from the right, columns from the
// bottom, rows from the left), every `step`-th scan line, each giving the
// first pixel it meets whose alpha is at least the threshold.
#ifndef VELMORA_TESTS_SUPPORT_REFERENCE_OUTLINE_H
#define VELMORA_TESTS_SUPPORT_REFERENCE_OUTLINE_H

#include <cstdint>
#include <vector>

#include "velmora_engine.h"

namespace VelmoraTest {

enum class Side { Top, Right, Bottom, Left };

struct OutlinePoint {
    Velmora::Point2D point;
    Side side;  // the side its pass looks from
};

// For a valid frame only: width, height and step >= 1 and at least
// width * height pixels (ARGB, alpha in the top byte).
std::vector<OutlinePoint> ReferenceOutline(const std::vector<uint32_t>& pixels, int64_t width, int64_t height,
                                           uint8_t threshold, int64_t step);

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_REFERENCE_OUTLINE_H
