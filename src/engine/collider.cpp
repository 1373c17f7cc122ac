// Collision polygons from an alpha mask: label one 4-connected region at a
// time, walk its outer contour along pixel edges (its holes end up inside),
// then drop corners while the outline stays within the distance tolerance
// and the region's area budget, and put corners back wherever the shortened
// outline would cross or touch itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "velmora/collider.h"

namespace Velmora {
namespace {

// Per-pixel flags of the working mask.
constexpr uint8_t kSolid = 1;
constexpr uint8_t kCurrent = 2;  // in the region being traced
constexpr uint8_t kDone = 4;     // in a region already traced

// Simplification works on pieces of at most this many outline edges, which
// caps its worst case at kMaxSpan / 2 corner visits per corner.
constexpr size_t kMaxSpan = 256;

// All shortcuts of a region together may change at most this share of its
// pixel count, so the polygons' union covers the filled regions with
// IoU >= 41/43.
constexpr float kAreaShare = 1.0f / 42.0f;

// Bounded repair: past this many rounds the traced outline is used as is.
constexpr int kMaxRepairRounds = 32;

// The image's flags inside an empty one-pixel frame, so that the pixels
// around any corner in [0, width] x [0, height] can be read unchecked.
struct Mask {
    size_t stride;  // width + 2
    std::vector<uint8_t> flags;

    size_t Index(int32_t x, int32_t y) const {
        return (static_cast<size_t>(y) + 1) * stride + static_cast<size_t>(x) + 1;
    }
};

// Scanline flood fill from `seed` through the 4-connected pixels whose
// flags, masked by `test`, equal `want`; each gets `set` and loses `clear`,
// which must close it. Returns the number of pixels changed. The frame's
// flags are 0, so a `want` with a bit set never leaves the image.
size_t Fill(Mask& mask, size_t seed, uint8_t test, uint8_t want, uint8_t set, uint8_t clear,
            std::vector<size_t>& stack) {
    std::vector<uint8_t>& flags = mask.flags;
    const size_t stride = mask.stride;
    const auto open = [&](size_t i) { return (flags[i] & test) == want; };
    const auto keep = static_cast<uint8_t>(~clear);
    size_t changed = 0;
    stack.clear();
    stack.push_back(seed);
    while (!stack.empty()) {
        const size_t s = stack.back();
        stack.pop_back();
        if (!open(s)) {
            continue;
        }
        size_t left = s;
        size_t right = s;
        while (open(left - 1)) {
            --left;
        }
        while (open(right + 1)) {
            ++right;
        }
        for (size_t i = left; i <= right; ++i) {
            flags[i] = static_cast<uint8_t>((flags[i] & keep) | set);
        }
        changed += right - left + 1;
        for (const size_t row : {left - stride, left + stride}) {
            bool previous = false;
            for (size_t i = row; i <= row + (right - left); ++i) {
                const bool now = open(i);
                if (now && !previous) {
                    stack.push_back(i);
                }
                previous = now;
            }
        }
    }
    return changed;
}

// Directions in clockwise order on screen: east, south, west, north.
constexpr int32_t kStepX[4] = {1, 0, -1, 0};
constexpr int32_t kStepY[4] = {0, 1, 0, -1};

// Walks the outer contour of the region flagged kCurrent from the top-left
// corner of its first pixel (sx, sy), heading east with the region on the
// right, and records the corners where it turns.
//
// At each corner the walk turns left if the pixel ahead-left is in the
// region, goes straight if the pixel ahead-right is, and turns right
// otherwise. The pixel on the left of every edge walked lies outside the
// region and its holes, so where the region touches itself only at a corner
// the left turn keeps that outside pixel on the left and walls the other
// one in: it lies in a hole. The walk is thus the boundary of the region
// with its holes filled, which has no such pinch, and passes every corner
// once: a simple closed curve.
void TraceOutline(const Mask& mask, int32_t sx, int32_t sy, std::vector<Point2D>& corners) {
    const auto stride = static_cast<ptrdiff_t>(mask.stride);
    const ptrdiff_t step[4] = {1, stride, -1, -stride};
    // From the pixel south-east of a corner to the four around it, clockwise
    // from north-east: facing d, around[d] is ahead-left and around[d + 1]
    // ahead-right.
    const ptrdiff_t around[4] = {-stride, 0, -1, -stride - 1};
    const auto inRegion = [&](ptrdiff_t i) { return (mask.flags[static_cast<size_t>(i)] & kCurrent) != 0; };
    corners.clear();
    corners.push_back(Point2D{sx, sy});
    auto at = static_cast<ptrdiff_t>(mask.Index(sx, sy));
    int32_t x = sx;
    int32_t y = sy;
    int dir = 0;
    for (;;) {
        at += step[dir];
        x += kStepX[dir];
        y += kStepY[dir];
        const int right = (dir + 1) & 3;
        const int next = inRegion(at + around[dir]) ? (dir + 3) & 3 : inRegion(at + around[right]) ? dir : right;
        if (next != dir) {
            if (x == sx && y == sy) {
                return;
            }
            corners.push_back(Point2D{x, y});
        }
        dir = next;
    }
}

int64_t Cross(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    return ax * by - ay * bx;
}

int Orientation(const Point2D& a, const Point2D& b, const Point2D& c) {
    const int64_t v = Cross(int64_t{b.x} - a.x, int64_t{b.y} - a.y, int64_t{c.x} - a.x, int64_t{c.y} - a.y);
    return (v > 0) - (v < 0);
}

// p, known to be on the line through a and b, lies on the segment.
bool Within(const Point2D& a, const Point2D& b, const Point2D& p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// The closed segments ab and cd have a point in common.
bool SegmentsMeet(const Point2D& a, const Point2D& b, const Point2D& c, const Point2D& d) {
    const int o1 = Orientation(a, b, c);
    const int o2 = Orientation(a, b, d);
    const int o3 = Orientation(c, d, a);
    const int o4 = Orientation(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) {
        return true;
    }
    return (o1 == 0 && Within(a, b, c)) || (o2 == 0 && Within(a, b, d)) || (o3 == 0 && Within(c, d, a)) ||
           (o4 == 0 && Within(c, d, b));
}

// A uniform grid over the polygon's bounding box with about two cells per
// edge; each edge is listed in every cell its segment passes through.
class EdgeGrid {
public:
    explicit EdgeGrid(const std::vector<Point2D>& poly) : poly_(poly) {
        minX_ = maxX_ = poly.front().x;
        minY_ = maxY_ = poly.front().y;
        for (const Point2D& p : poly) {
            minX_ = std::min<int64_t>(minX_, p.x);
            maxX_ = std::max<int64_t>(maxX_, p.x);
            minY_ = std::min<int64_t>(minY_, p.y);
            maxY_ = std::max<int64_t>(maxY_, p.y);
        }
        const auto limit = static_cast<int64_t>(2 * poly.size());
        while (((maxX_ - minX_) / cell_ + 1) * ((maxY_ - minY_) / cell_ + 1) > limit) {
            cell_ *= 2;
        }
        cols_ = (maxX_ - minX_) / cell_ + 1;
        const int64_t rows = (maxY_ - minY_) / cell_ + 1;
        start_.assign(static_cast<size_t>(cols_ * rows) + 1, 0);
        for (size_t e = 0; e < poly.size(); ++e) {
            ForEachCell(e, [&](size_t cell) { ++start_[cell + 1]; });
        }
        for (size_t i = 1; i < start_.size(); ++i) {
            start_[i] += start_[i - 1];
        }
        std::vector<size_t> fill(start_.begin(), start_.end() - 1);
        edges_.resize(start_.back());
        for (size_t e = 0; e < poly.size(); ++e) {
            ForEachCell(e, [&](size_t cell) { edges_[fill[cell]++] = e; });
        }
    }

    // Flags both edges of every non-neighbouring pair that meets.
    void FlagMeetings(std::vector<char>& bad) const {
        const size_t m = poly_.size();
        for (size_t c = 0; c + 1 < start_.size(); ++c) {
            for (size_t i = start_[c]; i < start_[c + 1]; ++i) {
                for (size_t j = i + 1; j < start_[c + 1]; ++j) {
                    const size_t e = edges_[i];
                    const size_t f = edges_[j];
                    if ((e + 1) % m == f || (f + 1) % m == e) {
                        continue;
                    }
                    if (SegmentsMeet(poly_[e], poly_[(e + 1) % m], poly_[f], poly_[(f + 1) % m])) {
                        bad[e] = 1;
                        bad[f] = 1;
                    }
                }
            }
        }
    }

private:
    // Column by column, the rows the segment spans within that column; a
    // point on a cell border lands in the same cell for every segment.
    template <typename F>
    void ForEachCell(size_t e, F&& visit) const {
        Point2D a = poly_[e];
        Point2D b = poly_[(e + 1) % poly_.size()];
        if (a.x > b.x) {
            std::swap(a, b);
        }
        const int64_t dx = int64_t{b.x} - a.x;
        const int64_t dy = int64_t{b.y} - a.y;
        const auto rowAt = [&](int64_t x) {
            return ((int64_t{a.y} - minY_) * dx + (x - a.x) * dy) / (dx * cell_);
        };
        for (int64_t col = (a.x - minX_) / cell_; col <= (b.x - minX_) / cell_; ++col) {
            int64_t r0 = 0;
            int64_t r1 = 0;
            if (dx == 0) {
                r0 = (std::min(a.y, b.y) - minY_) / cell_;
                r1 = (std::max(a.y, b.y) - minY_) / cell_;
            } else {
                r0 = rowAt(std::max<int64_t>(a.x, minX_ + col * cell_));
                r1 = rowAt(std::min<int64_t>(b.x, minX_ + (col + 1) * cell_));
                if (r0 > r1) {
                    std::swap(r0, r1);
                }
            }
            for (int64_t row = r0; row <= r1; ++row) {
                visit(static_cast<size_t>(row * cols_ + col));
            }
        }
    }

    const std::vector<Point2D>& poly_;
    int64_t minX_ = 0;
    int64_t maxX_ = 0;
    int64_t minY_ = 0;
    int64_t maxY_ = 0;
    int64_t cell_ = 1;
    int64_t cols_ = 1;
    std::vector<size_t> start_;
    std::vector<size_t> edges_;
};

// Per edge of `poly`, whether it breaks simplicity: meets a non-neighbouring
// edge, or doubles back over its neighbour.
void FlagBadEdges(const std::vector<Point2D>& poly, std::vector<char>& bad) {
    const size_t m = poly.size();
    bad.assign(m, 0);
    for (size_t e = 0; e < m; ++e) {
        const Point2D& a = poly[e];
        const Point2D& b = poly[(e + 1) % m];
        const Point2D& c = poly[(e + 2) % m];
        const int64_t dot = (int64_t{a.x} - b.x) * (int64_t{c.x} - b.x) + (int64_t{a.y} - b.y) * (int64_t{c.y} - b.y);
        if (Orientation(a, b, c) == 0 && dot > 0) {
            bad[e] = 1;
            bad[(e + 1) % m] = 1;
        }
    }
    if (m > 3) {
        EdgeGrid(poly).FlagMeetings(bad);
    }
}

struct Span {
    size_t first;
    size_t last;  // may equal the corner count: the first corner again
};

// A chord that may replace the corners strictly between its ends.
struct Shortcut {
    bool fits;     // within tolerance, outline running forward along it
    float cost;    // upper bound on the area between chord and outline
    size_t split;  // the corner farthest from the chord
};

class Simplifier {
public:
    Simplifier(const std::vector<Point2D>& corners, float tolerance2)
        : corners_(corners), tolerance2_(tolerance2) {}

    // The area between outline and chord is bounded exactly, in integers,
    // by integrating each edge's larger distance from the chord; it is
    // exact where the outline does not cross the chord.
    Shortcut Evaluate(const Span& span) const {
        const Point2D& a = At(span.first);
        const Point2D& b = At(span.last);
        const int64_t dx = int64_t{b.x} - a.x;
        const int64_t dy = int64_t{b.y} - a.y;
        int64_t farthest = -1;
        int64_t previous = 0;
        int64_t swept = 0;  // twice the squared chord length times the area
        bool forward = true;
        Point2D p = a;
        Shortcut result{false, 0.0f, span.first + 1};
        for (size_t k = span.first + 1; k <= span.last; ++k) {
            const Point2D& q = At(k);
            const int64_t along = dx * (int64_t{q.x} - p.x) + dy * (int64_t{q.y} - p.y);
            const int64_t offset = Cross(dx, dy, int64_t{q.x} - a.x, int64_t{q.y} - a.y);
            const int64_t distance = offset < 0 ? -offset : offset;
            if (k < span.last && distance > farthest) {
                farthest = distance;
                result.split = k;
            }
            forward = forward && along >= 0;
            if (forward) {
                swept += along * (previous + distance);
            }
            previous = distance;
            p = q;
        }
        const auto far = static_cast<float>(farthest);
        const auto chord2 = static_cast<float>(dx * dx + dy * dy);
        result.fits = forward && far * far <= tolerance2_ * chord2;
        result.cost = static_cast<float>(swept) / (2.0f * chord2);
        return result;
    }

private:
    const Point2D& At(size_t k) const { return corners_[k == corners_.size() ? 0 : k]; }

    const std::vector<Point2D>& corners_;
    float tolerance2_;
};

struct Candidate {
    float costPerCorner;
    float cost;
    Span span;
    size_t split;
};

// Cheapest area per dropped corner first; ties in outline order.
struct MoreCostly {
    bool operator()(const Candidate& l, const Candidate& r) const {
        return l.costPerCorner != r.costPerCorner ? l.costPerCorner > r.costPerCorner
                                                  : l.span.first > r.span.first;
    }
};

struct Scratch {
    std::vector<Point2D> corners;
    std::vector<char> keep;
    std::vector<Span> stack;
    std::vector<Candidate> heap;
    std::vector<size_t> order;
    std::vector<Point2D> poly;
    std::vector<char> bad;
};

int64_t TwiceArea(const std::vector<Point2D>& poly) {
    int64_t sum = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Point2D& a = poly[i];
        const Point2D& b = poly[(i + 1) % poly.size()];
        sum += Cross(a.x, a.y, b.x, b.y);
    }
    return sum;
}

// Douglas-Peucker on the spans on the stack: every span within tolerance
// becomes a candidate, the others are split at their farthest corner.
void SplitToCandidates(const Simplifier& simplifier, Scratch& s) {
    while (!s.stack.empty()) {
        const Span span = s.stack.back();
        s.stack.pop_back();
        if (span.last - span.first < 2) {
            continue;
        }
        const Shortcut cut = simplifier.Evaluate(span);
        if (cut.fits) {
            const auto dropped = static_cast<float>(span.last - span.first - 1);
            s.heap.push_back(Candidate{cut.cost / dropped, cut.cost, span, cut.split});
            std::push_heap(s.heap.begin(), s.heap.end(), MoreCostly{});
        } else {
            s.keep[cut.split] = 1;
            s.stack.push_back(Span{span.first, cut.split});
            s.stack.push_back(Span{cut.split, span.last});
        }
    }
}

// `pixels` is the region's own pixel count: nested regions' polygons overlap
// this one, so budgets by filled area could add up to more than the union.
std::vector<Point2D> Simplify(float tolerance2, size_t pixels, Scratch& s) {
    const std::vector<Point2D>& corners = s.corners;
    const size_t n = corners.size();
    // A rectangle keeps its corners: dropping one costs half its area.
    if (n <= 4) {
        return corners;
    }
    float budget = kAreaShare * static_cast<float>(pixels);
    const Simplifier simplifier(corners, tolerance2);
    // Anchors: the first corner and the one farthest from it, both on the
    // convex hull; pieces of at most kMaxSpan edges between.
    size_t far = 1;
    int64_t farDistance = -1;
    for (size_t k = 1; k < n; ++k) {
        const int64_t ex = int64_t{corners[k].x} - corners[0].x;
        const int64_t ey = int64_t{corners[k].y} - corners[0].y;
        if (ex * ex + ey * ey > farDistance) {
            farDistance = ex * ex + ey * ey;
            far = k;
        }
    }
    s.keep.assign(n, 0);
    s.stack.clear();
    s.heap.clear();
    for (const Span piece : {Span{0, far}, Span{far, n}}) {
        for (size_t from = piece.first; from < piece.last; from += kMaxSpan) {
            s.keep[from] = 1;
            s.stack.push_back(Span{from, std::min(from + kMaxSpan, piece.last)});
        }
    }
    SplitToCandidates(simplifier, s);
    // Spend the region's area budget on the shortcuts that drop corners
    // most cheaply; one that no longer fits is split and its halves compete.
    while (!s.heap.empty()) {
        std::pop_heap(s.heap.begin(), s.heap.end(), MoreCostly{});
        const Candidate best = s.heap.back();
        s.heap.pop_back();
        if (best.cost <= budget) {
            budget -= best.cost;
            continue;
        }
        s.keep[best.split] = 1;
        s.stack.push_back(Span{best.span.first, best.split});
        s.stack.push_back(Span{best.split, best.span.last});
        SplitToCandidates(simplifier, s);
    }

    // Put back the corners of every shortcut that meets another edge until
    // none does; the traced outline itself is simple, so this ends.
    for (int round = 0;; ++round) {
        s.order.clear();
        s.poly.clear();
        for (size_t k = 0; k < n; ++k) {
            if (s.keep[k] != 0) {
                s.order.push_back(k);
                s.poly.push_back(corners[k]);
            }
        }
        if (s.order.size() == n) {
            return s.poly;
        }
        FlagBadEdges(s.poly, s.bad);
        bool flagged = false;
        bool restored = false;
        for (size_t e = 0; e < s.order.size(); ++e) {
            if (s.bad[e] == 0) {
                continue;
            }
            flagged = true;
            const size_t last = e + 1 < s.order.size() ? s.order[e + 1] : n;
            for (size_t k = s.order[e] + 1; k < last; ++k) {
                s.keep[k] = 1;
                restored = true;
            }
        }
        if (!flagged && s.poly.size() >= 3 && TwiceArea(s.poly) > 0) {
            return s.poly;
        }
        if (!restored || round == kMaxRepairRounds) {
            return corners;
        }
    }
}

}  // namespace

std::vector<std::vector<Point2D>> TraceColliderPolygons(const Image& image, uint8_t alphaThreshold,
                                                        float tolerance) {
    std::vector<std::vector<Point2D>> polygons;
    if (image.width < 1 || image.height < 1 || image.width > kMaxImageSide || image.height > kMaxImageSide ||
        image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
        return polygons;
    }
    // NaN and negative tolerances keep every corner; +inf leaves only the
    // area budget in force.
    const float clamped = tolerance > 0.0f ? tolerance : 0.0f;
    const float tolerance2 = clamped * clamped;

    const int32_t w = image.width;
    Mask mask{static_cast<size_t>(w) + 2,
              std::vector<uint8_t>((static_cast<size_t>(w) + 2) * (static_cast<size_t>(image.height) + 2), 0)};
    for (int32_t y = 0; y < image.height; ++y) {
        const uint32_t* row = image.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        uint8_t* out = mask.flags.data() + mask.Index(0, y);
        for (int32_t x = 0; x < w; ++x) {
            out[x] = (row[x] >> 24) >= alphaThreshold ? kSolid : uint8_t{0};
        }
    }

    Scratch scratch;
    std::vector<size_t> stack;
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = mask.Index(x, y);
            // A solid pixel of no traced region is the first of a new one.
            if (mask.flags[i] != kSolid) {
                continue;
            }
            const size_t pixels = Fill(mask, i, kSolid | kCurrent | kDone, kSolid, kCurrent, 0, stack);
            TraceOutline(mask, x, y, scratch.corners);
            polygons.push_back(Simplify(tolerance2, pixels, scratch));
            Fill(mask, i, kCurrent, kCurrent, kDone, kCurrent, stack);
        }
    }
    return polygons;
}

}  // namespace Velmora
