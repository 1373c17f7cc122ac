// MaxRects bin packer: keeps every maximal free rectangle of the bin and puts
// each frame at the corner of the free rectangle a heuristic likes best. One
// pass depends heavily on the bin's width, the frame order and the
// heuristic, so a small search over all three keeps the smallest atlas
// (maxrects_search.cpp). Every choice compares integers and breaks ties by position
// or fixed order, never by memory layout, so the result is the same on every
// platform.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>

#include "maxrects_internal.h"

namespace Velmora::MaxRects {
namespace {

// Corners, right and bottom exclusive.
struct Box {
    int32_t x0;
    int32_t y0;
    int32_t x1;
    int32_t y1;
};

int64_t OverlapLength(int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    const int64_t lo = std::max(a0, b0);
    const int64_t hi = std::min(a1, b1);
    return hi > lo ? hi - lo : 0;
}

// floor(sqrt(v)) for v >= 0, in integers so no rounding mode matters.
int64_t SquareRoot(int64_t v) {
    int64_t lo = 0;
    int64_t hi = int64_t{1} << 31;  // v < 2^62
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo + 1) / 2;
        if (mid <= v / mid) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return lo;
}

// One bin of a fixed size and its free rectangles, kept as four columns so
// the scans over them vectorise. No free rectangle lies inside another, and
// the list's order never affects a choice.
class Bin {
public:
    Bin(int32_t width, int32_t height, bool trackUsed) : width_(width), trackUsed_(trackUsed) {
        Push(Box{0, 0, width, height});
    }

    // Where a w x h frame goes; false when no free rectangle holds it.
    bool Find(int32_t w, int32_t h, Heuristic heuristic, Box& where) const {
        switch (heuristic) {
        case Heuristic::BestShortSide: return FindBy<Heuristic::BestShortSide>(w, h, where);
        case Heuristic::BestLongSide: return FindBy<Heuristic::BestLongSide>(w, h, where);
        case Heuristic::BestArea: return FindBy<Heuristic::BestArea>(w, h, where);
        case Heuristic::BottomLeft: return FindBy<Heuristic::BottomLeft>(w, h, where);
        case Heuristic::ContactPoint: return FindBy<Heuristic::ContactPoint>(w, h, where);
        }
        return false;
    }

private:
    // One instance per heuristic keeps the choice out of the inner loop.
    template <Heuristic heuristic>
    bool FindBy(int32_t w, int32_t h, Box& where) const {
        bool found = false;
        int64_t best1 = 0;
        int64_t best2 = 0;
        for (size_t k = 0; k < x0_.size(); ++k) {
            const int64_t leftW = int64_t{x1_[k]} - x0_[k] - w;
            const int64_t leftH = int64_t{y1_[k]} - y0_[k] - h;
            if (leftW < 0 || leftH < 0) {
                continue;
            }
            const Box at{x0_[k], y0_[k], x0_[k] + w, y0_[k] + h};
            int64_t s1 = 0;
            int64_t s2 = 0;
            switch (heuristic) {  // resolved at compile time
            case Heuristic::BestShortSide:
                s1 = std::min(leftW, leftH);
                s2 = std::max(leftW, leftH);
                break;
            case Heuristic::BestLongSide:
                s1 = std::max(leftW, leftH);
                s2 = std::min(leftW, leftH);
                break;
            case Heuristic::BestArea:
                s1 = (leftW + w) * (leftH + h) - int64_t{w} * h;
                s2 = std::min(leftW, leftH);
                break;
            case Heuristic::BottomLeft:
                s1 = at.y1;
                s2 = at.x0;
                break;
            case Heuristic::ContactPoint:
                s1 = -Contact(at);
                s2 = at.y0;
                break;
            }
            // Full tie-break on the corner: the same position wins whatever
            // order the free list is in.
            if (!found || s1 < best1 || (s1 == best1 && s2 < best2) ||
                (s1 == best1 && s2 == best2 && (at.y0 < where.y0 || (at.y0 == where.y0 && at.x0 < where.x0)))) {
                found = true;
                best1 = s1;
                best2 = s2;
                where = at;
            }
        }
        return found;
    }

public:
    // Takes `r` (which lies inside a free rectangle) out of the free space.
    // New free rectangles narrower than `minW` or lower than `minH` are
    // dropped: no frame still to come fits them, and they would only slow
    // every later scan (thin slivers are the most common kind).
    void Place(const Box& r, int32_t minW, int32_t minH) {
        // Few free rectangles meet `r`: eight at a time are tested without
        // a branch, and only a group with a hit is looked at one by one.
        hits_.clear();
        const size_t count = x0_.size();
        constexpr size_t kGroup = 8;
        for (size_t base = 0; base < count; base += kGroup) {
            const size_t end = std::min(count, base + kGroup);
            int any = 0;
            for (size_t k = base; k < end; ++k) {
                any |= Meets(r, k);
            }
            for (size_t k = base; any != 0 && k < end; ++k) {
                if (Meets(r, k) != 0) hits_.push_back(k);
            }
        }
        // Pieces by the side of `r` they lie on. A piece lies inside another
        // only if both lie on the same side (the sides' pieces reach past
        // each other's edges), so each side is checked on its own.
        for (std::vector<Box>& side : fresh_) side.clear();
        for (const size_t k : hits_) {
            const Box f{x0_[k], y0_[k], x1_[k], y1_[k]};
            if (r.x0 > f.x0) {
                fresh_[0].push_back(Box{f.x0, f.y0, r.x0, f.y1});
            }
            if (r.x1 < f.x1) {
                fresh_[1].push_back(Box{r.x1, f.y0, f.x1, f.y1});
            }
            if (r.y0 > f.y0) {
                fresh_[2].push_back(Box{f.x0, f.y0, f.x1, r.y0});
            }
            if (r.y1 < f.y1) {
                fresh_[3].push_back(Box{f.x0, r.y1, f.x1, f.y1});
            }
        }
        // Highest first, so the last rectangle moved into a gap is never
        // one still to be removed.
        for (size_t h = hits_.size(); h-- > 0;) {
            SwapRemove(hits_[h]);
        }
        // Untouched free rectangles were maximal and cannot lie inside a new
        // piece (each piece is part of an old rectangle), so only the pieces
        // need checking: against each other, then against the survivors.
        const size_t kept = x0_.size();
        for (const std::vector<Box>& side : fresh_) {
            for (size_t a = 0; a < side.size(); ++a) {
                const Box& p = side[a];
                bool redundant = p.x1 - p.x0 < minW || p.y1 - p.y0 < minH;
                for (size_t b = 0; b < side.size() && !redundant; ++b) {
                    const Box& q = side[b];
                    const bool inside = q.x0 <= p.x0 && q.y0 <= p.y0 && q.x1 >= p.x1 && q.y1 >= p.y1;
                    const bool same = q.x0 == p.x0 && q.y0 == p.y0 && q.x1 == p.x1 && q.y1 == p.y1;
                    // Of two equal pieces the first stays.
                    redundant = b != a && inside && (!same || b < a);
                }
                if (!redundant && !InsideAny(p, kept)) {
                    Push(p);
                }
            }
        }
        if (trackUsed_) {
            used_.push_back(r);
        }
    }

private:
    void Push(const Box& b) {
        x0_.push_back(b.x0);
        y0_.push_back(b.y0);
        x1_.push_back(b.x1);
        y1_.push_back(b.y1);
    }

    void SwapRemove(size_t k) {
        x0_[k] = x0_.back();
        y0_[k] = y0_.back();
        x1_[k] = x1_.back();
        y1_[k] = y1_.back();
        x0_.pop_back();
        y0_.pop_back();
        x1_.pop_back();
        y1_.pop_back();
    }

    // 1 when free rectangle `k` overlaps `r`, without a branch.
    int Meets(const Box& r, size_t k) const {
        return static_cast<int>(r.x0 < x1_[k]) & static_cast<int>(x0_[k] < r.x1) & static_cast<int>(r.y0 < y1_[k]) &
               static_cast<int>(y0_[k] < r.y1);
    }

    // Whether one of the first `count` free rectangles holds `p`. Branch-free,
    // the hottest loop of a pass.
    bool InsideAny(const Box& p, size_t count) const {
        int hit = 0;
        for (size_t k = 0; k < count; ++k) {
            hit |= static_cast<int>(x0_[k] <= p.x0) & static_cast<int>(y0_[k] <= p.y0) &
                   static_cast<int>(x1_[k] >= p.x1) & static_cast<int>(y1_[k] >= p.y1);
        }
        return hit != 0;
    }

    // Length of `r`'s border touching the bin's edges or placed frames.
    int64_t Contact(const Box& r) const {
        int64_t score = 0;
        if (r.x0 == 0 || r.x1 == width_) {
            score += int64_t{r.y1} - r.y0;
        }
        // The bin's bottom is only a limit: the atlas is cut below the
        // lowest frame, so resting on it is no contact.
        if (r.y0 == 0) {
            score += int64_t{r.x1} - r.x0;
        }
        for (const Box& u : used_) {
            if (u.x0 == r.x1 || u.x1 == r.x0) {
                score += OverlapLength(r.y0, r.y1, u.y0, u.y1);
            }
            if (u.y0 == r.y1 || u.y1 == r.y0) {
                score += OverlapLength(r.x0, r.x1, u.x0, u.x1);
            }
        }
        return score;
    }

    int32_t width_;
    bool trackUsed_;
    std::vector<int32_t> x0_;
    std::vector<int32_t> y0_;
    std::vector<int32_t> x1_;
    std::vector<int32_t> y1_;
    std::vector<size_t> hits_;
    std::vector<Box> fresh_[4];
    std::vector<Box> used_;
};

}  // namespace

int64_t RoundUpPowerOfTwo(int64_t v) {
    int64_t p = 1;
    while (p < v) {
        p <<= 1;
    }
    return p;
}

int32_t RoundDownPowerOfTwo(int32_t v) {
    int32_t p = 1;
    while (p <= v / 2) {
        p <<= 1;
    }
    return p;
}

std::vector<size_t> SortedOrder(const std::vector<Size2D>& sizes, const std::vector<size_t>& valid, Order order) {
    auto key = [&](size_t i) {
        const int64_t w = sizes[i].w;
        const int64_t h = sizes[i].h;
        switch (order) {
        case Order::Height: return std::make_pair(h, w);
        case Order::MaxSide: return std::make_pair(std::max(w, h), std::min(w, h));
        case Order::Area: return std::make_pair(w * h, std::max(w, h));
        case Order::Width: return std::make_pair(w, h);
        case Order::Perimeter: return std::make_pair(w + h, std::max(w, h));
        }
        return std::make_pair(int64_t{0}, int64_t{0});
    };
    std::vector<size_t> indices = valid;
    // Largest first; stable, so equal keys keep input order.
    std::stable_sort(indices.begin(), indices.end(), [&](size_t a, size_t b) { return key(a) > key(b); });
    return indices;
}

bool RunPass(const std::vector<Size2D>& sizes, const std::vector<size_t>& order, int32_t binWidth,
             int32_t binHeight, Heuristic heuristic, bool powerOfTwo, int64_t boundArea, Outcome& out) {
    Bin bin(binWidth, binHeight, heuristic == Heuristic::ContactPoint);
    out.unplaced = 0;
    out.leftOut.clear();
    out.positions.assign(sizes.size(), Point2D{});
    // The smallest width and height among the frames still to come.
    std::vector<Size2D> smallest(order.size() + 1, Size2D{std::numeric_limits<int32_t>::max(),
                                                          std::numeric_limits<int32_t>::max()});
    for (size_t k = order.size(); k-- > 0;) {
        smallest[k].w = std::min(smallest[k + 1].w, sizes[order[k]].w);
        smallest[k].h = std::min(smallest[k + 1].h, sizes[order[k]].h);
    }
    int64_t right = 0;
    int64_t bottom = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t i = order[k];
        Box where{};
        if (!bin.Find(sizes[i].w, sizes[i].h, heuristic, where)) {
            ++out.unplaced;
            out.leftOut.push_back(i);
            continue;
        }
        bin.Place(where, smallest[k + 1].w, smallest[k + 1].h);
        out.positions[i] = Point2D{where.x0, where.y0};
        right = std::max<int64_t>(right, where.x1);
        bottom = std::max<int64_t>(bottom, where.y1);
        if (boundArea != kNoArea) {
            const int64_t w = powerOfTwo ? RoundUpPowerOfTwo(right) : right;
            const int64_t h = powerOfTwo ? RoundUpPowerOfTwo(bottom) : bottom;
            if (w * h > boundArea) {
                return false;
            }
        }
    }
    out.width = powerOfTwo ? RoundUpPowerOfTwo(right) : right;
    out.height = powerOfTwo ? RoundUpPowerOfTwo(bottom) : bottom;
    return true;
}

// Bin widths to try, most promising first: around the square root of the
// total area (a square-ish atlas wastes least), the narrowest width that can
// hold everything, for power-of-two atlases the powers of two in between,
// and the whole limit (which holds the most when little fits).
std::vector<int32_t> CandidateWidths(const std::vector<Size2D>& sizes, const std::vector<size_t>& valid,
                                     int32_t limitWidth, int32_t limitHeight, bool powerOfTwo, size_t count) {
    // The total stops at the bin's area (below 2^62): past it nothing more
    // can fit anyway, and the sum cannot overflow.
    const int64_t binArea = int64_t{limitWidth} * limitHeight;
    int64_t total = 0;
    int64_t widest = 1;
    for (const size_t i : valid) {
        total = std::min(binArea, total + int64_t{sizes[i].w} * sizes[i].h);
        widest = std::max<int64_t>(widest, sizes[i].w);
    }
    const int64_t narrowest = std::max(widest, (total + limitHeight - 1) / limitHeight);
    const int64_t side = SquareRoot(total);
    // Multiples of the side in twentieths, nearest the square first.
    static const int64_t kTwentieths[] = {20, 16, 25, 18, 22, 14, 30, 21, 19, 24, 17, 27, 15, 23};
    std::vector<int64_t> raw;
    for (size_t k = 0; k < count && k < sizeof kTwentieths / sizeof kTwentieths[0]; ++k) {
        raw.push_back((side * kTwentieths[k] + 19) / 20);
    }
    raw.push_back(narrowest);
    if (powerOfTwo) {
        const int64_t top = 2 * RoundUpPowerOfTwo(side + 1);
        for (int64_t p = RoundUpPowerOfTwo(narrowest); p <= limitWidth && p <= top; p <<= 1) {
            raw.push_back(p);
        }
    }
    raw.push_back(limitWidth);
    std::vector<int32_t> widths;
    for (const int64_t w : raw) {
        const auto clamped = static_cast<int32_t>(std::min<int64_t>(std::max(w, narrowest), limitWidth));
        if (std::find(widths.begin(), widths.end(), clamped) == widths.end()) {
            widths.push_back(clamped);
        }
    }
    return widths;
}

}  // namespace Velmora::MaxRects
