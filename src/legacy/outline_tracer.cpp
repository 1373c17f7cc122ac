// Collision outline tracer: the first solid pixel seen from each side.
//
//            top pass: columns 0, s, 2s ... scanned downward
//              |   |   |
//          +-----------------+
//   left   |     #######     | <- right pass: rows 0, s, 2s ...
//   pass ->|    #########    |    scanned leftward
//   rows   |     #######     |
//   h-1,   |      #   #      |
//   h-1-s  +-----------------+
//   ...        ^   ^   ^
//            bottom pass: columns w-1, w-1-s ... scanned upward
//
// Points run clockwise on screen: top (x rising), right (y rising), bottom
// (x falling), left (y falling).
#include "velmora_engine.h"

#include <limits>

namespace Velmora {
namespace {

constexpr int32_t kNotFound = -1;

struct Frame {
    const Pixel* pixels;
    size_t width;
};

bool IsSolid(Pixel pixel, uint8_t alphaThreshold) {
    return (pixel >> 24) >= alphaThreshold;
}

// Row passes read each sampled row contiguously from one end.
int32_t FirstSolidFromLeft(const Frame& frame, int32_t y, uint8_t alphaThreshold) {
    const Pixel* row = frame.pixels + static_cast<size_t>(y) * frame.width;
    for (size_t x = 0; x < frame.width; ++x) {
        if (IsSolid(row[x], alphaThreshold)) {
            return static_cast<int32_t>(x);
        }
    }
    return kNotFound;
}

int32_t FirstSolidFromRight(const Frame& frame, int32_t y, uint8_t alphaThreshold) {
    const Pixel* row = frame.pixels + static_cast<size_t>(y) * frame.width;
    for (size_t x = frame.width; x-- > 0;) {
        if (IsSolid(row[x], alphaThreshold)) {
            return static_cast<int32_t>(x);
        }
    }
    return kNotFound;
}

// Column passes sweep whole rows (top down or bottom up) and resolve every
// sampled column at once: walking one column at a time would touch a new
// cache line per pixel. `columns` lists the sampled columns in pass order;
// `found[c]` receives the first solid row of columns[c] or kNotFound.
void SweepColumns(const Frame& frame, int32_t height, const std::vector<int32_t>& columns,
                  bool downward, uint8_t alphaThreshold, std::vector<int32_t>& found) {
    found.assign(columns.size(), kNotFound);
    size_t unresolved = columns.size();
    for (int32_t i = 0; i < height && unresolved > 0; ++i) {
        const int32_t y = downward ? i : height - 1 - i;
        const Pixel* row = frame.pixels + static_cast<size_t>(y) * frame.width;
        for (size_t c = 0; c < columns.size(); ++c) {
            if (found[c] == kNotFound && IsSolid(row[columns[c]], alphaThreshold)) {
                found[c] = y;
                --unresolved;
            }
        }
    }
}

}  // namespace

std::vector<Point2D> GenerateCollisionHull(const std::vector<uint32_t>& pixels, int32_t width,
                                           int32_t height, uint8_t alphaThreshold, int32_t step) {
    std::vector<Point2D> points;
    if (width <= 0 || height <= 0 || step < 1) {
        return points;
    }
    const int64_t count = int64_t{width} * int64_t{height};
    if (count > std::numeric_limits<int32_t>::max() || static_cast<uint64_t>(count) > pixels.size()) {
        return points;
    }
    const Frame frame{pixels.data(), static_cast<size_t>(width)};
    // Loop counters advance in 64-bit so that x + step can never overflow.
    std::vector<int32_t> columns;
    std::vector<int32_t> found;

    for (int64_t x = 0; x < width; x += step) {
        columns.push_back(static_cast<int32_t>(x));
    }
    SweepColumns(frame, height, columns, true, alphaThreshold, found);
    for (size_t c = 0; c < columns.size(); ++c) {
        if (found[c] != kNotFound) {
            points.push_back(Point2D{columns[c], found[c]});
        }
    }

    for (int64_t y = 0; y < height; y += step) {
        const int32_t x = FirstSolidFromRight(frame, static_cast<int32_t>(y), alphaThreshold);
        if (x != kNotFound) {
            points.push_back(Point2D{x, static_cast<int32_t>(y)});
        }
    }

    columns.clear();
    for (int64_t x = int64_t{width} - 1; x >= 0; x -= step) {
        columns.push_back(static_cast<int32_t>(x));
    }
    SweepColumns(frame, height, columns, false, alphaThreshold, found);
    for (size_t c = 0; c < columns.size(); ++c) {
        if (found[c] != kNotFound) {
            points.push_back(Point2D{columns[c], found[c]});
        }
    }

    for (int64_t y = int64_t{height} - 1; y >= 0; y -= step) {
        const int32_t x = FirstSolidFromLeft(frame, static_cast<int32_t>(y), alphaThreshold);
        if (x != kNotFound) {
            points.push_back(Point2D{x, static_cast<int32_t>(y)});
        }
    }
    return points;
}

}  // namespace Velmora
