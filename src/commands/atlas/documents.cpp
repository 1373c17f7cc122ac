#include "atlas/documents.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "formats/animations.h"
#include "formats/frame_files.h"
#include "formats/text_escape.h"
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

// Each page's JSON lists the animations of the whole set that lie wholly on
// it, as PixiJS resolves an animation's frames within its own page; the
// Godot SpriteFrames, over every page, has them all.
void ShareAnimations(std::vector<PageDocuments>& pages) {
    std::vector<Formats::SheetFrame> all;
    std::vector<size_t> pageOf;
    std::vector<size_t> local;
    for (size_t p = 0; p < pages.size(); ++p) {
        for (size_t i = 0; i < pages[p].sheet.frames.size(); ++i) {
            all.push_back(pages[p].sheet.frames[i]);
            pageOf.push_back(p);
            local.push_back(i);
        }
        pages[p].sheet.animations.emplace();
    }
    for (const Formats::Animation& animation : Formats::SheetAnimations(all)) {
        const size_t page = pageOf[animation.frames.front()];
        const bool whole = std::all_of(animation.frames.begin(), animation.frames.end(),
                                       [&](size_t f) { return pageOf[f] == page; });
        if (!whole) continue;
        Formats::Animation onPage = animation;
        onPage.frames.clear();
        for (const size_t f : animation.frames) {
            onPage.frames.push_back(local[f]);
        }
        pages[page].sheet.animations->push_back(std::move(onPage));
    }
}

// Phaser's animations file is written for sets with layered sprite
// files, whose timing no other Phaser document carries; PNG sequences
// alone keep the files they always had.
bool HasTimedFrames(const std::vector<Formats::Sheet>& sheets) {
    return std::any_of(sheets.begin(), sheets.end(), [](const Formats::Sheet& sheet) {
        return std::any_of(sheet.frames.begin(), sheet.frames.end(),
                           [](const Formats::SheetFrame& frame) { return frame.durationMs > 0; });
    });
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
        entry.durationMs = frame.durationMs;
        entry.sprite = frame.sprite;
        entry.spriteFrame = frame.spriteFrame;
        entry.spriteTags = frame.spriteTags;
        if (!polygons.empty()) {
            entry.polygons = OffsetPolygons(polygons[s], frame.stored.x, frame.stored.y);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<Io::OutputFile> BuildDocuments(const std::string& prefix, bool jsonArray,
                                           std::vector<PageDocuments> pages) {
    std::vector<Io::OutputFile> files;
    const bool several = pages.size() > 1;
    if (several) {
        ShareAnimations(pages);
        for (size_t p = 1; p < pages.size(); ++p) {
            pages[0].sheet.relatedPacks.push_back(Io::BaseName(pages[p].prefix) + ".json");
        }
    }
    std::vector<Formats::Sheet> sheets;
    std::vector<std::string> images;
    std::vector<std::string> normals;
    for (const PageDocuments& page : pages) {
        const Formats::Sheet& sheet = page.sheet;
        AddText(files, page.prefix + ".json",
                jsonArray ? Formats::BuildJsonArray(sheet) : Formats::BuildJsonHash(sheet));
        sheets.push_back(sheet);
        images.push_back(sheet.imageFile);
        normals.push_back(sheet.normalMapFile);
    }
    if (several) AddText(files, prefix + ".multiatlas.json", Formats::BuildPhaserMultiAtlas(sheets));
    if (HasTimedFrames(sheets)) {
        AddText(files, prefix + ".anims.json", Formats::BuildPhaserAnimations(sheets, Io::BaseName(prefix)));
    }
    AddText(files, prefix + ".tres", Formats::BuildGodotSpriteFrames(sheets, images, normals));
    for (const Formats::Sheet& sheet : sheets) {
        const bool normal = !sheet.normalMapFile.empty();
        for (const Formats::SheetFrame& frame : sheet.frames) {
            // Per-frame files are named after the name the documents give
            // the frame, with what a file system or Godot would misread
            // escaped; the references are built from the same path, so they
            // always agree.
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
    }

    // A first run derives the guids from the page's file name, so they are
    // stable across machines; later runs keep what the .meta files hold,
    // and a page that carries on an earlier one keeps its guid even when
    // its number changes. No two pages ever share one.
    const std::string guidKey = Io::ForwardSlashes(prefix);
    std::set<std::string> used;
    for (const PageDocuments& page : pages) {
        used.insert(page.kept.atlas.guid);
        used.insert(page.kept.normalMap.guid);
    }
    const auto guidFor = [&used](const std::string& kept, const std::string& key) {
        if (!kept.empty()) return kept;
        std::string guid = Formats::UnityGuidFor(key);
        for (int round = 2; used.count(guid) != 0; ++round) {
            guid = Formats::UnityGuidFor(key + "~" + std::to_string(round));
        }
        used.insert(guid);
        return guid;
    };
    for (size_t p = 0; p < pages.size(); ++p) {
        const PageDocuments& page = pages[p];
        const std::string key = guidKey + (several ? "-" + std::to_string(p) : "");
        const std::string guid = guidFor(page.kept.atlas.guid, key + ".png");
        std::string normalGuid;
        if (!page.sheet.normalMapFile.empty()) {
            normalGuid = guidFor(page.kept.normalMap.guid, key + "_n.png");
            AddText(files, page.prefix + "_n.png.meta", Formats::BuildUnityNormalMapMeta(normalGuid));
        }
        AddText(files, page.prefix + ".png.meta",
                Formats::BuildUnityMeta(page.sheet, guid, page.kept.atlas, normalGuid));
    }
    return files;
}

}  // namespace Velmora::Commands
