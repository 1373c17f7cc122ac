#include "atlas/sprite_files.h"

#include <map>
#include <new>
#include <ostream>
#include <utility>

#include "io/aseprite.h"
#include "support/parallel.h"
#include "support/report.h"

namespace Velmora::Commands {

namespace {

Formats::PlayDirection DirectionOf(Io::AsepriteDirection direction) {
    switch (direction) {
    case Io::AsepriteDirection::Reverse: return Formats::PlayDirection::Reverse;
    case Io::AsepriteDirection::PingPong: return Formats::PlayDirection::PingPong;
    case Io::AsepriteDirection::PingPongReverse: return Formats::PlayDirection::PingPongReverse;
    case Io::AsepriteDirection::Forward: break;
    }
    return Formats::PlayDirection::Forward;
}

std::vector<Formats::FrameTag> TagsOf(const Io::AsepriteSprite& sprite) {
    std::vector<Formats::FrameTag> tags;
    tags.reserve(sprite.tags.size());
    for (const Io::AsepriteTag& tag : sprite.tags) {
        tags.push_back(Formats::FrameTag{tag.name, tag.from, tag.to, DirectionOf(tag.direction), tag.repeat});
    }
    return tags;
}

// One file's frames: decoded together, then handed out one by one, each
// shaped (trimmed) before the next, so the file's whole frames go as they
// are taken.
std::string DecodeFile(const std::string& path, const std::vector<size_t>& members, std::vector<InputFrame>& frames,
                       const AtlasSettings& settings) {
    Io::AsepriteSprite sprite;
    std::string error;
    if (!Io::ReadAsepriteFile(path, sprite, error)) return path + ": " + error;
    const std::vector<Formats::FrameTag> tags = TagsOf(sprite);
    for (const size_t i : members) {
        InputFrame& frame = frames[i];
        const auto number = static_cast<size_t>(frame.spriteFrame);
        // Saved again between reading its header and now.
        if (number >= sprite.frames.size() || members.size() != sprite.frames.size() ||
            sprite.width != frame.sourceW || sprite.height != frame.sourceH) {
            return path + ": file changed while being read";
        }
    }
    for (const size_t i : members) {
        InputFrame& frame = frames[i];
        Io::AsepriteFrame& decoded = sprite.frames[static_cast<size_t>(frame.spriteFrame)];
        frame.image = std::move(decoded.image);
        frame.durationMs = decoded.durationMs;
        frame.spriteTags = tags;
        // Scale variants shape each scale's own pixels later.
        if (!HasScaleVariants(settings)) ShapeFrame(frame, settings);
    }
    return {};
}

}  // namespace

bool AddSpriteFrames(const std::string& name, const std::string& path, std::vector<InputFrame>& frames,
                     std::ostream& err) {
    Io::AsepriteHeader header;
    std::string error;
    if (!Io::ReadAsepriteHeader(path, header, error)) {
        Support::ReportProblem(err, path, error);
        return false;
    }
    for (int32_t k = 0; k < header.frames; ++k) {
        InputFrame frame;
        frame.name = name + "/" + std::to_string(k);
        frame.path = path;
        frame.sourceW = header.width;
        frame.sourceH = header.height;
        frame.sprite = name;
        frame.spriteFrame = k;
        frames.push_back(std::move(frame));
    }
    return true;
}

void DecodeSpriteFiles(std::vector<InputFrame>& frames, const AtlasSettings& settings,
                       std::vector<std::string>& errors) {
    std::map<std::string, std::vector<size_t>> byFile;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].spriteFrame >= 0) byFile[frames[i].path].push_back(i);
    }
    std::vector<const std::pair<const std::string, std::vector<size_t>>*> files;
    files.reserve(byFile.size());
    for (const auto& file : byFile) files.push_back(&file);
    Support::ParallelFor(files.size(), settings.jobs, [&](size_t f) {
        const auto& [path, members] = *files[f];
        std::string error;
        try {
            error = DecodeFile(path, members, frames, settings);
        } catch (const std::bad_alloc&) {
            error = path + ": out of memory while decoding";
        }
        if (!error.empty()) {
            for (const size_t i : members) frames[i].image = Image{};
            errors[members.front()] = error;
        }
    });
}

}  // namespace Velmora::Commands
