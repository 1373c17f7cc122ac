// Layered sprite files (.aseprite, .ase) read and flattened frame by frame,
// with each frame's duration and the file's tags.
#ifndef VELMORA_IO_ASEPRITE_H
#define VELMORA_IO_ASEPRITE_H

#include <cstdint>
#include <string>
#include <vector>

#include "velmora/image.h"

namespace Velmora::Io {

// How a tag plays its frames.
enum class AsepriteDirection { Forward, Reverse, PingPong, PingPongReverse };

struct AsepriteTag {
    std::string name;  // as stored: UTF-8 bytes, not checked
    int32_t from = 0;  // first and last frame, 0-based, from <= to < frame count
    int32_t to = 0;
    AsepriteDirection direction = AsepriteDirection::Forward;
    // Times to play: 0 when not set (the editor loops), 1 once, n n times.
    int32_t repeat = 0;
};

struct AsepriteFrame {
    Image image;              // canvas-sized, flattened, 8-bit RGBA
    int32_t durationMs = 100;  // 1 to 65535
};

struct AsepriteSprite {
    int32_t width = 0;  // the canvas
    int32_t height = 0;
    std::vector<AsepriteFrame> frames;
    std::vector<AsepriteTag> tags;
};

// Decodes a whole file held in memory and flattens every frame the way the
// editor exports it: RGBA, grayscale and indexed sprites; visible layers
// only (a hidden group hides what it holds; reference layers are left out);
// layer and cel opacity; all nineteen blend modes; linked cels; cel z-index;
// tilemap layers drawn from their tilesets (flipped tiles are refused); a
// group's own opacity and blend mode when the file says they are valid.
// On failure returns false, leaves `sprite` untouched and sets `error` to one
// lower-case phrase ("file ends early", "bad cel data in frame 3"). Sizes,
// counts and allocations are bounded by the input's length, so a hostile
// header cannot make it allocate or work without end.
bool DecodeAseprite(const std::vector<uint8_t>& bytes, AsepriteSprite& sprite, std::string& error);

// Whether a file name ends in ".aseprite" or ".ase", in any case.
bool IsAsepriteName(const std::string& name);

// What a file's header says: its frame count and canvas.
struct AsepriteHeader {
    int32_t frames = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// Reads only the header of the file at `path` (UTF-8), so a run can name
// every frame before decoding any. Refuses what DecodeAseprite would refuse
// at its header ("not an Aseprite file", "file ends early", "no frames"),
// anything but a regular file, and a file too large to read.
bool ReadAsepriteHeader(const std::string& path, AsepriteHeader& header, std::string& error);

// Reads and decodes the whole file at `path`.
bool ReadAsepriteFile(const std::string& path, AsepriteSprite& sprite, std::string& error);

}  // namespace Velmora::Io

#endif  // VELMORA_IO_ASEPRITE_H
