#include "frame_features.h"

#include <algorithm>
#include <cstddef>

#include "options.h"
#include "support/parallel.h"
#include "velmora/collider.h"
#include "velmora_engine.h"

namespace Velmora::Commands {

bool ApplyStrength(const std::string& value, FrameFeatures& features, std::string& error) {
    if (!ParseFloat(value, features.strength)) {
        error = "--strength needs a number, e.g. 2.5 or inf, not '" + value + "'";
        return false;
    }
    return true;
}

bool ApplyAlpha(const std::string& value, FrameFeatures& features, std::string& error) {
    int64_t alpha = 0;
    if (!ParseInteger(value, 0, 255, alpha)) {
        error = "--alpha needs a whole number from 0 to 255, not '" + value + "'";
        return false;
    }
    features.alpha = static_cast<uint8_t>(alpha);
    return true;
}

bool ApplyTolerance(const std::string& value, FrameFeatures& features, std::string& error) {
    if (!ParseFloat(value, features.tolerance) || features.tolerance < 0.0F) {
        error = "--tolerance needs a number of pixels, 0 or more, not '" + value + "'";
        return false;
    }
    return true;
}

bool ApplyMinArea(const std::string& value, FrameFeatures& features, std::string& error) {
    if (!ParseInteger(value, 0, int64_t{kMaxImageSide} * kMaxImageSide, features.minArea)) {
        error = "--min-area needs a whole number of square pixels, 0 or more, not '" + value + "'";
        return false;
    }
    return true;
}

namespace {

// Twice the area a polygon encloses (shoelace; clockwise on screen is
// positive).
int64_t DoubleArea(const std::vector<Point2D>& polygon) {
    int64_t sum = 0;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Point2D& a = polygon[i];
        const Point2D& b = polygon[(i + 1) % polygon.size()];
        sum += int64_t{a.x} * b.y - int64_t{b.x} * a.y;
    }
    return sum < 0 ? -sum : sum;
}

}  // namespace

Formats::Polygons TraceFrame(const Image& image, const FrameFeatures& features) {
    Formats::Polygons polygons = TraceColliderPolygons(image, features.alpha, features.tolerance);
    std::vector<int64_t> areas;
    areas.reserve(polygons.size());
    for (const std::vector<Point2D>& polygon : polygons) {
        areas.push_back(DoubleArea(polygon));
    }
    const auto largest = std::max_element(areas.begin(), areas.end()) - areas.begin();
    Formats::Polygons kept;
    for (size_t i = 0; i < polygons.size(); ++i) {
        if (static_cast<std::ptrdiff_t>(i) == largest || areas[i] >= 2 * features.minArea) {
            kept.push_back(std::move(polygons[i]));
        }
    }
    return kept;
}

Image NormalMapImage(const Image& image, float strength) {
    Image normal;
    normal.width = image.width;
    normal.height = image.height;
    if (image.width >= 3 && image.height >= 3) {
        normal.pixels = GenerateNormalMap(image.pixels, image.width, image.height, strength);
        return normal;
    }
    // Too thin for the gradient: the engine's neutral fill decodes to a zero
    // normal, which lights turn black. A file gets the flat normal instead,
    // with the frame's alpha, and nothing where the frame is clear.
    constexpr uint32_t kFlat = 0x00FF7F7FU;
    normal.pixels.reserve(image.pixels.size());
    for (const uint32_t pixel : image.pixels) {
        const uint32_t alpha = pixel >> 24;
        normal.pixels.push_back(alpha < 5 ? 0U : (kFlat | alpha << 24));
    }
    return normal;
}

std::vector<Image> NormalMapAll(const std::vector<Image>& images, float strength, unsigned jobs) {
    std::vector<Image> normals(images.size());
    Support::ParallelFor(images.size(), jobs,
                         [&](size_t i) { normals[i] = NormalMapImage(images[i], strength); });
    return normals;
}

std::vector<Formats::Polygons> TraceAll(const std::vector<Image>& images, const FrameFeatures& features,
                                        unsigned jobs) {
    std::vector<Formats::Polygons> polygons(images.size());
    Support::ParallelFor(images.size(), jobs, [&](size_t i) {
        polygons[i] = TraceFrame(images[i], features);
    });
    return polygons;
}

Formats::Polygons OffsetPolygons(const Formats::Polygons& polygons, int32_t dx, int32_t dy) {
    Formats::Polygons moved = polygons;
    for (std::vector<Point2D>& polygon : moved) {
        for (Point2D& point : polygon) {
            point.x += dx;
            point.y += dy;
        }
    }
    return moved;
}

}  // namespace Velmora::Commands
