#include "polygon_rules.h"

#include <algorithm>

namespace VelmoraTest {

using Velmora::Point2D;

int64_t Orient(const Point2D& a, const Point2D& b, const Point2D& c) {
    const int64_t v = int64_t{b.x - a.x} * (c.y - a.y) - int64_t{b.y - a.y} * (c.x - a.x);
    return (v > 0) - (v < 0);
}

bool OnSegment(const Point2D& a, const Point2D& b, const Point2D& p) {
    return Orient(a, b, p) == 0 && std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) &&
           std::min(a.y, b.y) <= p.y && p.y <= std::max(a.y, b.y);
}

bool Meet(const Point2D& a, const Point2D& b, const Point2D& c, const Point2D& d) {
    if (Orient(a, b, c) * Orient(a, b, d) < 0 && Orient(c, d, a) * Orient(c, d, b) < 0) return true;
    return OnSegment(a, b, c) || OnSegment(a, b, d) || OnSegment(c, d, a) || OnSegment(c, d, b);
}

std::string PolygonFault(const std::vector<Point2D>& poly, int64_t width, int64_t height) {
    const size_t m = poly.size();
    if (m < 3) return "fewer than 3 points";
    int64_t twiceArea = 0;
    for (size_t i = 0; i < m; ++i) {
        const Point2D& a = poly[i];
        const Point2D& b = poly[(i + 1) % m];
        if (a.x < 0 || a.y < 0 || a.x > width || a.y > height) return "point out of bounds";
        twiceArea += int64_t{a.x} * b.y - int64_t{b.x} * a.y;
        // Neighbours share only their common point.
        const Point2D& c = poly[(i + 2) % m];
        if (OnSegment(a, b, c) || OnSegment(b, c, a)) return "neighbouring edges overlap";
        for (size_t j = i + 2; j < m; ++j) {
            if ((j + 1) % m != i && Meet(a, b, poly[j], poly[(j + 1) % m])) {
                return "edges " + std::to_string(i) + " and " + std::to_string(j) + " meet";
            }
        }
    }
    return twiceArea > 0 ? "" : "not clockwise on screen";
}

}  // namespace VelmoraTest
