// What --atlas shares with --normalmap and --colliders: the per-frame normal
// maps and collision polygons, and the options that shape them.
#ifndef VELMORA_COMMANDS_FRAME_FEATURES_H
#define VELMORA_COMMANDS_FRAME_FEATURES_H

#include <cstdint>
#include <string>
#include <vector>

#include "formats/sheet.h"
#include "velmora/image.h"

namespace Velmora::Commands {

struct FrameFeatures {
    bool normalMap = false;
    float strength = 1.0F;
    bool colliders = false;
    uint8_t alpha = 10;
    float tolerance = 1.0F;
    int64_t minArea = 5;  // polygons enclosing less are specks, dropped
};

// The values of --strength, --alpha and --tolerance; false with `error`.
bool ApplyStrength(const std::string& value, FrameFeatures& features, std::string& error);
bool ApplyAlpha(const std::string& value, FrameFeatures& features, std::string& error);
bool ApplyTolerance(const std::string& value, FrameFeatures& features, std::string& error);
bool ApplyMinArea(const std::string& value, FrameFeatures& features, std::string& error);

// One image's collision polygons without its specks: every polygon that
// encloses fewer than `features.minArea` square pixels goes, except the
// largest, so no solid frame is left without a collider.
Formats::Polygons TraceFrame(const Image& image, const FrameFeatures& features);

// The normal map of one image as an image; an image narrower or lower than
// 3 pixels gets the flat normal (127, 127, 255) with its own alpha (0 where
// the alpha is below 5).
Image NormalMapImage(const Image& image, float strength);

std::vector<Image> NormalMapAll(const std::vector<Image>& images, float strength, unsigned jobs);
std::vector<Formats::Polygons> TraceAll(const std::vector<Image>& images, const FrameFeatures& features,
                                        unsigned jobs);
Formats::Polygons OffsetPolygons(const Formats::Polygons& polygons, int32_t dx, int32_t dy);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_FRAME_FEATURES_H
