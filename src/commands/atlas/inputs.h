// --atlas's inputs: finding the frames, decoding them, trimming and sharing
// identical ones, and the ids an earlier run left in Unity's .meta files.
#ifndef VELMORA_COMMANDS_ATLAS_INPUTS_H
#define VELMORA_COMMANDS_ATLAS_INPUTS_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "atlas/atlas_settings.h"
#include "formats/sheet.h"
#include "support/progress.h"
#include "velmora/image.h"
#include "velmora/packing.h"

namespace Velmora::Commands {

// One input sprite on its way through the pipeline.
struct InputFrame {
    std::string name;
    std::string path;
    Image image;          // decoded and trimmed when asked; moved out to be packed
    int32_t sourceW = 0;  // size as decoded
    int32_t sourceH = 0;
    Area2D stored;        // the part of the original that is packed
    Image normal;         // with --trim --normal-map: the original's normal map, cropped
    // A frame of a layered sprite file (spriteFrame >= 0): the name of the
    // file's animations, the frame's number in the file, and once decoded
    // its time on screen and the file's tags. A PNG has spriteFrame -1.
    std::string sprite;
    int32_t spriteFrame = -1;
    int32_t durationMs = 0;
    std::vector<Formats::FrameTag> spriteTags;
};

// Finds the frames of every INPUT, sorted bytewise by name. The images a
// folder holds that are this run's own outputs for `prefix` (PREFIX.png,
// PREFIX_n.png) are no frames. Problems are written
// to `err`, one line each; returns false when there was any.
bool GatherFrames(const std::vector<std::string>& inputs, const std::string& prefix, std::vector<InputFrame>& frames,
                  std::ostream& err);

// Sizes the frame from its decoded image and, with settings.trim, trims it
// (and keeps the whole frame's normal map, cropped, for --normal-map).
void ShapeFrame(InputFrame& frame, const AtlasSettings& settings);

// Decodes every frame on settings.jobs threads, trimming each as soon as it
// is decoded with settings.trim, so that at most one whole image per thread
// is held at a time. Every file's header is read first, and nothing is
// decoded when one is not a PNG, or (without trim) gives a frame that cannot
// fit the atlas on its own. With scale variants the frames stay whole, to
// be resampled and shaped per scale. Reports every file that fails, in
// frame order.
bool DecodeFrames(std::vector<InputFrame>& frames, const AtlasSettings& settings, Support::Progress& progress,
                  std::ostream& err);

// Whether the frames may go from their files straight onto the atlas once
// it is planned: PNG files packed as they are, so that nothing (trimming,
// sharing, scales, normal maps, colliders, extrusion) needs their pixels
// before the plan does.
bool DecodesIntoAtlas(const AtlasSettings& settings, const std::vector<InputFrame>& frames);

// DecodeFrames for such frames, in two halves. This one reads every file
// and checks its header as DecodeFrames does; each frame is only sized
// from its header (an image of that size without pixels) and its file's
// bytes kept in `files`. Reports the header refusals DecodeFrames would.
bool ReadFrames(std::vector<InputFrame>& frames, const AtlasSettings& settings,
                std::vector<std::vector<uint8_t>>& files, Support::Progress& progress, std::ostream& err);

// `jobs` threads, the caller's and helpers, lent to the engine.
Workers LentThreads(unsigned jobs);

// The second half, once `plan` is made: its pages, with every frame's file
// decoded straight into its place (frame i is packed image i, `images` the
// packed images). Each file's bytes are dropped once
// decoded. Reports every file that fails, in frame order.
bool ComposeFromFiles(const std::vector<InputFrame>& frames, const std::vector<Image>& images, const PagesPlan& plan,
                      std::vector<Image>& pages, std::vector<std::vector<uint8_t>>& files,
                      const AtlasSettings& settings, Support::Progress& progress, std::ostream& err);

// Reports, as DecodeFrames would, every kept file whose pixels fail to
// decode; true when none does. A refused plan is reported after these, as
// when the frames were decoded first.
bool ReportUndecodable(const std::vector<InputFrame>& frames, const std::vector<std::vector<uint8_t>>& files,
                       unsigned jobs, std::ostream& err);

// The images to pack: each frame's image once, or with `dedupe` once per
// distinct image; slot[i] is frame i's image. `normals` are the images'
// normal maps when decoding made them (with --trim), else empty.
struct PackedImages {
    std::vector<Image> images;
    std::vector<Image> normals;
    std::vector<size_t> slot;
};
PackedImages PrepareImages(std::vector<InputFrame>& frames, bool dedupe);

// The ids of an existing Unity .meta at `path`; none when it is absent or
// unreadable.
Formats::UnityKeptIds ReadKeptIds(const std::string& path);

}  // namespace Velmora::Commands

#endif  // VELMORA_COMMANDS_ATLAS_INPUTS_H
