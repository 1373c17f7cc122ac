#include "atlas/documents.h"

#include "formats/frame_files.h"
#include "frame_features.h"
#include "io/file_io.h"

namespace Velmora::Commands {

namespace {

void AddText(std::vector<Io::OutputFile>& files, const std::string& path, const std::string& text) {
    files.push_back(Io::OutputFile{path, std::vector<uint8_t>(text.begin(), text.end())});
}

// "../" once per folder between PREFIX/PATH.tres and PREFIX.png; a
// FrameFilePath holds a '/' only between folders.
std::string UpToPrefixFolder(const std::string& path) {
    std::string up = "../";
    for (const char c : path) {
        if (c == '/') {
            up += "../";
        }
    }
    return up;
}

std::string FileBase(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<Formats::SheetFrame> PlaceFrames(const std::vector<InputFrame>& frames, const PackedImages& packed,
                                             const AtlasPlan& plan, const std::vector<Formats::Polygons>& polygons) {
    std::vector<Formats::SheetFrame> entries;
    entries.reserve(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const InputFrame& frame = frames[i];
        const size_t s = packed.slot[i];
        Formats::SheetFrame entry;
        entry.name = frame.name;
        entry.x = plan.positions[s].x;
        entry.y = plan.positions[s].y;
        entry.w = frame.stored.w;
        entry.h = frame.stored.h;
        entry.sourceW = frame.sourceW;
        entry.sourceH = frame.sourceH;
        entry.offsetX = frame.stored.x;
        entry.offsetY = frame.stored.y;
        entry.trimmed = entry.w != entry.sourceW || entry.h != entry.sourceH;
        if (!polygons.empty()) {
            entry.polygons = OffsetPolygons(polygons[s], frame.stored.x, frame.stored.y);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<Io::OutputFile> BuildDocuments(const std::string& prefix, bool jsonArray, const Formats::Sheet& sheet,
                                           const KeptUnityIds& kept) {
    std::vector<Io::OutputFile> files;
    const bool normal = !sheet.normalMapFile.empty();
    AddText(files, prefix + ".json", jsonArray ? Formats::BuildJsonArray(sheet) : Formats::BuildJsonHash(sheet));
    AddText(files, prefix + ".tres",
            Formats::BuildGodotSpriteFrames(sheet, sheet.imageFile, normal ? sheet.normalMapFile : ""));
    for (const Formats::SheetFrame& frame : sheet.frames) {
        // Per-frame files are named after the name the documents give the
        // frame, with what a file system or Godot would misread escaped;
        // the references are built from the same path, so they always agree.
        const std::string filePath = Formats::FrameFilePath(Formats::DocumentName(frame.name));
        const std::string up = UpToPrefixFolder(filePath);
        std::string framePath = prefix;
        framePath.append("/").append(filePath);
        AddText(files, framePath + ".tres",
                Formats::BuildGodotAtlasTexture(frame, up + sheet.imageFile,
                                                normal ? up + sheet.normalMapFile : ""));
        if (sheet.colliders) {
            AddText(files, framePath + ".tscn",
                    Formats::BuildGodotColliderScene(frame, FileBase(filePath) + ".tres"));
        }
    }

    // A first run derives the guids from the prefix, so they are stable
    // across machines; later runs keep what the .meta files hold.
    const std::string guidKey = Io::ForwardSlashes(prefix);
    const std::string guid = kept.atlas.guid.empty() ? Formats::UnityGuidFor(guidKey + ".png") : kept.atlas.guid;
    std::string normalGuid;
    if (normal) {
        normalGuid = kept.normalMap.guid.empty() ? Formats::UnityGuidFor(guidKey + "_n.png") : kept.normalMap.guid;
        AddText(files, prefix + "_n.png.meta", Formats::BuildUnityNormalMapMeta(normalGuid));
    }
    AddText(files, prefix + ".png.meta", Formats::BuildUnityMeta(sheet, guid, kept.atlas, normalGuid));
    return files;
}

}  // namespace Velmora::Commands
