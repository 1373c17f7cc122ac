// The rules every collider polygon keeps, checked the same way by the unit
// tests and the fuzz target: at least 3 points, all inside the image,
// simple (no two edges meet except neighbours at their common point), and
// clockwise on screen (y down).
#ifndef VELMORA_TESTS_SUPPORT_POLYGON_RULES_H
#define VELMORA_TESTS_SUPPORT_POLYGON_RULES_H

#include <cstdint>
#include <string>
#include <vector>

#include "velmora_engine.h"

namespace VelmoraTest {

// The sign (-1, 0, 1) of the turn a -> b -> c.
int64_t Orient(const Velmora::Point2D& a, const Velmora::Point2D& b, const Velmora::Point2D& c);

// `p` lies on the closed segment a-b.
bool OnSegment(const Velmora::Point2D& a, const Velmora::Point2D& b, const Velmora::Point2D& p);

// The closed segments a-b and c-d share a point.
bool Meet(const Velmora::Point2D& a, const Velmora::Point2D& b, const Velmora::Point2D& c,
          const Velmora::Point2D& d);

// The first rule `poly` breaks in a `width` x `height` image; "" when it
// keeps them all.
std::string PolygonFault(const std::vector<Velmora::Point2D>& poly, int64_t width, int64_t height);

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_POLYGON_RULES_H
