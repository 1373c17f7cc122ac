#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <string>

#include "polygon_rules.h"
#include "velmora/collider.h"
#include "velmora/image.h"
#include "velmora_engine.h"

namespace {

using Velmora::Image;
using Velmora::Point2D;
using Polygons = std::vector<std::vector<Point2D>>;
using Mask = std::vector<std::vector<bool>>;  // [y][x]

// Solid pixels opaque with varying colour, others transparent.
Image FromMask(const Mask& mask) {
    Image image{static_cast<int32_t>(mask[0].size()), static_cast<int32_t>(mask.size()), {}};
    for (const auto& row : mask) {
        for (const bool solid : row) {
            image.pixels.push_back((solid ? 0xFF000000u : 0u) | static_cast<uint32_t>(image.pixels.size() * 977u % 0xFFFFFFu));
        }
    }
    return image;
}

template <typename F>
Mask Draw(int w, int h, F solid) {
    Mask mask(static_cast<size_t>(h), std::vector<bool>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            mask[static_cast<size_t>(y)][static_cast<size_t>(x)] = solid(x, y);
        }
    }
    return mask;
}

Mask Blobs(unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::array<int, 3>> discs(4 + rng() % 4);
    for (auto& d : discs) {
        d = {static_cast<int>(rng() % 96), static_cast<int>(rng() % 96), 6 + static_cast<int>(rng() % 18)};
    }
    return Draw(96, 96, [&](int x, int y) {
        return std::any_of(discs.begin(), discs.end(), [&](const auto& d) {
            return (x - d[0]) * (x - d[0]) + (y - d[1]) * (y - d[1]) <= d[2] * d[2];
        });
    });
}

// A, B, O and R as 5 x 7 block letters one cell apart, cells of 6 pixels:
// each has a hole.
Mask Letters() {
    const char* glyphs[4][7] = {
        {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"},
        {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "},
        {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "},
        {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"},
    };
    return Draw(4 * 6 * 6 + 4, 7 * 6 + 4, [&](int x, int y) {
        const int cx = (x - 2) / 6;
        const int cy = (y - 2) / 6;
        return x >= 2 && y >= 2 && cy < 7 && cx < 24 && cx % 6 < 5 && glyphs[cx / 6][cy][cx % 6] == '#';
    });
}

Mask Ring(int inner, int outer) {
    return Draw(2 * outer + 3, 2 * outer + 3, [&](int x, int y) {
        const int r2 = (x - outer - 1) * (x - outer - 1) + (y - outer - 1) * (y - outer - 1);
        return r2 >= inner * inner && r2 <= outer * outer;
    });
}

// Lines of slope num/den, `thickness` pixels across horizontally.
Mask Lines(int num, int den, int thickness) {
    return Draw(80, 80, [&](int x, int y) {
        const int off = x - (y * den) / num;
        return off >= 0 && off < thickness && (y / 20) % 2 == 0;
    });
}

// A ring of radius 9 to 12 with a disc of radius 2 at the centre of its
// hole and, if `touching`, a pixel touching the ring's inner side at a corner.
Mask RingWithDot(bool touching) {
    return Draw(27, 27, [&](int x, int y) {
        const int r2 = (x - 13) * (x - 13) + (y - 13) * (y - 13);
        return (r2 >= 81 && r2 <= 144) || r2 <= 4 || (touching && x == 7 && y == 8);
    });
}

// Three concentric rings around a dot: four regions, each in the hole of
// the one around it.
Mask NestedRings() {
    return Draw(31, 31, [](int x, int y) {
        const int r2 = (x - 15) * (x - 15) + (y - 15) * (y - 15);
        return r2 <= 2 || (r2 >= 16 && r2 <= 36) || (r2 >= 64 && r2 <= 121) || (r2 >= 169 && r2 <= 225);
    });
}

// One region around a three-pixel hole, touching itself at a corner of the
// hole (turned by `turns` quarter turns, one pixel of margin):
//   ####
//   #..#
//   #.#.
//   ###.
constexpr const char* kPinch[4] = {"####", "#..#", "#.#.", "###."};
Mask Pinch(int turns) {
    return Draw(6, 6, [&](int x, int y) {
        int u = x - 1;
        int v = y - 1;
        for (int t = 0; t < turns; ++t) {
            const int old = u;
            u = v;
            v = 3 - old;
        }
        return u >= 0 && v >= 0 && u < 4 && v < 4 && kPinch[v][u] == '#';
    });
}

struct Set {
    std::string name;
    std::vector<Image> images;
};

std::vector<Set> TestSets() {
    std::vector<Set> sets(10);
    sets[0].name = "sample frames";
    for (const Velmora::SpriteFrame& f : Velmora::CreateSampleSprites()) {
        sets[0].images.push_back(Image{f.width, f.height, f.pixels});
    }
    sets[1].name = "random blobs";
    for (unsigned seed = 1; seed <= 8; ++seed) {
        sets[1].images.push_back(FromMask(Blobs(seed)));
    }
    sets[2] = {"letters", {FromMask(Letters())}};
    sets[3] = {"rings", {FromMask(Ring(5, 9)), FromMask(Ring(20, 23)), FromMask(Ring(30, 40))}};
    sets[4].name = "thin diagonal lines";
    for (const auto& l : {std::array<int, 3>{1, 1, 1}, {1, 1, 2}, {2, 1, 1}, {1, 2, 3}, {3, 2, 2}, {5, 3, 4}}) {
        sets[4].images.push_back(FromMask(Lines(l[0], l[1], l[2])));
    }
    sets[5] = {"single pixels", {FromMask(Draw(40, 30, [](int x, int y) { return (x * 7 + y * 13) % 11 == 0; })),
                                 FromMask(Draw(1, 1, [](int, int) { return true; }))}};
    // Found by fuzzing: thin teeth where shortcuts would double back.
    const char* teeth[] = {"################", "#########....#..", "##....#..#......", "............##.#",
                           ".....##.........", "........########", "################", "#.##############",
                           "################", "################", "########........", "##......########",
                           "########........", "#...#...........", "##......########", "################"};
    sets[7] = {"teeth and slits", {FromMask(Draw(16, 16, [&](int x, int y) { return teeth[y][x] == '#'; }))}};
    // Also found by fuzzing: one-pixel slits where long shortcuts would cross.
    const char* top = ".#..#.#..#..######.#....";
    sets[7].images.push_back(FromMask(Draw(24, 24, [&](int x, int y) {
        return y == 0 ? top[x] == '#' : x % 8 != 7 && !(y == 5 && x == 5);
    })));
    sets[6] = {"checkerboard", {FromMask(Draw(24, 17, [](int x, int y) { return (x + y) % 2 == 0; }))}};
    sets[8] = {"nested regions", {FromMask(RingWithDot(false)), FromMask(RingWithDot(true)), FromMask(NestedRings())}};
    sets[9].name = "pinches";
    for (int turns = 0; turns < 4; ++turns) {
        sets[9].images.push_back(FromMask(Pinch(turns)));
    }
    return sets;
}

// 4-connected regions of `mask`, numbered from 1 in order of their first
// pixel; 0 where not solid.
std::vector<std::vector<size_t>> Label(const Mask& mask, size_t& regions) {
    std::vector<std::vector<size_t>> label(mask.size(), std::vector<size_t>(mask[0].size()));
    regions = 0;
    for (size_t y0 = 0; y0 < mask.size(); ++y0) {
        for (size_t x0 = 0; x0 < mask[0].size(); ++x0) {
            if (!mask[y0][x0] || label[y0][x0] != 0) continue;
            label[y0][x0] = ++regions;
            std::vector<std::pair<size_t, size_t>> stack{{x0, y0}};
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                const std::pair<size_t, size_t> next[] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
                for (const auto& [nx, ny] : next) {
                    if (ny < mask.size() && nx < mask[0].size() && mask[ny][nx] && label[ny][nx] == 0) {
                        label[ny][nx] = regions;
                        stack.emplace_back(nx, ny);
                    }
                }
            }
        }
    }
    return label;
}

Mask Solid(const Image& image, uint8_t threshold) {
    return Draw(image.width, image.height, [&](int x, int y) {
        return (image.pixels[size_t(y) * size_t(image.width) + size_t(x)] >> 24) >= threshold;
    });
}

// One region with its holes filled: everything the rest of the image cannot
// reach from the border without crossing the region.
Mask FilledRegion(const std::vector<std::vector<size_t>>& label, size_t region) {
    const int w = int(label[0].size());
    const int h = int(label.size());
    Mask outside(static_cast<size_t>(h), std::vector<bool>(static_cast<size_t>(w)));
    std::deque<std::pair<int, int>> queue;
    const auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h || outside[size_t(y)][size_t(x)] || label[size_t(y)][size_t(x)] == region) {
            return;
        }
        outside[size_t(y)][size_t(x)] = true;
        queue.emplace_back(x, y);
    };
    for (int x = 0; x < w; ++x) {
        visit(x, 0);
        visit(x, h - 1);
    }
    for (int y = 0; y < h; ++y) {
        visit(0, y);
        visit(w - 1, y);
    }
    while (!queue.empty()) {
        const auto [x, y] = queue.front();
        queue.pop_front();
        visit(x + 1, y), visit(x - 1, y), visit(x, y + 1), visit(x, y - 1);
    }
    return Draw(w, h, [&](int x, int y) { return !outside[size_t(y)][size_t(x)]; });
}

// Reference: the union over the regions of each with its own holes filled.
Mask FilledMask(const Image& image, uint8_t threshold) {
    size_t regions = 0;
    const auto label = Label(Solid(image, threshold), regions);
    Mask filled = Draw(image.width, image.height, [](int, int) { return false; });
    for (size_t r = 1; r <= regions; ++r) {
        const Mask one = FilledRegion(label, r);
        for (size_t y = 0; y < filled.size(); ++y) {
            for (size_t x = 0; x < filled[0].size(); ++x) {
                filled[y][x] = filled[y][x] || one[y][x];
            }
        }
    }
    return filled;
}

// The rules every polygon keeps, and the geometry under them: shared with
// fuzz/fuzz_collider.cpp.
using VelmoraTest::OnSegment;
using VelmoraTest::Orient;
using VelmoraTest::PolygonFault;

// Area of `poly` inside the unit pixel at (px, py): the polygon clipped to
// the pixel's four sides in turn; the clip of a simple polygon has the
// intersection's area.
double CoveredArea(const std::vector<Point2D>& poly, int px, int py) {
    std::vector<std::array<double, 2>> in(poly.size());
    std::transform(poly.begin(), poly.end(), in.begin(), [](const Point2D& p) {
        return std::array<double, 2>{double(p.x), double(p.y)};
    });
    const double limits[4][3] = {{0, 1, double(px)}, {0, -1, -double(px + 1)}, {1, 1, double(py)}, {1, -1, -double(py + 1)}};
    for (const auto& [axis, sign, bound] : limits) {
        std::vector<std::array<double, 2>> out;
        for (size_t i = 0; i < in.size(); ++i) {
            const auto& a = in[i];
            const auto& b = in[(i + 1) % in.size()];
            const double da = sign * a[size_t(axis)] - bound;
            const double db = sign * b[size_t(axis)] - bound;
            if (da >= 0) out.push_back(a);
            if ((da < 0) != (db < 0)) {
                const double t = da / (da - db);
                out.push_back({a[0] + t * (b[0] - a[0]), a[1] + t * (b[1] - a[1])});
            }
        }
        in = out;
    }
    double twice = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        twice += in[i][0] * in[(i + 1) % in.size()][1] - in[(i + 1) % in.size()][0] * in[i][1];
    }
    return twice / 2;
}

// Lower bound on the IoU of the polygons' union with `mask`: exact unless
// two polygons overlap in a pixel, where the union is underestimated inside
// the mask and overestimated outside.
double IoU(const Polygons& polygons, const Mask& mask) {
    std::vector<std::array<int, 4>> boxes;  // x0, y0, x1, y1
    for (const auto& poly : polygons) {
        std::array<int, 4> box{poly[0].x, poly[0].y, poly[0].x, poly[0].y};
        for (const Point2D& p : poly) {
            box = {std::min(box[0], p.x), std::min(box[1], p.y), std::max(box[2], p.x), std::max(box[3], p.y)};
        }
        boxes.push_back(box);
    }
    double inter = 0;
    double uni = 0;
    for (size_t y = 0; y < mask.size(); ++y) {
        for (size_t x = 0; x < mask[0].size(); ++x) {
            double most = 0;
            double sum = 0;
            for (size_t i = 0; i < polygons.size(); ++i) {
                const auto& box = boxes[i];
                if (int(x) + 1 <= box[0] || int(x) >= box[2] || int(y) + 1 <= box[1] || int(y) >= box[3]) continue;
                const double a = CoveredArea(polygons[i], int(x), int(y));
                most = std::max(most, a);
                sum += a;
            }
            inter += mask[y][x] ? most : 0;
            uni += mask[y][x] ? 1 : std::min(1.0, sum);
        }
    }
    return uni > 0 ? inter / uni : 1;
}

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(Collider, PolygonsAreSimpleClockwiseOnePerRegionAtAnyTolerance) {
    for (const Set& set : TestSets()) {
        for (const float tolerance : {0.0f, 0.5f, 1.0f, 3.0f, kInf}) {
            for (const Image& image : set.images) {
                const Polygons polygons = Velmora::TraceColliderPolygons(image, 10, tolerance);
                const Mask filled = FilledMask(image, 10);
                size_t regions = 0;
                const auto label = Label(Solid(image, 10), regions);
                ASSERT_EQ(polygons.size(), regions) << set.name << ", tolerance " << tolerance;
                // Polygon i belongs to region i + 1: it starts at the top-left
                // corner of that region's first pixel and covers it, holes filled.
                std::vector<Point2D> first(regions, Point2D{-1, -1});
                for (size_t y = label.size(); y-- > 0;) {
                    for (size_t x = label[0].size(); x-- > 0;) {
                        if (label[y][x] != 0) first[label[y][x] - 1] = Point2D{int(x), int(y)};
                    }
                }
                for (size_t i = 0; i < regions; ++i) {
                    const auto& poly = polygons[i];
                    EXPECT_EQ(PolygonFault(poly, image.width, image.height), "") << set.name << ", tolerance " << tolerance;
                    ASSERT_FALSE(poly.empty());
                    EXPECT_TRUE(poly[0].x == first[i].x && poly[0].y == first[i].y) << set.name << ", polygon " << i;
                    EXPECT_GE(IoU({poly}, FilledRegion(label, i + 1)), 41.0 / 43.0 - 1e-9) << set.name << ", polygon " << i;
                }
                const double iou = IoU(polygons, filled);
                if (tolerance == 0.0f) {
                    EXPECT_NEAR(iou, 1.0, 1e-12) << set.name << ": outlines must be exact";
                } else {
                    EXPECT_GE(iou, 41.0 / 43.0 - 1e-9) << set.name << ", tolerance " << tolerance;
                }
            }
        }
    }
}

// `p` lies strictly inside the simple polygon `poly`.
bool Inside(const std::vector<Point2D>& poly, const Point2D& p) {
    bool odd = false;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Point2D& a = poly[i];
        const Point2D& b = poly[(i + 1) % poly.size()];
        if (OnSegment(a, b, p)) return false;
        if ((a.y > p.y) != (b.y > p.y)) {
            // The edge crosses the ray to the right of p when p lies on its left
            // going down (or on its right going up).
            odd ^= (Orient(a, b, p) > 0) == (b.y > a.y);
        }
    }
    return odd;
}

int64_t TwiceArea(const std::vector<Point2D>& poly) {
    int64_t sum = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        sum += int64_t{poly[i].x} * poly[(i + 1) % poly.size()].y - int64_t{poly[(i + 1) % poly.size()].x} * poly[i].y;
    }
    return sum;
}

TEST(Collider, CheckerboardGivesOneUnitSquarePerPixel) {
    const Mask board = Draw(13, 9, [](int x, int y) { return (x + y) % 2 == 1; });
    size_t solid = 0;
    for (const auto& row : board) solid += size_t(std::count(row.begin(), row.end(), true));
    for (const float tolerance : {0.0f, 1.0f, kInf}) {
        const Polygons polygons = Velmora::TraceColliderPolygons(FromMask(board), 10, tolerance);
        ASSERT_EQ(polygons.size(), solid) << tolerance;
        for (const auto& poly : polygons) {
            EXPECT_EQ(poly.size(), 4u);
            EXPECT_EQ(TwiceArea(poly), 2);
        }
        EXPECT_NEAR(IoU(polygons, board), 1.0, 1e-12) << tolerance;
    }
}

struct Nesting {
    std::string name;
    Mask mask;
    size_t polygons;
    std::vector<std::pair<size_t, size_t>> inside;  // (inner, outer) polygon indices
    size_t firstFilled;                             // pixels the first polygon covers exactly
};

TEST(Collider, RegionsInHolesGetTheirOwnPolygonsInside) {
    const auto disc = [](int r2max) {
        size_t count = 0;
        for (int y = -30; y <= 30; ++y) {
            for (int x = -30; x <= 30; ++x) count += x * x + y * y <= r2max;
        }
        return count;
    };
    // Polygons come in order of the regions' first pixels: outer ring first.
    const Nesting cases[] = {
        {"ring and dot", RingWithDot(false), 2, {{1, 0}}, disc(144)},
        {"ring, touching pixel and dot", RingWithDot(true), 3, {{1, 0}, {2, 0}}, disc(144)},
        {"nested rings", NestedRings(), 4, {{1, 0}, {2, 1}, {3, 2}}, disc(225)},
        {"ring alone", Ring(20, 23), 1, {}, disc(23 * 23)},
    };
    for (const Nesting& c : cases) {
        for (const float tolerance : {0.0f, 1.0f, kInf}) {
            const Polygons polygons = Velmora::TraceColliderPolygons(FromMask(c.mask), 10, tolerance);
            ASSERT_EQ(polygons.size(), c.polygons) << c.name;
            for (const auto& [inner, outer] : c.inside) {
                for (const Point2D& p : polygons[inner]) {
                    EXPECT_TRUE(Inside(polygons[outer], p)) << c.name << ", tolerance " << tolerance;
                }
            }
            if (tolerance == 0.0f) {
                EXPECT_EQ(TwiceArea(polygons[0]), int64_t(2 * c.firstFilled)) << c.name;
            }
        }
    }
}

TEST(Collider, RegionTouchingItselfAtACornerStaysOnePolygon) {
    for (int turns = 0; turns < 4; ++turns) {
        const Polygons polygons = Velmora::TraceColliderPolygons(FromMask(Pinch(turns)), 10, 0.0f);
        ASSERT_EQ(polygons.size(), 1u) << turns;
        // 16 pixels less the two outside the corner; the three-pixel hole is covered.
        EXPECT_EQ(polygons[0].size(), 6u) << turns;
        EXPECT_EQ(TwiceArea(polygons[0]), 28) << turns;
        EXPECT_EQ(PolygonFault(polygons[0], 6, 6), "") << turns;
    }
}

// Boundary pixels: solid, with a 4-neighbour that is not (or the image edge).
size_t BoundaryPixels(const Mask& m) {
    size_t count = 0;
    for (size_t y = 0; y < m.size(); ++y) {
        for (size_t x = 0; x < m[0].size(); ++x) {
            count += m[y][x] && (x == 0 || y == 0 || x + 1 == m[0].size() || y + 1 == m.size() || !m[y][x - 1] ||
                                 !m[y][x + 1] || !m[y - 1][x] || !m[y + 1][x]);
        }
    }
    return count;
}

TEST(Collider, SimplifiesLargeShapesToFewPoints) {
    size_t points = 0;
    size_t boundary = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        const Mask blobs = Blobs(seed);
        for (const auto& poly : Velmora::TraceColliderPolygons(FromMask(blobs), 10, 1.0f)) points += poly.size();
        boundary += BoundaryPixels(blobs);
    }
    EXPECT_LT(points * 3, boundary);
    // A big disc: far fewer points still, and more tolerance drops more.
    const Image disc = FromMask(Ring(0, 200));
    const size_t at1 = Velmora::TraceColliderPolygons(disc, 10, 1.0f)[0].size();
    const size_t at3 = Velmora::TraceColliderPolygons(disc, 10, 3.0f)[0].size();
    EXPECT_LT(at1 * 8, BoundaryPixels(FilledMask(disc, 10)));
    EXPECT_LT(at3, at1);
}

TEST(Collider, ThresholdAndToleranceEdgeCases) {
    const Image ring = FromMask(Ring(5, 9));
    const Polygons exact = Velmora::TraceColliderPolygons(ring, 10, 0.0f);
    for (const float same : {-1.0f, -kInf, std::numeric_limits<float>::quiet_NaN()}) {
        const Polygons polygons = Velmora::TraceColliderPolygons(ring, 10, same);
        ASSERT_EQ(polygons.size(), 1u);
        EXPECT_EQ(polygons[0].size(), exact[0].size()) << same;
    }
    // Threshold 0 makes every pixel solid; 255 only alpha 255.
    const Polygons all = Velmora::TraceColliderPolygons(ring, 0, 1.0f);
    ASSERT_EQ(all.size(), 1u);
    const std::vector<std::pair<int, int>> frame = {{0, 0}, {21, 0}, {21, 21}, {0, 21}};
    ASSERT_EQ(all[0].size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(std::make_pair(all[0][i].x, all[0][i].y), frame[i]);
    }
    Image faint = ring;
    for (uint32_t& p : faint.pixels) p &= 0xFEFFFFFFu;
    EXPECT_TRUE(Velmora::TraceColliderPolygons(faint, 255, 1.0f).empty());
    EXPECT_EQ(Velmora::TraceColliderPolygons(faint, 254, 1.0f).size(), 1u);
}

TEST(Collider, RejectsInvalidImages) {
    const Image good = FromMask(Ring(5, 9));
    Image shortBuffer = good;
    shortBuffer.pixels.pop_back();
    Image longBuffer = good;
    longBuffer.pixels.push_back(0xFFFFFFFFu);
    const Image cases[] = {
        shortBuffer, longBuffer, Image{0, 0, {}}, Image{-1, 1, {}}, Image{1, -1, {}},
        Image{Velmora::kMaxImageSide + 1, 1, std::vector<uint32_t>(Velmora::kMaxImageSide + 1, ~0u)},
        Image{4, 4, std::vector<uint32_t>(16, 0x00FFFFFFu)},  // valid, nothing solid
    };
    for (const Image& image : cases) {
        EXPECT_TRUE(Velmora::TraceColliderPolygons(image, 1, 1.0f).empty()) << image.width << "x" << image.height;
    }
    const Image wide{Velmora::kMaxImageSide, 1, std::vector<uint32_t>(Velmora::kMaxImageSide, ~0u)};
    EXPECT_EQ(Velmora::TraceColliderPolygons(wide, 1, 1.0f).size(), 1u);
}

}  // namespace
