// What the layered sprite reader's two halves share: the parsed document
// (aseprite_reader.cpp) that the compositor flattens (aseprite_compose.cpp).
#ifndef VELMORA_IO_ASEPRITE_INTERNAL_H
#define VELMORA_IO_ASEPRITE_INTERNAL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/blend.h"
#include "velmora/image.h"

namespace Velmora::Io::Ase {

constexpr uint16_t kLayerVisible = 1;
constexpr uint16_t kLayerBackground = 8;
constexpr uint16_t kLayerReference = 64;
constexpr uint32_t kHeaderLayerOpacity = 1;
constexpr uint32_t kHeaderGroupsComposed = 2;
constexpr uint32_t kHeaderLayerUuids = 4;

enum class LayerType : uint16_t { Image = 0, Group = 1, Tilemap = 2 };

struct Layer {
    uint16_t flags = 0;
    LayerType type = LayerType::Image;
    int32_t parent = -1;  // index of the group holding it, -1 at the top
    BlendMode blend = BlendMode::Normal;
    uint8_t opacity = 255;  // as stored; whether it counts depends on the header
    uint32_t tileset = 0;   // tilemap layers only
};

// A cel's pixels in the sprite's own format (1, 2 or 4 bytes a pixel), or
// for a tilemap cel its tile references.
struct CelImage {
    int32_t width = 0;  // in pixels, or in tiles for a tilemap
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    bool tilemap = false;
    std::vector<uint32_t> tiles;  // tile indices, flip bits already refused
};

struct Cel {
    int32_t layer = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint8_t opacity = 255;
    int32_t zIndex = 0;
    std::shared_ptr<const CelImage> image;  // shared by linked cels
};

struct Tileset {
    int32_t tileWidth = 0;
    int32_t tileHeight = 0;
    int32_t count = 0;
    std::vector<uint8_t> pixels;  // tile i at rows i * tileHeight ..
};

struct Palette {
    std::array<uint32_t, 256> entries{};
    uint32_t size = 256;
};

struct Document {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerPixel = 4;  // 4 RGBA, 2 grayscale, 1 indexed
    uint32_t flags = 0;
    uint8_t transparentIndex = 0;
    std::vector<Layer> layers;
    std::vector<std::vector<Cel>> cels;  // per frame, in the file's order
    std::vector<int32_t> durations;
    std::vector<Palette> palettes;        // every version the file sets
    std::vector<size_t> framePalette;     // per frame, into `palettes`
    std::vector<std::pair<uint32_t, Tileset>> tilesets;  // by id
    size_t inputBytes = 0;  // what budgets scale with
};

// Frames, tags and the document from the file's bytes; false with `error`.
struct Parsed {
    Document document;
    std::vector<std::pair<std::string, std::array<int32_t, 4>>> tags;  // name; from, to, direction, repeat
};
bool ParseDocument(const std::vector<uint8_t>& bytes, Parsed& parsed, std::string& error);

// Every frame flattened, canvas-sized RGBA; false with `error` when the work
// or memory the file asks for passes what its length allows.
bool FlattenFrames(const Document& document, std::vector<Image>& frames, std::string& error);

// Canvas pixels of all frames together a file of `bytes` bytes may ask for,
// and blended pixels it may ask to draw.
inline uint64_t PixelBudget(size_t bytes) {
    const uint64_t scaled = (uint64_t{1} << 22) + 2048 * static_cast<uint64_t>(bytes);
    return scaled < (uint64_t{1} << 28) ? scaled : uint64_t{1} << 28;
}
inline uint64_t WorkBudget(size_t bytes) { return (uint64_t{1} << 26) + 16384 * static_cast<uint64_t>(bytes); }

}  // namespace Velmora::Io::Ase

#endif  // VELMORA_IO_ASEPRITE_INTERNAL_H
