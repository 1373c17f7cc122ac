#include "frame_features.h"

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

Image NormalMapImage(const Image& image, float strength) {
    Image normal;
    normal.width = image.width;
    normal.height = image.height;
    normal.pixels = GenerateNormalMap(image.pixels, image.width, image.height, strength);
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
        polygons[i] = TraceColliderPolygons(images[i], features.alpha, features.tolerance);
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
