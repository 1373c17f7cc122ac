// --atlas: its settings and the option table that fills them.
#ifndef VELMORA_COMMANDS_ATLAS_SETTINGS_H
#define VELMORA_COMMANDS_ATLAS_SETTINGS_H

#include <cstddef>
#include <string>
#include <vector>

#include "command_line.h"
#include "frame_features.h"
#include "velmora/packing.h"
#include "velmora/resample.h"

namespace Velmora::Commands {

// The largest atlas side --max-size and --max-width accept.
constexpr int32_t kAtlasLimit = 8192;

struct AtlasSettings {
    std::string prefix = "atlas";
    bool jsonArray = false;
    PackerKind packer = PackerKind::MaxRects;
    int32_t shelfRowWidth = 2048;
    AtlasGeometry geometry{0, 0, false, kAtlasLimit, kAtlasLimit};
    bool trim = false;
    bool dedupe = false;
    size_t maxPages = 0;  // 0: as many pages as the frames need
    bool watch = false;  // pack again whenever the inputs change
    std::vector<ScaleFactor> scales{ScaleFactor{1, 1}};  // a whole output set each
    ResampleFilter filter = ResampleFilter::Smooth;
    unsigned jobs = 1;  // all cores unless --jobs says otherwise
    FrameFeatures features;
    std::vector<std::string> operands;  // the INPUTs
};

const CommandTable<AtlasSettings>& AtlasTable();

// Whether the run writes any scale but 1: then every frame is resampled and
// shaped per scale.
bool HasScaleVariants(const AtlasSettings& settings);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_SETTINGS_H
