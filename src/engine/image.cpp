// Image records for the file pipeline: validity, trimming, cropping, atlas
// composition with edge extrusion, and finding identical frames.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "velmora/image.h"
#include "memory_internal.h"

namespace Velmora {

namespace {

constexpr uint32_t kAlphaMask = 0xFF000000U;

size_t PixelCount(int32_t width, int32_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

bool SizeIsValid(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide;
}

// Whether `area` is non-empty and lies wholly inside a width x height image;
// computed in 64 bits so no sum can wrap.
bool AreaInside(const Area2D& area, int32_t width, int32_t height) {
    return area.w >= 1 && area.h >= 1 && area.x >= 0 && area.y >= 0 &&
           static_cast<int64_t>(area.x) + area.w <= width &&
           static_cast<int64_t>(area.y) + area.h <= height;
}

const uint32_t* Row(const Image& image, int32_t y) {
    return image.pixels.data() + PixelCount(image.width, y);
}

// Copies one image and its extrusion into the atlas. The frame's own pixels
// lie inside the atlas (checked by the caller); extruded pixels are clipped.
void DrawWithExtrusion(const Image& image, int32_t left, int32_t top, int32_t extrude, Image& atlas) {
    const int64_t firstY = std::max<int64_t>(0, static_cast<int64_t>(top) - extrude);
    const int64_t lastY = std::min<int64_t>(atlas.height, static_cast<int64_t>(top) + image.height + extrude);
    const int64_t firstX = std::max<int64_t>(0, static_cast<int64_t>(left) - extrude);
    const int64_t lastX = std::min<int64_t>(atlas.width, static_cast<int64_t>(left) + image.width + extrude);
    const size_t leftRun = static_cast<size_t>(left - firstX);
    const size_t rightRun = static_cast<size_t>(lastX - left - image.width);
    for (int64_t y = firstY; y < lastY; ++y) {
        // Rows above and below the frame repeat its first and last rows.
        const int64_t sourceY = std::clamp<int64_t>(y - top, 0, image.height - 1);
        const uint32_t* source = Row(image, static_cast<int32_t>(sourceY));
        uint32_t* target = atlas.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(atlas.width);
        std::fill_n(target + firstX, leftRun, source[0]);
        std::memcpy(target + left, source, PixelCount(image.width, 1) * sizeof(uint32_t));
        std::fill_n(target + left + image.width, rightRun, source[image.width - 1]);
    }
}

}  // namespace

bool IsValidImage(const Image& image) {
    return SizeIsValid(image.width, image.height) &&
           image.pixels.size() == PixelCount(image.width, image.height);
}

Area2D FindOpaqueBounds(const Image& image) {
    Area2D bounds;
    if (!IsValidImage(image)) {
        return bounds;
    }
    int32_t minX = image.width;
    int32_t maxX = -1;
    int32_t minY = image.height;
    int32_t maxY = -1;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint32_t* row = Row(image, y);
        int32_t first = 0;
        while (first < image.width && (row[first] & kAlphaMask) == 0) {
            ++first;
        }
        if (first == image.width) {
            continue;
        }
        int32_t last = image.width - 1;
        while ((row[last] & kAlphaMask) == 0) {
            --last;
        }
        minX = std::min(minX, first);
        maxX = std::max(maxX, last);
        minY = std::min(minY, y);
        maxY = y;
    }
    if (maxX < 0) {
        bounds.w = 1;
        bounds.h = 1;
        return bounds;
    }
    bounds.x = minX;
    bounds.y = minY;
    bounds.w = maxX - minX + 1;
    bounds.h = maxY - minY + 1;
    return bounds;
}

Image CropImage(const Image& image, const Area2D& area) {
    Image result;
    if (!IsValidImage(image) || !AreaInside(area, image.width, image.height)) {
        return result;
    }
    result.width = area.w;
    result.height = area.h;
    result.pixels.resize(PixelCount(area.w, area.h));
    for (int32_t y = 0; y < area.h; ++y) {
        const uint32_t* source = Row(image, area.y + y) + area.x;
        std::memcpy(result.pixels.data() + PixelCount(area.w, y), source,
                    PixelCount(area.w, 1) * sizeof(uint32_t));
    }
    return result;
}

bool ComposeAtlas(const std::vector<Image>& images, const std::vector<Point2D>& positions,
                  int32_t width, int32_t height, int32_t extrude, Image& atlas) {
    if (!SizeIsValid(width, height) || images.size() != positions.size() || extrude < 0) {
        return false;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        const Area2D area{positions[i].x, positions[i].y, images[i].width, images[i].height};
        if (!IsValidImage(images[i]) || !AreaInside(area, width, height)) {
            return false;
        }
    }
    Image composed;
    composed.width = width;
    composed.height = height;
    // An atlas can be tens of MiB: back it with huge pages where offered.
    composed.pixels = MemoryInternal::FilledLargeBuffer(PixelCount(width, height), 0U);
    const int32_t reach = std::min(extrude, kMaxImageSide);
    for (size_t i = 0; i < images.size(); ++i) {
        DrawWithExtrusion(images[i], positions[i].x, positions[i].y, reach, composed);
    }
    atlas = std::move(composed);
    return true;
}

bool BlankImage(int32_t width, int32_t height, const Workers& workers, Image& image) {
    if (!SizeIsValid(width, height)) return false;
    Image blank;
    blank.width = width;
    blank.height = height;
    blank.pixels = MemoryInternal::FilledLargeBuffer(PixelCount(width, height), 0U, workers);
    image = std::move(blank);
    return true;
}

bool CopyIntoImage(const Image& image, Point2D at, Image& atlas) {
    if (!IsValidImage(image) || !IsValidImage(atlas) ||
        !AreaInside(Area2D{at.x, at.y, image.width, image.height}, atlas.width, atlas.height)) {
        return false;
    }
    DrawWithExtrusion(image, at.x, at.y, 0, atlas);
    return true;
}

std::vector<size_t> FindDuplicateImages(const std::vector<Image>& images) {
    std::vector<size_t> first(images.size());
    // Candidates share a size and a content hash; equal pixels decide.
    std::unordered_map<uint64_t, std::vector<size_t>> seen;
    for (size_t i = 0; i < images.size(); ++i) {
        first[i] = i;
        const Image& image = images[i];
        if (!IsValidImage(image)) {
            continue;
        }
        uint64_t hash = 1469598103934665603ULL;
        const auto mix = [&hash](uint64_t value) {
            hash = (hash ^ value) * 1099511628211ULL;
        };
        mix(static_cast<uint64_t>(image.width));
        mix(static_cast<uint64_t>(image.height));
        for (const uint32_t pixel : image.pixels) {
            mix(pixel);
        }
        std::vector<size_t>& bucket = seen[hash];
        for (const size_t candidate : bucket) {
            const Image& other = images[candidate];
            if (other.width == image.width && other.height == image.height &&
                other.pixels == image.pixels) {
                first[i] = candidate;
                break;
            }
        }
        if (first[i] == i) {
            bucket.push_back(i);
        }
    }
    return first;
}

}  // namespace Velmora
