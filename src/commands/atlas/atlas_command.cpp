// velmora2d --atlas: the user's PNG sprites in; the atlas PNG, sprite-sheet
// JSON, Godot 4 resources and Unity import settings out, all or nothing.
#include <algorithm>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "atlas/atlas_settings.h"
#include "atlas/documents.h"
#include "atlas/inputs.h"
#include "atlas/pages.h"
#include "atlas/watch.h"
#include "atlas/scales.h"
#include "commands/commands.h"
#include "io/file_io.h"
#include "io/output_lock.h"
#include "io/output_set.h"
#include "io/png_streams.h"
#include "support/parallel.h"
#include "support/progress.h"
#include "support/report.h"
#include "velmora/resample.h"

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

std::string PlanProblem(const PagesPlan& plan, const AtlasSettings& settings, const std::vector<InputFrame>& frames,
                        const std::vector<size_t>& slot) {
    const Size2D limit = AtlasLimit(settings.geometry);
    const std::string limitText = std::to_string(limit.w) + "x" + std::to_string(limit.h);
    switch (plan.failure) {
    case PagesFailure::NoRoom:
        return "--padding leaves no room inside the atlas size limit " + limitText;
    case PagesFailure::ShelfTooWide:
        return "a shelf atlas is at least 64 pixels wide, beyond the atlas size limit " + limitText;
    case PagesFailure::TooManyPages:
    case PagesFailure::FramesOutside:
    case PagesFailure::None:
        break;
    }
    // Counted in frames, as the user sees them: duplicates share a slot.
    size_t count = 0;
    for (const size_t s : slot) {
        count += std::binary_search(plan.leftOut.begin(), plan.leftOut.end(), s) ? 1 : 0;
    }
    const std::string names = LeftOutNames(plan.leftOut, frames, slot);
    if (plan.failure == PagesFailure::TooManyPages) {
        return std::to_string(count) + " of " + std::to_string(frames.size()) + " frames do not fit " +
               std::to_string(settings.maxPages) + (settings.maxPages == 1 ? " page" : " pages") + " of " +
               limitText + " (--max-pages; they need " + std::to_string(plan.pages.size()) + "): " + names;
    }
    return std::to_string(count) + " of " + std::to_string(frames.size()) +
           " frames do not fit the atlas size limit " + limitText + ": " + names;
}

// Stage: which page every packed image goes on, and where. False after
// reporting why not.
bool PlanStage(const AtlasSettings& settings, const std::string& prefix, const std::vector<InputFrame>& frames,
               const PackedImages& packed, const std::vector<int64_t>& earlierPages, PagesPlan& plan,
               std::ostream& err) {
    std::vector<Size2D> sizes;
    sizes.reserve(packed.images.size());
    for (const Image& image : packed.images) {
        sizes.push_back(Size2D{image.width, image.height});
    }
    // The packer's search shares the decoding threads.
    plan = RememberedPlanPages(sizes, earlierPages, settings.geometry, settings.packer, settings.shelfRowWidth,
                               settings.maxPages, LentThreads(settings.jobs));
    if (plan.failure != PagesFailure::None) {
        ReportProblem(err, prefix + ".png", PlanProblem(plan, settings, frames, packed.slot));
        return false;
    }
    return true;
}

// Stage: each page's images composed at their places. `images` are every
// packed image (or their normal maps); a single page uses them as they are.
bool ComposePages(const std::vector<Image>& images, const PagesPlan& plan, int32_t extrude, std::vector<Image>& pages) {
    pages.resize(plan.pages.size());
    for (size_t p = 0; p < plan.pages.size(); ++p) {
        const AtlasPlan& page = plan.pages[p];
        if (plan.pages.size() == 1) {
            if (!ComposeAtlas(images, page.positions, page.width, page.height, extrude, pages[p])) return false;
            continue;
        }
        std::vector<Image> own(plan.frames[p]);
        for (size_t i = 0; i < images.size(); ++i) {
            if (plan.pageOf[i] == p) own[plan.indexOnPage[i]] = images[i];
        }
        if (!ComposeAtlas(own, page.positions, page.width, page.height, extrude, pages[p])) return false;
    }
    return true;
}

// One scale's whole output set, planned and composed; its images stay here
// until they are written, and its documents are built while they encode.
struct Variant {
    std::vector<Image> atlases;
    std::vector<Image> normalAtlases;
    std::vector<Io::PngPicture> pictures;
    std::string prefix;                // PREFIX, or PREFIX@Sx
    std::vector<PageDocuments> pages;  // what the documents describe
    size_t frames = 0;
    size_t images = 0;
    size_t files = 0;
    bool animations = false;  // Phaser's PREFIX.anims.json among the documents
};

// Stage: every file staged while the images encode, then committed at once.
// The encoders start first: the documents are built and their temporaries
// written while the images deflate, and each image's file while its later
// bands still deflate. The set exists before the encoders start, so their
// threads hold back termination signals as the set does.
bool WriteStage(const AtlasSettings& settings, const Io::OutputLock& lock, std::vector<Variant>& variants,
                std::string& error) {
    std::vector<Io::PngPicture> pictures;
    for (const Variant& variant : variants) {
        pictures.insert(pictures.end(), variant.pictures.begin(), variant.pictures.end());
    }
    Io::OutputSet output(lock, true);
    Io::PngStreams encoding(pictures, settings.jobs);
    std::vector<Io::OutputFile> documents;
    for (Variant& variant : variants) {
        std::vector<Io::OutputFile> own = BuildDocuments(variant.prefix, settings.jsonArray, std::move(variant.pages));
        variant.files = own.size() + variant.pictures.size();
        const std::string animations = variant.prefix + ".anims.json";
        variant.animations =
            std::any_of(own.begin(), own.end(), [&animations](const Io::OutputFile& f) { return f.path == animations; });
        std::move(own.begin(), own.end(), std::back_inserter(documents));
    }
    bool staged = output.StageAll(std::move(documents), error);
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

void Summarise(const AtlasSettings& settings, const std::string& suffix, size_t frames, size_t images,
               const std::vector<Image>& pages, size_t files, bool animations, std::ostream& out) {
    const std::string prefix = settings.prefix + suffix;
    out << "Packed " << frames << (frames == 1 ? " frame" : " frames");
    if (images != frames) {
        out << " (" << images << " unique)";
    }
    if (pages.size() == 1) {
        out << " into a " << pages[0].width << "x" << pages[0].height << " atlas; wrote " << files
            << " files: " << prefix << ".png, .json, .tres, .png.meta";
        if (settings.features.normalMap) {
            out << ", " << prefix << "_n.png";
        }
    } else {
        out << " into " << pages.size() << " atlas pages (";
        for (size_t p = 0; p < pages.size(); ++p) {
            out << (p == 0 ? "" : ", ") << pages[p].width << "x" << pages[p].height;
        }
        out << "); wrote " << files << " files: " << PagePrefix(settings.prefix, 0, pages.size()) << suffix << " to "
            << PagePrefix(settings.prefix, pages.size() - 1, pages.size()) << suffix << " .png, .json, .png.meta";
        if (settings.features.normalMap) {
            out << ", _n.png";
        }
        out << ", " << prefix << ".multiatlas.json, " << prefix << ".tres";
    }
    if (animations) {
        out << ", " << prefix << ".anims.json";
    }
    out << " and " << prefix << "/\n";
}

// Packs shaped `frames` into the files of one scale: PREFIX, or PREFIX@Sx of
// a scale variant (pages PREFIX-N@Sx). False after reporting why not.
// `files`, when not null, are ReadFrames' kept files: those frames are
// decoded straight onto the planned pages.
bool PackVariant(const AtlasSettings& settings, ScaleFactor scale, std::vector<InputFrame>& frames,
                 std::vector<std::vector<uint8_t>>* files, Support::Progress& progress, std::ostream& err,
                 Variant& result) {
    const FrameFeatures& features = settings.features;
    const std::string suffix = ScaleSuffix(scale);
    const std::string prefix = settings.prefix + suffix;
    const EarlierRun earlier = ReadEarlierRun(settings.prefix, suffix, features.normalMap);
    const PackedImages packed = PrepareImages(frames, settings.dedupe);

    PagesPlan plan;
    std::ostringstream refusal;
    if (!PlanStage(settings, prefix, frames, packed, EarlierPages(frames, packed.slot, packed.images.size(), earlier), plan,
                   files != nullptr ? refusal : err)) {
        // A file that does not decode is reported first, as when every
        // frame is decoded before planning.
        if (files != nullptr && ReportUndecodable(frames, *files, settings.jobs, err)) err << refusal.str();
        return false;
    }
    const size_t pageCount = plan.pages.size();
    progress.Stage(pageCount == 1 ? "composing the atlas" : "composing the atlas pages");
    std::vector<Image>& atlases = result.atlases;
    if (files != nullptr) {
        if (!ComposeFromFiles(frames, packed.images, plan, atlases, *files, settings, progress, err)) return false;
    } else if (!ComposePages(packed.images, plan, settings.geometry.extrude, atlases)) {
        ReportProblem(err, prefix + ".png", "the frames could not be placed on the atlas");
        return false;
    }
    std::vector<Formats::Polygons> polygons;
    if (features.colliders) {
        progress.Stage("tracing colliders");
        polygons = TraceAll(packed.images, features, settings.jobs);
    }
    std::vector<Image>& normalAtlases = result.normalAtlases;
    if (features.normalMap) {
        progress.Stage("computing normal maps");
        const std::vector<Image> normals =
            packed.normals.empty() ? NormalMapAll(packed.images, features.strength, settings.jobs) : packed.normals;
        if (!ComposePages(normals, plan, settings.geometry.extrude, normalAtlases)) {
            ReportProblem(err, prefix + "_n.png", "the normal maps could not be placed");
            return false;
        }
    }

    // Where every packed image went, whatever its page.
    AtlasPlan placed;
    placed.positions.resize(packed.images.size());
    for (size_t i = 0; i < packed.images.size(); ++i) {
        placed.positions[i] = plan.pages[plan.pageOf[i]].positions[plan.indexOnPage[i]];
    }
    const std::vector<Formats::SheetFrame> entries = PlaceFrames(frames, packed, placed, polygons);
    std::vector<PageDocuments> pages(pageCount);
    // The atlas may be indexed; normal maps keep their RGBA bytes.
    std::vector<Io::PngPicture>& pictures = result.pictures;
    for (size_t p = 0; p < pageCount; ++p) {
        PageDocuments& page = pages[p];
        page.prefix = PagePrefix(settings.prefix, p, pageCount) + suffix;
        const std::string base = Io::BaseName(page.prefix);
        page.sheet.imageFile = base + ".png";
        page.sheet.width = atlases[p].width;
        page.sheet.height = atlases[p].height;
        page.sheet.colliders = features.colliders;
        page.sheet.scale = ScaleText(scale);
        page.sheet.pixelsPerUnit = ScaleText(ScaleFactor{100 * scale.numerator, scale.denominator});
        pictures.push_back({page.prefix + ".png", &atlases[p], Io::PngColours::Smallest});
        if (features.normalMap) {
            page.sheet.normalMapFile = base + "_n.png";
            pictures.push_back({page.prefix + "_n.png", &normalAtlases[p], Io::PngColours::Rgba});
        }
        const int64_t continues = plan.continues[p];
        if (continues >= 0 && static_cast<size_t>(continues) < earlier.atlas.size()) {
            page.kept.atlas = earlier.atlas[static_cast<size_t>(continues)];
            if (static_cast<size_t>(continues) < earlier.normal.size()) {
                page.kept.normalMap = earlier.normal[static_cast<size_t>(continues)];
            }
        }
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        pages[plan.pageOf[packed.slot[i]]].sheet.frames.push_back(entries[i]);
    }
    result.prefix = prefix;
    result.pages = std::move(pages);
    result.frames = frames.size();
    result.images = packed.images.size();
    return true;

}

// The frames of one scale variant: each source resampled, then trimmed and
// mapped on its own pixels. False after reporting the frames that cannot
// be scaled.
bool ScaleFrames(const AtlasSettings& settings, ScaleFactor scale, const std::vector<InputFrame>& sources,
                 std::vector<InputFrame>& scaled, std::ostream& err) {
    scaled.assign(sources.size(), InputFrame{});
    std::vector<std::string> errors(sources.size());
    Support::ParallelFor(sources.size(), settings.jobs, [&](size_t i) {
        InputFrame& frame = scaled[i];
        frame.name = sources[i].name;
        frame.path = sources[i].path;
        // A layered sprite file's frame keeps its place in the file and its time.
        frame.sprite = sources[i].sprite;
        frame.spriteFrame = sources[i].spriteFrame;
        frame.durationMs = sources[i].durationMs;
        frame.spriteTags = sources[i].spriteTags;
        ResampleResult result = ResampleImage(sources[i].image, scale, settings.filter);
        if (result.failure != ResampleFailure::None) {
            errors[i] = sources[i].path + ": at scale " + ScaleText(scale) + " " +
                        std::to_string(result.size.w) + "x" + std::to_string(result.size.h) +
                        " is larger than any atlas";
            return;
        }
        frame.image = std::move(result.image);
        ShapeFrame(frame, settings);
    });
    bool ok = true;
    for (const std::string& error : errors) {
        if (error.empty()) continue;
        ReportLine(err, error);
        ok = false;
    }
    return ok;
}

// A pack allocates and frees tens of MiB of images, rows and bands on
// several threads. glibc hands freed memory back to the system as soon as
// it can, and the next image faults it in again, page by page, while the
// other thread waits on the same locks. Keeping what was freed for the run
// costs nothing beyond its peak, which the run reaches anyway.
void KeepFreedMemory() {
#if defined(__GLIBC__)
    // Blocks up to 32 MiB (glibc's largest choice) come from the heaps,
    // which keep up to 1 GiB freed; larger ones are mapped for themselves.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
#endif
}

int RunAtlasChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    KeepFreedMemory();
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

    // Before any input is read: a second run on the same prefix stops here,
    // and what a killed run left half-done is made whole.
    Io::OutputLock lock;
    std::string error;
    if (!lock.Acquire(prefix, Io::OutputLock::Scope::Prefix, error)) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    return settings.watch ? WatchAtlas(settings, lock, out, err) : PackAtlas(settings, lock, nullptr, out, err);
}

}  // namespace

int PackAtlas(const AtlasSettings& settings, const Io::OutputLock& lock, FrameCache* cache, std::ostream& out,
              std::ostream& err) {
    const std::string& prefix = settings.prefix;
    std::string error;
    // Every thread but the caller's, waiting before the first file is read.
    Support::ReserveHelpers(settings.jobs > 1 ? settings.jobs - 1 : 0);
    std::vector<InputFrame> frames;
    if (!GatherFrames(settings.operands, prefix, frames, err)) {
        return kStatusFailed;
    }
    Support::Progress progress(err);
    // A one-off run of frames packed as they are decodes each file straight
    // onto the atlas; a watching one keeps decoded frames for the next pack.
    const bool direct = cache == nullptr && DecodesIntoAtlas(settings, frames);
    std::vector<std::vector<uint8_t>> files;
    if (direct ? !ReadFrames(frames, settings, files, progress, err)
               : !DecodeCached(frames, settings, cache, progress, err)) {
        return kStatusFailed;
    }
    // Every scale's set is written in the one commit below: all or none.
    std::vector<Variant> variants(settings.scales.size());
    if (!HasScaleVariants(settings)) {
        // The frames were shaped as they were read.
        if (!PackVariant(settings, settings.scales.front(), frames, direct ? &files : nullptr, progress, err,
                         variants.front())) {
            return kStatusFailed;
        }
    }
    for (size_t k = 0; HasScaleVariants(settings) && k < settings.scales.size(); ++k) {
        const ScaleFactor scale = settings.scales[k];
        progress.Stage("scaling to " + ScaleText(scale));
        std::vector<InputFrame> scaled;
        if (!ScaleFrames(settings, scale, frames, scaled, err) ||
            !PackVariant(settings, scale, scaled, nullptr, progress, err, variants[k])) {
            return kStatusFailed;
        }
    }
    progress.Stage("encoding and writing");
    const bool written = WriteStage(settings, lock, variants, error);
    progress.Done();
    if (!written) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    for (size_t k = 0; k < variants.size(); ++k) {
        const Variant& variant = variants[k];
        Summarise(settings, ScaleSuffix(settings.scales[k]), variant.frames, variant.images, variant.atlases,
                  variant.files, variant.animations, out);
    }
    return kStatusOk;
}

int RunAtlas(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Support::GuardMemory(err, [&]() { return RunAtlasChecked(args, out, err); });
}

}  // namespace Velmora::Commands
