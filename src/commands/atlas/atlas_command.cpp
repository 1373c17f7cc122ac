// velmora2d --atlas: the user's PNG sprites in; the atlas PNG, sprite-sheet
// JSON, Godot 4 resources and Unity import settings out, all or nothing.
#include <algorithm>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "atlas/atlas_settings.h"
#include "atlas/documents.h"
#include "atlas/inputs.h"
#include "commands/commands.h"
#include "io/file_io.h"
#include "io/output_lock.h"
#include "io/output_set.h"
#include "io/png_streams.h"
#include "support/progress.h"
#include "support/report.h"

namespace Velmora::Commands {

namespace {

using Support::ReportLine;
using Support::ReportProblem;

// The frames of the packed images `leftOut`, in frame order: a few by name,
// then how many more.
std::string LeftOutNames(const std::vector<size_t>& leftOut, const std::vector<InputFrame>& frames,
                         const std::vector<size_t>& slot) {
    constexpr size_t kNamed = 5;
    std::vector<bool> out(slot.empty() ? 0 : *std::max_element(slot.begin(), slot.end()) + 1, false);
    for (const size_t s : leftOut) {
        if (s < out.size()) out[s] = true;
    }
    std::string names;
    size_t count = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!out[slot[i]]) continue;
        if (count < kNamed) names += (count == 0 ? "" : ", ") + frames[i].name;
        ++count;
    }
    if (count > kNamed) names += ", and " + std::to_string(count - kNamed) + " more";
    return names;
}

std::string PlanProblem(const AtlasPlan& plan, const AtlasGeometry& geometry, const std::vector<InputFrame>& frames,
                        const std::vector<size_t>& slot) {
    const Size2D limit = AtlasLimit(geometry);
    const std::string limitText = std::to_string(limit.w) + "x" + std::to_string(limit.h);
    switch (plan.failure) {
    case PlanFailure::NoRoom:
        return "--padding leaves no room inside the atlas size limit " + limitText;
    case PlanFailure::ShelfTooWide:
        return "a shelf atlas is at least 64 pixels wide, beyond the atlas size limit " + limitText;
    case PlanFailure::FramesOutside:
    case PlanFailure::None:
        break;
    }
    // Counted in frames, as the user sees them: duplicates share a slot.
    size_t count = 0;
    for (const size_t s : slot) {
        count += std::binary_search(plan.leftOut.begin(), plan.leftOut.end(), s) ? 1 : 0;
    }
    return std::to_string(count) + " of " + std::to_string(frames.size()) +
           " frames do not fit the atlas size limit " + limitText + ": " + LeftOutNames(plan.leftOut, frames, slot);
}

// Stage: where every packed image goes. False after reporting why not.
bool PlanStage(const AtlasSettings& settings, const std::vector<InputFrame>& frames, const PackedImages& packed,
               AtlasPlan& plan, std::ostream& err) {
    std::vector<Size2D> sizes;
    sizes.reserve(packed.images.size());
    for (const Image& image : packed.images) {
        sizes.push_back(Size2D{image.width, image.height});
    }
    plan = PlanAtlas(sizes, settings.geometry, settings.packer, settings.shelfRowWidth);
    if (plan.failure != PlanFailure::None) {
        ReportProblem(err, settings.prefix + ".png", PlanProblem(plan, settings.geometry, frames, packed.slot));
        return false;
    }
    return true;
}

// Stage: every file staged while the images encode, then committed at once.
// The documents' temporaries are written while the images encode, and each
// image's file while its later bands still deflate. The set exists before
// the encoders start, so their threads hold back termination signals as
// the set does.
bool WriteStage(const AtlasSettings& settings, const Io::OutputLock& lock, std::vector<Io::OutputFile> documents,
                const std::vector<Io::PngPicture>& pictures, std::string& error) {
    Io::OutputSet output(lock, true);
    Io::PngStreams encoding(pictures, settings.jobs);
    bool staged = true;
    for (size_t i = 0; staged && i < documents.size(); ++i) {
        staged = output.Stage(std::move(documents[i]), error);
    }
    for (size_t i = 0; staged && i < pictures.size(); ++i) {
        staged = output.StagePieces(
            pictures[i].path,
            [&encoding, i](std::vector<uint8_t>& piece, std::string& failure) {
                return encoding.Next(i, piece, failure);
            },
            error);
    }
    return staged && output.Commit(error);
}

void Summarise(const AtlasSettings& settings, size_t frames, size_t images, const Image& atlas, size_t files,
               std::ostream& out) {
    out << "Packed " << frames << (frames == 1 ? " frame" : " frames");
    if (images != frames) {
        out << " (" << images << " unique)";
    }
    out << " into a " << atlas.width << "x" << atlas.height << " atlas; wrote " << files
        << " files: " << settings.prefix << ".png, .json, .tres, .png.meta";
    if (settings.features.normalMap) {
        out << ", " << settings.prefix << "_n.png";
    }
    out << " and " << settings.prefix << "/\n";
}

int RunAtlasChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    AtlasSettings settings;
    settings.jobs = std::max(1U, std::thread::hardware_concurrency());
    const int early = ReadCommandLine(AtlasTable(), args, out, err, settings);
    if (early != kGoOn) {
        return early;
    }
    if (settings.operands.empty()) {
        return ReportUsage(err, "--atlas", "no INPUT given");
    }
    const std::string& prefix = settings.prefix;
    const FrameFeatures& features = settings.features;

    // Before any input is read: a second run on the same prefix stops here,
    // and what a killed run left half-done is made whole.
    Io::OutputLock lock;
    std::string error;
    if (!lock.Acquire(prefix, Io::OutputLock::Scope::Prefix, error)) {
        ReportLine(err, error);
        return kStatusFailed;
    }

    std::vector<InputFrame> frames;
    if (!GatherFrames(settings.operands, prefix, frames, err)) {
        return kStatusFailed;
    }
    Support::Progress progress(err);
    if (!DecodeFrames(frames, settings, progress, err)) {
        return kStatusFailed;
    }
    KeptUnityIds kept;
    kept.atlas = ReadKeptIds(prefix + ".png.meta");
    if (features.normalMap) {
        kept.normalMap = ReadKeptIds(prefix + "_n.png.meta");
    }
    const PackedImages packed = PrepareImages(frames, settings.dedupe);

    AtlasPlan plan;
    if (!PlanStage(settings, frames, packed, plan, err)) {
        return kStatusFailed;
    }
    progress.Stage("composing the atlas");
    Image atlas;
    if (!ComposeAtlas(packed.images, plan.positions, plan.width, plan.height, settings.geometry.extrude, atlas)) {
        ReportProblem(err, prefix + ".png", "the frames could not be placed on the atlas");
        return kStatusFailed;
    }

    const std::string base = Io::BaseName(prefix);
    Formats::Sheet sheet;
    sheet.imageFile = base + ".png";
    sheet.width = atlas.width;
    sheet.height = atlas.height;
    sheet.colliders = features.colliders;
    std::vector<Formats::Polygons> polygons;
    if (features.colliders) {
        progress.Stage("tracing colliders");
        polygons = TraceAll(packed.images, features, settings.jobs);
    }
    // The atlas may be indexed; the normal map keeps its RGBA bytes.
    std::vector<Io::PngPicture> pictures = {{prefix + ".png", &atlas, Io::PngColours::IndexedWhenFew}};
    Image normalAtlas;
    if (features.normalMap) {
        progress.Stage("computing normal maps");
        sheet.normalMapFile = base + "_n.png";
        const std::vector<Image> normals =
            packed.normals.empty() ? NormalMapAll(packed.images, features.strength, settings.jobs) : packed.normals;
        if (!ComposeAtlas(normals, plan.positions, atlas.width, atlas.height, settings.geometry.extrude,
                          normalAtlas)) {
            ReportProblem(err, prefix + "_n.png", "the normal maps could not be placed");
            return kStatusFailed;
        }
        pictures.emplace_back(prefix + "_n.png", &normalAtlas);
    }
    sheet.frames = PlaceFrames(frames, packed, plan, polygons);
    std::vector<Io::OutputFile> documents = BuildDocuments(prefix, settings.jsonArray, sheet, kept);
    const size_t fileCount = documents.size() + pictures.size();

    progress.Stage("encoding and writing");
    const bool written = WriteStage(settings, lock, std::move(documents), pictures, error);
    progress.Done();
    if (!written) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    Summarise(settings, frames.size(), packed.images.size(), atlas, fileCount, out);
    return kStatusOk;
}

}  // namespace

int RunAtlas(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Support::GuardMemory(err, [&]() { return RunAtlasChecked(args, out, err); });
}

}  // namespace Velmora::Commands
