// The animations of a sheet's frames, whichever inputs they came from, and
// Phaser's own animation document for them. Layered sprite files bring
// their tags and each frame's time; PNG sequences play at a fixed rate.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "formats/animations.h"
#include "formats/sheet.h"
#include "formats/text_escape.h"

namespace Velmora::Formats {

namespace {

// The fixed rate of name sequences, as in the Godot SpriteFrames.
constexpr int32_t kSequenceFramesPerSecond = 10;

std::string Bool(bool value) { return value ? "true" : "false"; }

}  // namespace

std::vector<Animation> SheetAnimations(const std::vector<SheetFrame>& frames) {
    // Each file's frames by number, keyed by the file's name as the
    // documents write it.
    std::map<std::string, SpriteSource> files;
    for (size_t i = 0; i < frames.size(); ++i) {
        const SheetFrame& frame = frames[i];
        if (frame.sprite.empty() || frame.spriteFrame < 0) continue;
        SpriteSource& source = files[DocumentName(frame.sprite)];
        const auto number = static_cast<size_t>(frame.spriteFrame);
        if (source.frames.size() <= number) source.frames.resize(number + 1, SIZE_MAX);
        source.frames[number] = i;
        if (source.tags.empty()) source.tags = frame.spriteTags;
    }
    std::vector<SpriteSource> sources;
    sources.reserve(files.size());
    for (auto& [name, source] : files) {
        source.name = name;
        for (FrameTag& tag : source.tags) tag.name = DocumentName(tag.name);
        sources.push_back(std::move(source));
    }
    return GroupAnimations(Text::UniqueDocumentNames(frames), sources);
}

std::string BuildPhaserAnimations(const std::vector<Sheet>& pages, const std::string& textureKey) {
    std::vector<SheetFrame> frames;
    for (const Sheet& page : pages) frames.insert(frames.end(), page.frames.begin(), page.frames.end());
    const std::vector<std::string> names = Text::UniqueDocumentNames(frames);
    const std::string key = Text::JsonString(DocumentName(textureKey));

    std::string out = "{\n  \"anims\": [";
    bool first = true;
    for (const Animation& animation : SheetAnimations(frames)) {
        std::vector<size_t> shown = animation.frames;
        bool yoyo = false;
        int32_t repeat = animation.repeat - 1;  // Phaser counts plays after the first
        const bool pingPong = animation.direction == PlayDirection::PingPong ||
                              animation.direction == PlayDirection::PingPongReverse;
        if (animation.repeat == 0) {
            repeat = -1;
        }
        if (animation.timed && pingPong && shown.size() > 1) {
            // Phaser's yoyo runs there and back per play: one outward run
            // with a yoyo is the pass, for ever or an even number of runs;
            // an odd number is spelt out and played once.
            const size_t outward = shown.size() / 2 + 1;
            if (animation.repeat == 0 || animation.repeat % 2 == 0) {
                shown.resize(outward);
                yoyo = true;
                repeat = animation.repeat == 0 ? -1 : animation.repeat / 2 - 1;
            } else {
                shown = PlayedFrames(animation);
                repeat = 0;
            }
        }
        int64_t total = 0;
        for (const size_t f : shown) total += frames[f].durationMs;

        out += first ? "\n" : ",\n";
        first = false;
        out += "    {\n      \"key\": " + Text::JsonString(animation.name) + ",\n";
        out += "      \"type\": \"frame\",\n      \"frames\": [";
        for (size_t i = 0; i < shown.size(); ++i) {
            const int32_t duration = animation.timed ? frames[shown[i]].durationMs : 0;
            out += i == 0 ? "\n" : ",\n";
            out += "        {\"key\": " + key + ", \"frame\": " + Text::JsonString(names[shown[i]]) +
                   ", \"duration\": " + std::to_string(duration) + ", \"keyframe\": false}";
        }
        out += "\n      ],\n";
        // A timed animation leaves its rate to Phaser, which derives it
        // from the total as for its own Aseprite animations; each frame's
        // duration then sets its time.
        if (animation.timed) {
            out += "      \"frameRate\": null,\n      \"duration\": " + std::to_string(total) + ",\n";
        } else {
            out += "      \"frameRate\": " + std::to_string(kSequenceFramesPerSecond) + ",\n      \"duration\": " +
                   Text::Decimal(static_cast<int64_t>(shown.size()) * 1000, kSequenceFramesPerSecond) + ",\n";
        }
        out += "      \"skipMissedFrames\": true,\n      \"delay\": 0,\n";
        out += "      \"repeat\": " + std::to_string(repeat) + ",\n      \"repeatDelay\": 0,\n";
        out += "      \"yoyo\": " + Bool(yoyo) + ",\n";
        out += "      \"showBeforeDelay\": false,\n      \"showOnStart\": false,\n";
        out += "      \"randomFrame\": false,\n      \"hideOnComplete\": false\n    }";
    }
    out += first ? "],\n" : "\n  ],\n";
    out += "  \"globalTimeScale\": 1\n}\n";
    return out;
}

}  // namespace Velmora::Formats
