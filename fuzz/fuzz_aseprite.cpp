// DecodeAseprite on arbitrary bytes: it never crashes, refuses with a reason
// and an untouched sprite, and whatever it accepts is canvas-sized frames
// with durations in range and tags inside the frames.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "io/aseprite.h"
#include "velmora/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    Velmora::Io::AsepriteSprite sprite;
    sprite.width = -1;
    std::string error;
    if (!Velmora::Io::DecodeAseprite(bytes, sprite, error)) {
        FUZZ_CHECK(!error.empty() && sprite.width == -1 && sprite.frames.empty() && sprite.tags.empty());
        return 0;
    }
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(sprite.width >= 1 && sprite.height >= 1 && sprite.width <= Velmora::kMaxImageSide &&
               sprite.height <= Velmora::kMaxImageSide);
    FUZZ_CHECK(!sprite.frames.empty() && sprite.frames.size() <= 65535);
    for (const Velmora::Io::AsepriteFrame& frame : sprite.frames) {
        FUZZ_CHECK(frame.image.width == sprite.width && frame.image.height == sprite.height);
        FUZZ_CHECK(Velmora::IsValidImage(frame.image));
        FUZZ_CHECK(frame.durationMs >= 1 && frame.durationMs <= 65535);
    }
    const auto frames = static_cast<int32_t>(sprite.frames.size());
    for (const Velmora::Io::AsepriteTag& tag : sprite.tags) {
        FUZZ_CHECK(tag.from >= 0 && tag.from <= tag.to && tag.to < frames);
        FUZZ_CHECK(tag.repeat >= 0 && tag.repeat <= 65535);
        FUZZ_CHECK(tag.direction == Velmora::Io::AsepriteDirection::Forward ||
                   tag.direction == Velmora::Io::AsepriteDirection::Reverse ||
                   tag.direction == Velmora::Io::AsepriteDirection::PingPong ||
                   tag.direction == Velmora::Io::AsepriteDirection::PingPongReverse);
    }
    return 0;
}
