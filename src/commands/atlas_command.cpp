// velmora2d --atlas: the user's PNG sprites in; the atlas PNG, sprite-sheet
// JSON, Godot 4 resources and Unity import settings out, all or nothing.
#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "commands/commands.h"
#include "commands/options.h"
#include "commands/pipeline.h"
#include "formats/sheet.h"
#include "io/file_io.h"
#include "io/output_set.h"
#include "io/png_io.h"
#include "velmora_engine.h"

namespace Velmora::Commands {

namespace {

constexpr const char* kAtlasHelp =
    "Usage: velmora2d --atlas [options] INPUT...\n"
    "\n"
    "Packs PNG sprites into one atlas and writes it with its documents:\n"
    "  PREFIX.png          the atlas, 8-bit RGBA\n"
    "  PREFIX.json         sprite-sheet JSON (PixiJS, Phaser)\n"
    "  PREFIX.tres         Godot 4 SpriteFrames, one animation per name stem\n"
    "  PREFIX/NAME.tres    Godot 4 AtlasTexture per frame\n"
    "  PREFIX.png.meta     Unity import settings, one sprite per frame\n"
    "INPUT is a PNG file or a folder searched recursively for *.png. A frame\n"
    "is named by its path relative to its folder (or its file name), without\n"
    "the extension, with '/' between folders.\n"
    "\n"
    "Options:\n"
    "  -o, --output PREFIX   where to write (default: atlas)\n"
    "  --json hash|array     JSON layout (default: hash)\n"
    "  --packer maxrects|shelf\n"
    "                        maxrects packs tightly (default); shelf fills rows\n"
    "                        in name order up to --max-width\n"
    "  --max-width N         shelf row limit (default: 2048)\n"
    "  --max-size WxH        largest atlas (default and limit: 8192x8192)\n"
    "  --pot                 power-of-two atlas width and height\n"
    "  --trim                cut transparent borders; every format keeps the\n"
    "                        frame's original size and placement\n"
    "  --padding N           transparent pixels between frames and at the edges\n"
    "  --extrude N           repeat each frame's edge pixels N times around it\n"
    "  --dedupe              identical frames share one rectangle\n"
    "  --normal-map          also write PREFIX_n.png, the frames' normal maps\n"
    "  --strength S          normal map strength (default: 1.0)\n"
    "  --colliders           trace collision polygons: Unity physics shapes,\n"
    "                        JSON \"polygons\", Godot scenes PREFIX/NAME.tscn\n"
    "  --alpha A             solid from this alpha on, 0-255 (default: 10)\n"
    "  --tolerance T         polygon simplification in pixels (default: 1.0)\n"
    "  --jobs N              decoding and encoding threads (default: all cores)\n"
    "  --help                this text\n"
    "Frames are never rotated.\n"
    "\n"
    "Exit status: 0 written, 1 usage error, 2 input or output error (nothing\n"
    "is written then).\n";

constexpr int32_t kAtlasLimit = 8192;

struct AtlasOptions {
    std::string prefix = "atlas";
    int32_t maxWidth = 2048;
    bool jsonArray = false;
    bool shelf = false;
    bool trim = false;
    bool pot = false;
    bool dedupe = false;
    int32_t padding = 0;
    int32_t extrude = 0;
    int32_t maxAtlasWidth = kAtlasLimit;
    int32_t maxAtlasHeight = kAtlasLimit;
    unsigned jobs = 1;
    FrameFeatures features;
    std::vector<std::string> inputs;
};

const std::vector<OptionRule>& AtlasOptionRules() {
    static const std::vector<OptionRule> rules = {
        {"--output", "-o", true},   {"--max-width", nullptr, true}, {"--json", nullptr, true},
        {"--packer", nullptr, true}, {"--trim", nullptr, false},    {"--padding", nullptr, true},
        {"--extrude", nullptr, true}, {"--pot", nullptr, false},    {"--max-size", nullptr, true},
        {"--dedupe", nullptr, false}, {"--jobs", nullptr, true},    {"--normal-map", nullptr, false},
        {"--strength", nullptr, true}, {"--colliders", nullptr, false}, {"--alpha", nullptr, true},
        {"--tolerance", nullptr, true}, {"--help", "-h", false},
    };
    return rules;
}

// Reads the options into `options`; false with `error` on a usage error.
bool ReadAtlasOptions(const ParsedOptions& parsed, AtlasOptions& options, std::string& error) {
    const auto has = [&parsed](const char* name) { return parsed.values.count(name) != 0; };
    const auto value = [&parsed](const char* name) { return parsed.values.at(name); };
    int64_t number = 0;
    if (has("--output")) {
        options.prefix = value("--output");
        if (options.prefix.empty() || options.prefix.back() == '/' || options.prefix.back() == '\\') {
            error = "--output needs a file name prefix, not a folder: '" + options.prefix + "'";
            return false;
        }
    }
    if (has("--max-width")) {
        if (!ParseInteger(value("--max-width"), 1, kAtlasLimit, number)) {
            error = "--max-width needs a whole number from 1 to 8192";
            return false;
        }
        options.maxWidth = static_cast<int32_t>(number);
    }
    if (has("--json")) {
        const std::string layout = value("--json");
        if (layout != "hash" && layout != "array") {
            error = "--json is 'hash' or 'array', not '" + layout + "'";
            return false;
        }
        options.jsonArray = layout == "array";
    }
    if (has("--packer")) {
        const std::string packer = value("--packer");
        if (packer != "maxrects" && packer != "shelf") {
            error = "--packer is 'maxrects' or 'shelf', not '" + packer + "'";
            return false;
        }
        options.shelf = packer == "shelf";
    }
    for (const auto& [name, target] : {std::pair<const char*, int32_t*>{"--padding", &options.padding},
                                       std::pair<const char*, int32_t*>{"--extrude", &options.extrude}}) {
        if (has(name)) {
            if (!ParseInteger(value(name), 0, 1024, number)) {
                error = std::string(name) + " needs a whole number from 0 to 1024";
                return false;
            }
            *target = static_cast<int32_t>(number);
        }
    }
    if (has("--max-size") && !ParseSize(value("--max-size"), kAtlasLimit, options.maxAtlasWidth,
                                        options.maxAtlasHeight)) {
        error = "--max-size needs WxH with sides from 1 to 8192, e.g. 4096x4096";
        return false;
    }
    if (has("--jobs")) {
        if (!ParseInteger(value("--jobs"), 1, 256, number)) {
            error = "--jobs needs a whole number from 1 to 256";
            return false;
        }
        options.jobs = static_cast<unsigned>(number);
    } else {
        options.jobs = std::max(1U, std::thread::hardware_concurrency());
    }
    options.trim = has("--trim");
    options.pot = has("--pot");
    options.dedupe = has("--dedupe");
    options.features.normalMap = has("--normal-map");
    options.features.colliders = has("--colliders");
    options.inputs = parsed.operands;
    if (options.inputs.empty()) {
        error = "no INPUT given";
        return false;
    }
    return true;
}

// Where the packed frames go: one position per packed image, and the atlas.
struct Layout {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Point2D> positions;  // the frame's own top-left pixel
};

int32_t NextPowerOfTwo(int32_t value) {
    int32_t power = 1;
    while (power < value) {
        power *= 2;
    }
    return power;
}

int32_t LargestPowerOfTwoUpTo(int32_t value) {
    int32_t power = 1;
    while (power * 2 <= value) {
        power *= 2;
    }
    return power;
}

// The shelf layout PackSprites will produce, planned without pixels so an
// atlas beyond the limits is refused before anything is allocated.
Layout PlanShelf(const std::vector<Size2D>& cells, int32_t maxWidth) {
    Layout layout;
    int64_t x = 0;
    int64_t y = 0;
    int64_t rowHeight = 0;
    int64_t extent = 0;
    for (const Size2D& cell : cells) {
        if (x + cell.w > maxWidth) {
            y += rowHeight;
            x = 0;
            rowHeight = 0;
        }
        layout.positions.push_back(Point2D{static_cast<int32_t>(std::min<int64_t>(x, INT32_MAX)),
                                           static_cast<int32_t>(std::min<int64_t>(y, INT32_MAX))});
        x += cell.w;
        rowHeight = std::max<int64_t>(rowHeight, cell.h);
        extent = std::max(extent, x);
    }
    layout.width = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(extent, 64), INT32_MAX));
    layout.height = static_cast<int32_t>(std::min<int64_t>(y + rowHeight, INT32_MAX));
    return layout;
}

// Packs `cells` (frame plus extrusion plus trailing padding) and turns cell
// corners into frame corners. On failure returns false with `error`.
bool PlanAtlas(const AtlasOptions& options, const std::vector<Size2D>& cells, Layout& layout,
               std::string& error) {
    const int32_t limitW = options.pot ? LargestPowerOfTwoUpTo(options.maxAtlasWidth) : options.maxAtlasWidth;
    const int32_t limitH = options.pot ? LargestPowerOfTwoUpTo(options.maxAtlasHeight) : options.maxAtlasHeight;
    const std::string limitText = std::to_string(limitW) + "x" + std::to_string(limitH);
    const int32_t inset = options.padding + options.extrude;
    if (options.shelf) {
        layout = PlanShelf(cells, options.maxWidth);
        size_t outside = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const int64_t right = int64_t{options.padding} + layout.positions[i].x + cells[i].w;
            const int64_t bottom = int64_t{options.padding} + layout.positions[i].y + cells[i].h;
            outside += right > limitW || bottom > limitH ? 1 : 0;
        }
        if (outside != 0) {
            error = std::to_string(outside) + " of " + std::to_string(cells.size()) +
                    " frames do not fit the atlas size limit " + limitText;
            return false;
        }
        if (int64_t{options.padding} + layout.width > limitW) {
            error = "a shelf atlas is at least 64 pixels wide, beyond the atlas size limit " + limitText;
            return false;
        }
    } else {
        if (limitW <= options.padding || limitH <= options.padding) {
            error = "--padding leaves no room inside the atlas size limit " + limitText;
            return false;
        }
        const RectPlacement placement =
            PackRectsMaxRects(cells, limitW - options.padding, limitH - options.padding, false);
        if (!placement.fits) {
            error = std::to_string(placement.unplaced) + " of " + std::to_string(cells.size()) +
                    " frames do not fit the atlas size limit " + limitText;
            return false;
        }
        layout.width = placement.width;
        layout.height = placement.height;
        layout.positions = placement.positions;
    }
    layout.width += options.padding;
    layout.height += options.padding;
    for (Point2D& position : layout.positions) {
        position.x += inset;
        position.y += inset;
    }
    if (options.pot) {
        layout.width = NextPowerOfTwo(layout.width);
        layout.height = NextPowerOfTwo(layout.height);
    }
    return true;
}

// The shelf packer composes its own atlas; frames go in as cells, which are
// the frames themselves when there is no padding or extrusion.
bool ComposeWithShelf(const AtlasOptions& options, std::vector<Image>& images,
                      const std::vector<Size2D>& cells, const Layout& planned, Image& atlas) {
    const bool bare = options.padding == 0 && options.extrude == 0 && !options.pot;
    std::vector<SpriteFrame> frames(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        frames[i].width = cells[i].w;
        frames[i].height = cells[i].h;
        if (bare) {
            frames[i].pixels = std::move(images[i].pixels);
        } else {
            frames[i].pixels.assign(static_cast<size_t>(cells[i].w) * static_cast<size_t>(cells[i].h), 0U);
        }
    }
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rect2D> rects;
    std::vector<uint32_t> pixels;
    const bool packed = PackSprites(frames, options.maxWidth, width, height, rects, pixels);
    if (bare) {
        for (size_t i = 0; i < cells.size(); ++i) {
            images[i].pixels = std::move(frames[i].pixels);
        }
    }
    // The plan must be what the packer did; anything else is a fault here.
    bool agrees = packed && rects.size() == planned.positions.size();
    const int32_t inset = options.padding + options.extrude;
    for (size_t i = 0; agrees && i < rects.size(); ++i) {
        agrees = rects[i].x + inset == planned.positions[i].x && rects[i].y + inset == planned.positions[i].y;
    }
    if (!agrees) {
        return false;
    }
    if (bare && width == planned.width && height == planned.height) {
        atlas.width = width;
        atlas.height = height;
        atlas.pixels = std::move(pixels);
        return true;
    }
    return ComposeAtlas(images, planned.positions, planned.width, planned.height, options.extrude, atlas);
}

InputFrame MakeInput(const std::string& name, const std::string& path) {
    InputFrame frame;
    frame.name = name;
    frame.path = path;
    return frame;
}

// Finds the frames of every INPUT. Problems are written to `err`, one line
// each; returns false when there was any.
bool GatherInputs(const std::vector<std::string>& inputs, std::vector<InputFrame>& frames, std::ostream& err) {
    bool ok = true;
    for (const std::string& input : inputs) {
        const Io::PathKind kind = Io::GetPathKind(input);
        if (kind == Io::PathKind::File) {
            frames.push_back(MakeInput(StripExtension(Io::BaseName(input)), input));
            continue;
        }
        if (kind != Io::PathKind::Folder) {
            ReportProblem(err, input, kind == Io::PathKind::Missing ? "no such file or folder"
                                                                    : "not a file or folder");
            ok = false;
            continue;
        }
        std::vector<Io::FoundFile> found;
        std::string error;
        if (!Io::ListPngFiles(input, found, error)) {
            ReportLine(err, error);
            ok = false;
            continue;
        }
        if (found.empty()) {
            ReportProblem(err, input, "no PNG files in this folder");
            ok = false;
        }
        for (Io::FoundFile& file : found) {
            frames.push_back(MakeInput(StripExtension(file.relative), file.path));
        }
    }
    return ok;
}

// Sorts frames bytewise by name and reports names given by two inputs,
// also where two names differ only in bytes that are not UTF-8 (documents
// and per-frame file names carry them as U+FFFD, so they would collide).
bool OrderFrames(std::vector<InputFrame>& frames, std::ostream& err) {
    std::stable_sort(frames.begin(), frames.end(),
                     [](const InputFrame& a, const InputFrame& b) { return a.name < b.name; });
    std::map<std::string, size_t> seen;
    bool ok = true;
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto [it, fresh] = seen.emplace(Formats::DocumentName(frames[i].name), i);
        if (!fresh) {
            const InputFrame& first = frames[it->second];
            ReportProblem(err, first.path + ", " + frames[i].path,
                          "both give the frame name '" + it->first + "'");
            ok = false;
        }
    }
    return ok;
}

// "../" once per folder between PREFIX/NAME.tres and PREFIX.png.
std::string UpToPrefixFolder(const std::string& name) {
    std::string up = "../";
    for (const char c : name) {
        if (c == '/') {
            up += "../";
        }
    }
    return up;
}

std::string NameBase(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Every document of the sheet, as files to commit.
void AddDocuments(const AtlasOptions& options, const Formats::Sheet& sheet,
                  std::vector<Io::OutputFile>& files) {
    const std::string& prefix = options.prefix;
    const bool normal = !sheet.normalMapFile.empty();
    AddText(files, prefix + ".json",
            options.jsonArray ? Formats::BuildJsonArray(sheet) : Formats::BuildJsonHash(sheet));
    AddText(files, prefix + ".tres",
            Formats::BuildGodotSpriteFrames(sheet, sheet.imageFile, normal ? sheet.normalMapFile : ""));
    for (const Formats::SheetFrame& frame : sheet.frames) {
        // Per-frame files are named as the documents name the frame, so
        // references and files always agree.
        const std::string fileName = Formats::DocumentName(frame.name);
        const std::string up = UpToPrefixFolder(fileName);
        std::string framePath = prefix;
        framePath.append("/").append(fileName);
        AddText(files, framePath + ".tres",
                Formats::BuildGodotAtlasTexture(frame, up + sheet.imageFile,
                                                normal ? up + sheet.normalMapFile : ""));
        if (sheet.colliders) {
            AddText(files, framePath + ".tscn",
                    Formats::BuildGodotColliderScene(frame, NameBase(fileName) + ".tres"));
        }
    }

    // Unity: keep the guid and sprite ids of an existing .meta so scene
    // references survive re-packing.
    const std::string guidKey = ForwardSlashes(prefix);
    const Formats::UnityKeptIds kept = ReadKeptIds(prefix + ".png.meta");
    const std::string guid = kept.guid.empty() ? Formats::UnityGuidFor(guidKey + ".png") : kept.guid;
    std::string normalGuid;
    if (normal) {
        const Formats::UnityKeptIds keptNormal = ReadKeptIds(prefix + "_n.png.meta");
        normalGuid = keptNormal.guid.empty() ? Formats::UnityGuidFor(guidKey + "_n.png") : keptNormal.guid;
        AddText(files, prefix + "_n.png.meta", Formats::BuildUnityNormalMapMeta(normalGuid));
    }
    AddText(files, prefix + ".png.meta", Formats::BuildUnityMeta(sheet, guid, kept, normalGuid));
}

int RunAtlasChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    ParsedOptions parsed;
    AtlasOptions options;
    const int early =
        ReadCommandLine("--atlas", args, AtlasOptionRules(), kAtlasHelp, out, err, parsed, options.features);
    if (early != kGoOn) {
        return early;
    }
    std::string error;
    if (!ReadAtlasOptions(parsed, options, error)) {
        return ReportUsage(err, "--atlas", error);
    }

    std::vector<InputFrame> frames;
    if (!GatherInputs(options.inputs, frames, err) || !OrderFrames(frames, err)) {
        return kStatusFailed;
    }
    Progress progress(err);
    if (!DecodeFrames(frames, options.jobs, progress, err)) {
        return kStatusFailed;
    }

    // Trim, then share identical frames: `slot[i]` is frame i's packed image.
    std::vector<Image> images;
    std::vector<size_t> slot(frames.size());
    for (InputFrame& frame : frames) {
        frame.stored = Rect2D{0, 0, frame.image.width, frame.image.height, {}};
        if (options.trim) {
            frame.stored = FindOpaqueBounds(frame.image);
            if (frame.stored.w != frame.image.width || frame.stored.h != frame.image.height) {
                frame.image = CropImage(frame.image, frame.stored);
            }
        }
    }
    std::vector<size_t> twin(frames.size());
    if (options.dedupe) {
        std::vector<Image> all(frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            all[i] = std::move(frames[i].image);
        }
        twin = FindDuplicateImages(all);
        for (size_t i = 0; i < frames.size(); ++i) {
            frames[i].image = std::move(all[i]);
        }
    } else {
        for (size_t i = 0; i < frames.size(); ++i) {
            twin[i] = i;
        }
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        if (twin[i] == i) {
            slot[i] = images.size();
            images.push_back(std::move(frames[i].image));
        } else {
            slot[i] = slot[twin[i]];
        }
    }

    std::vector<Size2D> cells;
    cells.reserve(images.size());
    const int32_t border = 2 * options.extrude + options.padding;
    for (const Image& image : images) {
        cells.push_back(Size2D{image.width + border, image.height + border});
    }
    Layout layout;
    if (!PlanAtlas(options, cells, layout, error)) {
        ReportProblem(err, options.prefix + ".png", error);
        return kStatusFailed;
    }
    progress.Stage("composing the atlas");
    Image atlas;
    const bool composed = options.shelf ? ComposeWithShelf(options, images, cells, layout, atlas)
                                        : ComposeAtlas(images, layout.positions, layout.width,
                                                       layout.height, options.extrude, atlas);
    if (!composed) {
        ReportProblem(err, options.prefix + ".png", "the frames could not be placed on the atlas");
        return kStatusFailed;
    }

    const std::string base = Io::BaseName(options.prefix);
    Formats::Sheet sheet;
    sheet.imageFile = base + ".png";
    sheet.width = atlas.width;
    sheet.height = atlas.height;
    sheet.colliders = options.features.colliders;

    std::vector<Formats::Polygons> polygons;
    if (options.features.colliders) {
        progress.Stage("tracing colliders");
        polygons = TraceAll(images, options.features, options.jobs);
    }
    // The images to encode, each with its file.
    std::vector<std::pair<std::string, const Image*>> pictures = {{options.prefix + ".png", &atlas}};
    Image normalAtlas;
    if (options.features.normalMap) {
        progress.Stage("computing normal maps");
        sheet.normalMapFile = base + "_n.png";
        std::vector<Image> normals = NormalMapAll(images, options.features.strength, options.jobs);
        if (!ComposeAtlas(normals, layout.positions, atlas.width, atlas.height, options.extrude, normalAtlas)) {
            ReportProblem(err, options.prefix + "_n.png", "the normal maps could not be placed");
            return kStatusFailed;
        }
        pictures.emplace_back(options.prefix + "_n.png", &normalAtlas);
    }
    for (size_t i = 0; i < frames.size(); ++i) {
        const InputFrame& frame = frames[i];
        const size_t s = slot[i];
        Formats::SheetFrame entry;
        entry.name = frame.name;
        entry.x = layout.positions[s].x;
        entry.y = layout.positions[s].y;
        entry.w = frame.stored.w;
        entry.h = frame.stored.h;
        entry.sourceW = frame.sourceW;
        entry.sourceH = frame.sourceH;
        entry.offsetX = frame.stored.x;
        entry.offsetY = frame.stored.y;
        entry.trimmed = entry.w != entry.sourceW || entry.h != entry.sourceH;
        if (options.features.colliders) {
            entry.polygons = OffsetPolygons(polygons[s], frame.stored.x, frame.stored.y);
        }
        sheet.frames.push_back(std::move(entry));
    }
    std::vector<Io::OutputFile> documents;
    AddDocuments(options, sheet, documents);

    // The documents' temporaries are written while the images encode, and
    // each image's file while its later bands still deflate. The set exists
    // before the encoders start, so their threads hold back termination
    // signals as the set does.
    progress.Stage("encoding and writing");
    Io::OutputSet output;
    PngStreams encoding(pictures, options.jobs);
    bool staged = true;
    for (size_t i = 0; staged && i < documents.size(); ++i) {
        staged = output.Stage(std::move(documents[i]), error);
    }
    for (size_t i = 0; staged && i < pictures.size(); ++i) {
        staged = output.StagePieces(
            pictures[i].first,
            [&encoding, i](std::vector<uint8_t>& piece, std::string& failure) {
                return encoding.Next(i, piece, failure);
            },
            error);
    }
    const size_t fileCount = documents.size() + pictures.size();
    if (!staged || !output.Commit(error)) {
        progress.Done();
        ReportLine(err, error);
        return kStatusFailed;
    }
    progress.Done();
    out << "Packed " << frames.size() << " frames";
    if (images.size() != frames.size()) {
        out << " (" << images.size() << " unique)";
    }
    out << " into a " << atlas.width << "x" << atlas.height << " atlas; wrote " << fileCount
        << " files: " << options.prefix << ".png, .json, .tres, .png.meta";
    if (options.features.normalMap) {
        out << ", " << options.prefix << "_n.png";
    }
    out << " and " << options.prefix << "/\n";
    return kStatusOk;
}

}  // namespace

int RunAtlas(const Arguments& args, std::ostream& out, std::ostream& err) {
    return GuardMemory(err, [&]() { return RunAtlasChecked(args, out, err); });
}

}  // namespace Velmora::Commands
