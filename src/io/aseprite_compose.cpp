// Flattening a parsed layered sprite the way its editor exports a frame:
// the background layer first, then the other visible cels in layer order
// shifted by their z-index, each blended with its layer's mode at the cel's
// opacity times the layer's.
#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "aseprite_internal.h"

namespace Velmora::Io::Ase {

namespace {

struct Canvas {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

// One thing to draw at a level: a layer's cel, or (when groups are composed
// on their own) a whole group.
struct Item {
    int32_t layer = 0;
    int64_t order = 0;
    int32_t zIndex = 0;
    const Cel* cel = nullptr;
};

class Compositor {
public:
    explicit Compositor(const Document& doc) : doc_(doc), workLeft_(WorkBudget(doc.inputBytes)) {
        if (Composed()) {
            for (size_t i = 0; i < doc.layers.size(); ++i) {
                if (doc.layers[i].type == LayerType::Group) {
                    groupChildren_[doc.layers[i].parent].push_back(static_cast<int32_t>(i));
                }
            }
        }
    }

    bool Frame(size_t frame, Image& out, std::string& error) {
        palette_ = &doc_.palettes[doc_.framePalette[frame]];
        levelCels_.clear();
        for (const Cel& cel : doc_.cels[frame]) {
            levelCels_[Composed() ? doc_.layers[static_cast<size_t>(cel.layer)].parent : -1].push_back(&cel);
        }
        Canvas canvas;
        canvas.width = doc_.width;
        canvas.height = doc_.height;
        // An indexed sprite with a visible background starts in the colour
        // of its transparent index.
        uint32_t fill = 0;
        if (doc_.bytesPerPixel == 1) {
            for (const Layer& layer : doc_.layers) {
                if (layer.parent == -1 && (layer.flags & kLayerBackground) && (layer.flags & kLayerVisible)) {
                    fill = Entry(doc_.transparentIndex);
                    break;
                }
            }
        }
        canvas.pixels.assign(static_cast<size_t>(doc_.width) * static_cast<size_t>(doc_.height), fill);
        if (!Level(-1, canvas)) {
            error = "more drawing than the file's size allows";
            return false;
        }
        out.width = canvas.width;
        out.height = canvas.height;
        out.pixels = std::move(canvas.pixels);
        return true;
    }

private:
    const Document& doc_;
    uint64_t workLeft_;
    const Palette* palette_ = nullptr;
    std::map<int32_t, std::vector<int32_t>> groupChildren_;  // composed groups by the group holding them
    std::map<int32_t, std::vector<const Cel*>> levelCels_;   // this frame's cels by the level they draw at

    bool Composed() const { return (doc_.flags & kHeaderGroupsComposed) != 0; }

    uint32_t Entry(uint32_t index) const { return index < palette_->size ? palette_->entries[index] : 0; }

    bool Visible(int32_t layer) const {
        for (int32_t at = layer; at >= 0; at = doc_.layers[static_cast<size_t>(at)].parent) {
            if (!(doc_.layers[static_cast<size_t>(at)].flags & kLayerVisible)) return false;
        }
        return true;
    }

    bool Spend(uint64_t pixels) {
        if (pixels > workLeft_) return false;
        workLeft_ -= pixels;
        return true;
    }

    // The layer's opacity where the file says it counts.
    int LayerOpacity(const Layer& layer) const {
        const uint32_t valid = layer.type == LayerType::Group ? kHeaderGroupsComposed : kHeaderLayerOpacity;
        return (doc_.flags & valid) ? layer.opacity : 255;
    }

    // What is drawn at one level, in drawing order. Without composed groups
    // every cel sits at the top level and groups only hide; the order is the
    // layer's place shifted by the cel's z-index, ties to the lower z-index.
    std::vector<Item> Items(int32_t group) const {
        std::vector<Item> items;
        const auto add = [this, &items](int32_t layer, const Cel* cel) {
            if (!Visible(layer) || (doc_.layers[static_cast<size_t>(layer)].flags & kLayerReference)) return;
            const int32_t z = cel ? cel->zIndex : 0;
            items.push_back(Item{layer, int64_t{layer} + z, z, cel});
        };
        const auto cels = levelCels_.find(group);
        if (cels != levelCels_.end()) {
            for (const Cel* cel : cels->second) add(cel->layer, cel);
        }
        const auto groups = groupChildren_.find(group);
        if (groups != groupChildren_.end()) {
            for (const int32_t child : groups->second) add(child, nullptr);
        }
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
            return a.order < b.order || (a.order == b.order && a.zIndex < b.zIndex);
        });
        return items;
    }

    bool Level(int32_t group, Canvas& canvas) {
        const std::vector<Item> items = Items(group);
        // The background layer goes down before everything else.
        for (int pass = 0; pass < 2; ++pass) {
            for (const Item& item : items) {
                const Layer& layer = doc_.layers[static_cast<size_t>(item.layer)];
                const bool background = (layer.flags & kLayerBackground) != 0;
                if (background != (pass == 0)) continue;
                if (!(item.cel ? DrawCel(canvas, *item.cel, layer) : DrawGroup(canvas, item.layer, layer))) return false;
            }
        }
        return true;
    }

    bool DrawGroup(Canvas& canvas, int32_t index, const Layer& group) {
        Canvas inner;
        inner.width = canvas.width;
        inner.height = canvas.height;
        inner.pixels.assign(canvas.pixels.size(), 0);
        if (!Level(index, inner) || !Spend(inner.pixels.size())) return false;
        const int opacity = LayerOpacity(group);
        for (size_t i = 0; i < inner.pixels.size(); ++i) {
            if (inner.pixels[i] != 0) canvas.pixels[i] = BlendPixel(group.blend, canvas.pixels[i], inner.pixels[i], opacity);
        }
        return true;
    }

    bool DrawCel(Canvas& canvas, const Cel& cel, const Layer& layer) {
        const int opacity = MulUn8(cel.opacity, LayerOpacity(layer));
        const CelImage& image = *cel.image;
        if (image.tilemap != (layer.type == LayerType::Tilemap)) return true;
        if (!image.tilemap) {
            return DrawPixels(canvas, image.pixels.data(), image.width, image.height, cel.x, cel.y, opacity, layer.blend);
        }
        const Tileset* set = nullptr;
        for (const auto& entry : doc_.tilesets) {
            if (entry.first == layer.tileset) set = &entry.second;
        }
        if (set == nullptr || set->tileWidth == 0 || set->tileHeight == 0) return true;
        const int64_t tw = set->tileWidth;
        const int64_t th = set->tileHeight;
        // Only the tiles that reach the canvas.
        const int64_t u0 = std::max<int64_t>(0, (-int64_t{cel.x}) / tw);
        const int64_t v0 = std::max<int64_t>(0, (-int64_t{cel.y}) / th);
        const int64_t u1 = std::min<int64_t>(image.width, (canvas.width - int64_t{cel.x} + tw - 1) / tw);
        const int64_t v1 = std::min<int64_t>(image.height, (canvas.height - int64_t{cel.y} + th - 1) / th);
        if (u0 >= u1 || v0 >= v1 || !Spend(static_cast<uint64_t>((u1 - u0) * (v1 - v0)))) return u0 >= u1 || v0 >= v1;
        const size_t tileBytes = static_cast<size_t>(tw * th * doc_.bytesPerPixel);
        for (int64_t v = v0; v < v1; ++v) {
            for (int64_t u = u0; u < u1; ++u) {
                const uint32_t tile = image.tiles[static_cast<size_t>(v * image.width + u)];
                if (tile == 0 || tile >= static_cast<uint32_t>(set->count)) continue;  // 0 is no tile
                const uint8_t* pixels = set->pixels.data() + tile * tileBytes;
                if (!DrawPixels(canvas, pixels, set->tileWidth, set->tileHeight, cel.x + u * tw, cel.y + v * th, opacity,
                                layer.blend)) {
                    return false;
                }
            }
        }
        return true;
    }

    // One pixel of the sprite's format as RGBA; false for the mask colour,
    // which every layer leaves undrawn.
    bool Source(const uint8_t* at, uint32_t& rgba) const {
        switch (doc_.bytesPerPixel) {
        case 1:
            if (at[0] == doc_.transparentIndex) return false;
            rgba = Entry(at[0]);
            return true;
        case 2:
            if (at[0] == 0 && at[1] == 0) return false;
            rgba = uint32_t{at[0]} * 0x010101U | uint32_t{at[1]} << 24;
            return true;
        default:
            rgba = uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
            return rgba != 0;
        }
    }

    bool DrawPixels(Canvas& canvas, const uint8_t* pixels, int32_t width, int32_t height, int64_t x, int64_t y,
                    int opacity, BlendMode mode) {
        const int64_t x0 = std::max<int64_t>(x, 0);
        const int64_t y0 = std::max<int64_t>(y, 0);
        const int64_t x1 = std::min<int64_t>(x + width, canvas.width);
        const int64_t y1 = std::min<int64_t>(y + height, canvas.height);
        if (x0 >= x1 || y0 >= y1) return true;
        if (!Spend(static_cast<uint64_t>((x1 - x0) * (y1 - y0)))) return false;
        const auto bpp = static_cast<size_t>(doc_.bytesPerPixel);
        // Normal at full opacity leaves an opaque source pixel as it is.
        const bool copyOpaque = mode == BlendMode::Normal && opacity == 255;
        for (int64_t row = y0; row < y1; ++row) {
            const uint8_t* from = pixels + (static_cast<size_t>(row - y) * static_cast<size_t>(width) +
                                            static_cast<size_t>(x0 - x)) * bpp;
            uint32_t* to = canvas.pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(canvas.width) +
                           static_cast<size_t>(x0);
            for (int64_t col = x0; col < x1; ++col, from += bpp, ++to) {
                uint32_t rgba = 0;
                if (!Source(from, rgba)) continue;
                *to = copyOpaque && rgba >= 0xFF000000U ? rgba : BlendPixel(mode, *to, rgba, opacity);
            }
        }
        return true;
    }
};

}  // namespace

bool FlattenFrames(const Document& document, std::vector<Image>& frames, std::string& error) {
    // Composed groups hold a canvas per level of nesting while they draw.
    if (document.flags & kHeaderGroupsComposed) {
        uint64_t deepest = 0;
        for (const Layer& layer : document.layers) {
            uint64_t depth = 0;
            for (int32_t at = layer.parent; at >= 0; at = document.layers[static_cast<size_t>(at)].parent) ++depth;
            deepest = std::max(deepest, depth + 1);
        }
        const uint64_t canvas = uint64_t{static_cast<uint32_t>(document.width)} * static_cast<uint32_t>(document.height);
        if ((document.cels.size() + deepest) * canvas > PixelBudget(document.inputBytes)) {
            error = "more frame pixels than the file's size allows";
            return false;
        }
    }
    Compositor compositor(document);
    std::vector<Image> result(document.cels.size());
    for (size_t frame = 0; frame < result.size(); ++frame) {
        if (!compositor.Frame(frame, result[frame], error)) return false;
    }
    frames = std::move(result);
    return true;
}

}  // namespace Velmora::Io::Ase
