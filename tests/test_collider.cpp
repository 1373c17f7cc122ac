#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <string>

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

struct Set {
    std::string name;
    std::vector<Image> images;
};

std::vector<Set> TestSets() {
    std::vector<Set> sets(8);
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
    return sets;
}

// Reference: solid pixels plus every background pixel not 4-connected to the border.
Mask FilledMask(const Image& image, uint8_t threshold) {
    const int w = image.width;
    const int h = image.height;
    Mask outside(static_cast<size_t>(h), std::vector<bool>(static_cast<size_t>(w)));
    std::deque<std::pair<int, int>> queue;
    const auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= w || y >= h || outside[size_t(y)][size_t(x)] ||
            (image.pixels[size_t(y) * size_t(w) + size_t(x)] >> 24) >= threshold) {
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

size_t CountRegions(Mask mask) {
    size_t regions = 0;
    for (size_t y0 = 0; y0 < mask.size(); ++y0) {
        for (size_t x0 = 0; x0 < mask[0].size(); ++x0) {
            if (!mask[y0][x0]) continue;
            ++regions;
            std::vector<std::pair<size_t, size_t>> stack{{x0, y0}};
            mask[y0][x0] = false;
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                const std::pair<size_t, size_t> next[] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
                for (const auto& [nx, ny] : next) {
                    if (ny < mask.size() && nx < mask[0].size() && mask[ny][nx]) {
                        mask[ny][nx] = false;
                        stack.emplace_back(nx, ny);
                    }
                }
            }
        }
    }
    return regions;
}

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

// Every rule a single polygon must keep; empty when it keeps them all.
std::string Broken(const std::vector<Point2D>& poly, int w, int h) {
    const size_t m = poly.size();
    if (m < 3) return "fewer than 3 points";
    int64_t twiceArea = 0;
    for (size_t i = 0; i < m; ++i) {
        const Point2D& a = poly[i];
        const Point2D& b = poly[(i + 1) % m];
        if (a.x < 0 || a.y < 0 || a.x > w || a.y > h) return "point out of bounds";
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
                EXPECT_EQ(polygons.size(), CountRegions(filled)) << set.name << ", tolerance " << tolerance;
                for (const auto& poly : polygons) {
                    EXPECT_EQ(Broken(poly, image.width, image.height), "") << set.name << ", tolerance " << tolerance;
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
