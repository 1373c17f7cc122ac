// Layered sprite files: the header, frames and chunks into a document the
// compositor flattens. Every length is checked against what is left before
// it is read, and every allocation against what the bytes can hold.
#include "io/aseprite.h"

#include <zlib.h>

#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "aseprite_internal.h"

namespace Velmora::Io {

namespace Ase {

namespace {

// Deflate turns one byte into at most 1032.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr size_t kHeaderBytes = 128;
constexpr size_t kFrameHeaderBytes = 16;
constexpr size_t kChunkHeaderBytes = 6;
constexpr int32_t kMaxGroupDepth = 64;

// Little-endian fields of one bounded stretch of the file. A read past the
// end yields zeros and marks the reader short, so callers check once.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Short() const { return short_; }
    size_t Left() const { return size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }
    void Skip(size_t n) {
        if (n > Left()) {
            short_ = true;
            pos_ = size_;
        } else {
            pos_ += n;
        }
    }
    uint32_t Unsigned(size_t n) {
        if (n > Left()) {
            Skip(n);
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < n; ++i) value |= static_cast<uint32_t>(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return value;
    }
    uint8_t Byte() { return static_cast<uint8_t>(Unsigned(1)); }
    uint16_t Word() { return static_cast<uint16_t>(Unsigned(2)); }
    int16_t Short16() { return static_cast<int16_t>(Word()); }
    uint32_t Dword() { return Unsigned(4); }
    std::string String() {
        const size_t length = Word();
        if (length > Left()) {
            Skip(length);
            return {};
        }
        std::string text(reinterpret_cast<const char*>(Here()), length);
        pos_ += length;
        return text;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool short_ = false;
};

// Inflates a zlib stream into exactly `size` bytes; extra output is ignored,
// too little is a failure. The size is checked against what the stream's
// length can hold before anything is allocated.
bool Inflate(const uint8_t* data, size_t length, uint64_t size, std::vector<uint8_t>& out) {
    if (size > kMaxInflateRatio * length + 64) return false;
    try {
        out.assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (size == 0) return true;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(std::min<size_t>(length, 0xFFFFFFFFU));
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(size);
    int status = Z_OK;
    while (status == Z_OK && stream.avail_out > 0) status = inflate(&stream, Z_NO_FLUSH);
    const bool full = stream.avail_out == 0;
    inflateEnd(&stream);
    return full;
}

class Parser {
public:
    Parser(const std::vector<uint8_t>& bytes, Parsed& parsed) : bytes_(bytes), parsed_(parsed), doc_(parsed.document) {}

    bool Run(std::string& error) {
        if (!Header(error)) return false;
        size_t at = kHeaderBytes;
        for (int32_t frame = 0; frame < frameCount_; ++frame) {
            if (bytes_.size() - at < kFrameHeaderBytes) return Fail(error, "file ends early");
            Reader head(bytes_.data() + at, kFrameHeaderBytes);
            const uint32_t frameBytes = head.Dword();
            const uint16_t magic = head.Word();
            const uint16_t oldCount = head.Word();
            const uint16_t duration = head.Word();
            head.Skip(2);
            const uint32_t newCount = head.Dword();
            if (magic != 0xF1FA || frameBytes < kFrameHeaderBytes) {
                return Fail(error, "bad frame header in frame " + std::to_string(frame));
            }
            if (frameBytes > bytes_.size() - at) return Fail(error, "file ends early");
            frame_ = frame;
            doc_.cels.emplace_back();
            // Old files set every frame's time in the header.
            const int32_t ms = duration > 0 ? duration : speed_;
            doc_.durations.push_back(std::clamp(ms, 1, 65535));
            const uint32_t chunks = newCount != 0 ? newCount : oldCount;
            Reader body(bytes_.data() + at + kFrameHeaderBytes, frameBytes - kFrameHeaderBytes);
            for (uint32_t i = 0; i < chunks; ++i) {
                if (!Chunk(body, error)) return false;
            }
            newPalettes_.push_back(newPalettes_.empty() ? 0 : newPalettes_.back());
            oldPalettes_.push_back(oldPalettes_.empty() ? 0 : oldPalettes_.back());
            if (pendingNew_) newPalettes_.back() = newVersions_.size() - 1;
            if (pendingOld_) oldPalettes_.back() = oldVersions_.size() - 1;
            pendingNew_ = pendingOld_ = false;
            at += frameBytes;
        }
        // Old palette chunks count only in files without new ones.
        const bool useNew = newVersions_.size() > 1;
        doc_.palettes = useNew ? newVersions_ : oldVersions_;
        doc_.framePalette = useNew ? newPalettes_ : oldPalettes_;
        for (auto& tag : parsed_.tags) {
            tag.second[0] = std::min(tag.second[0], frameCount_ - 1);
            tag.second[1] = std::clamp(tag.second[1], tag.second[0], frameCount_ - 1);
        }
        return true;
    }

private:
    const std::vector<uint8_t>& bytes_;
    Parsed& parsed_;
    Document& doc_;
    int32_t frameCount_ = 0;
    int32_t speed_ = 100;
    int32_t frame_ = 0;
    int32_t depth_ = 0;  // of the last layer read
    std::vector<Palette> newVersions_, oldVersions_;
    std::vector<size_t> newPalettes_, oldPalettes_;
    bool pendingNew_ = false, pendingOld_ = false;
    std::map<std::pair<int32_t, int32_t>, std::shared_ptr<const CelImage>> celImages_;  // (layer, frame)

    static bool Fail(std::string& error, std::string message) {
        error = std::move(message);
        return false;
    }
    std::string InFrame(const char* what) const { return std::string(what) + " in frame " + std::to_string(frame_); }

    bool Header(std::string& error) {
        if (bytes_.empty()) return Fail(error, "empty file");
        if (bytes_.size() < kHeaderBytes) return Fail(error, "file ends early");
        Reader in(bytes_.data(), kHeaderBytes);
        in.Skip(4);
        if (in.Word() != 0xA5E0) return Fail(error, "not an Aseprite file");
        frameCount_ = in.Word();
        doc_.width = in.Word();
        doc_.height = in.Word();
        const uint16_t depth = in.Word();
        doc_.flags = in.Dword();
        speed_ = in.Word();
        in.Skip(8);
        doc_.transparentIndex = in.Byte();
        in.Skip(3);
        const uint16_t colours = in.Word();
        if (depth != 8 && depth != 16 && depth != 32) return Fail(error, "unknown colour depth " + std::to_string(depth));
        doc_.bytesPerPixel = depth / 8;
        if (depth != 8) doc_.transparentIndex = 0;
        if (frameCount_ == 0) return Fail(error, "no frames");
        if (doc_.width == 0 || doc_.height == 0) return Fail(error, "canvas of 0 pixels");
        if (doc_.width > kMaxImageSide) return Fail(error, "wider than " + std::to_string(kMaxImageSide) + " pixels");
        if (doc_.height > kMaxImageSide) return Fail(error, "taller than " + std::to_string(kMaxImageSide) + " pixels");
        const uint64_t pixels = uint64_t{static_cast<uint32_t>(frameCount_)} * static_cast<uint32_t>(doc_.width) *
                                static_cast<uint32_t>(doc_.height);
        if (pixels > PixelBudget(bytes_.size())) return Fail(error, "more frame pixels than the file's size allows");
        doc_.inputBytes = bytes_.size();
        // A new sprite's palette: opaque black.
        Palette initial;
        initial.entries.fill(0xFF000000U);
        initial.size = colours == 0 ? 256 : colours;
        newVersions_.assign(1, initial);
        oldVersions_.assign(1, initial);
        return true;
    }

    bool Chunk(Reader& frame, std::string& error) {
        if (frame.Left() < kChunkHeaderBytes) return Fail(error, InFrame("bad chunk size"));
        Reader head(frame.Here(), kChunkHeaderBytes);
        const uint32_t size = head.Dword();
        const uint16_t type = head.Word();
        if (size < kChunkHeaderBytes || size > frame.Left()) return Fail(error, InFrame("bad chunk size"));
        Reader in(frame.Here() + kChunkHeaderBytes, size - kChunkHeaderBytes);
        frame.Skip(size);
        bool ok = true;
        switch (type) {
        case 0x0004:
        case 0x0011: ok = OldPalette(in, type == 0x0011); break;
        case 0x2004: ok = LayerChunk(in, error); break;
        case 0x2005: ok = CelChunk(in, error); break;
        case 0x2018: ok = Tags(in); break;
        case 0x2019: ok = NewPalette(in); break;
        case 0x2023: ok = TilesetChunk(in, error); break;
        default: break;  // user data, slices, profiles, cel extras: not needed to flatten
        }
        if (!ok && error.empty()) {
            const char* what = "bad palette";
            if (type == 0x2018) what = "bad tags";
            if (type == 0x2004) what = "bad layer";
            if (type == 0x2023) what = "bad tileset";
            return Fail(error, InFrame(what));
        }
        return ok;
    }

    bool OldPalette(Reader& in, bool sixBits) {
        Palette palette = oldVersions_.back();
        const uint16_t packets = in.Word();
        size_t index = 0;
        for (uint16_t p = 0; p < packets && !in.Short(); ++p) {
            index += in.Byte();
            const size_t count = [&in] {
                const size_t n = in.Byte();
                return n == 0 ? size_t{256} : n;
            }();
            for (size_t i = 0; i < count && !in.Short(); ++i, ++index) {
                uint32_t rgb[3];
                for (uint32_t& c : rgb) {
                    c = in.Byte();
                    if (sixBits) c = ((c << 2) | (c >> 4)) & 0xFFU;
                }
                if (index < palette.entries.size() && !in.Short()) {
                    palette.entries[index] = rgb[0] | rgb[1] << 8 | rgb[2] << 16 | 0xFF000000U;
                }
            }
        }
        if (in.Short()) return false;
        oldVersions_.push_back(palette);
        pendingOld_ = true;
        return true;
    }

    bool NewPalette(Reader& in) {
        Palette palette = newVersions_.back();
        palette.size = in.Dword();
        const uint32_t first = in.Dword();
        const uint32_t last = in.Dword();
        in.Skip(8);
        if (in.Short() || first > last) return false;
        for (uint64_t index = first; index <= last; ++index) {
            const uint16_t flags = in.Word();
            const uint32_t colour = in.Dword();  // R, G, B, A: the packed order
            if (flags & 1) in.String();
            if (in.Short()) return false;
            if (index < palette.entries.size()) palette.entries[index] = colour;
        }
        newVersions_.push_back(palette);
        pendingNew_ = true;
        return true;
    }

    bool LayerChunk(Reader& in, std::string& error) {
        Layer layer;
        layer.flags = in.Word();
        const uint16_t type = in.Word();
        const int32_t level = in.Word();
        in.Skip(4);
        const uint16_t blend = in.Word();
        layer.opacity = in.Byte();
        in.Skip(3);
        in.String();
        if (type == 2) layer.tileset = in.Dword();
        if (doc_.flags & kHeaderLayerUuids) in.Skip(16);
        if (in.Short()) return false;
        const size_t index = doc_.layers.size();
        if (type > 2) return Fail(error, "unknown type of layer " + std::to_string(index));
        if (blend >= kBlendModeCount) return Fail(error, "unknown blend mode in layer " + std::to_string(index));
        layer.type = static_cast<LayerType>(type);
        layer.blend = static_cast<BlendMode>(blend);
        // A deeper level nests in the layer before it when that is a group;
        // a shallower one climbs out of as many groups as it drops.
        int32_t parent = -1;
        int32_t depth = 0;
        if (!doc_.layers.empty()) {
            const int32_t previous = static_cast<int32_t>(index) - 1;
            parent = doc_.layers.back().parent;
            depth = depth_;
            if (level > depth_ && doc_.layers.back().type == LayerType::Group) {
                parent = previous;
                ++depth;
            }
            for (; level < depth && parent >= 0; --depth) parent = doc_.layers[static_cast<size_t>(parent)].parent;
        }
        if (depth > kMaxGroupDepth) return Fail(error, "layers nested too deep");
        layer.parent = parent;
        depth_ = depth;
        doc_.layers.push_back(layer);
        return true;
    }

    bool Tags(Reader& in) {
        const uint16_t count = in.Word();
        in.Skip(8);
        for (uint16_t i = 0; i < count; ++i) {
            std::array<int32_t, 4> fields{};
            fields[0] = in.Word();
            fields[1] = in.Word();
            const uint8_t direction = in.Byte();
            fields[2] = direction <= 3 ? direction : 0;
            fields[3] = in.Word();
            in.Skip(10);
            std::string name = in.String();
            if (in.Short()) return false;
            parsed_.tags.emplace_back(std::move(name), fields);
        }
        return true;
    }

    bool TilesetChunk(Reader& in, std::string& error) {
        const uint32_t id = in.Dword();
        const uint32_t flags = in.Dword();
        const uint32_t count = in.Dword();
        Tileset set;
        set.tileWidth = in.Word();
        set.tileHeight = in.Word();
        in.Skip(16);
        in.String();
        if (flags & 1) in.Skip(8);
        if (in.Short()) return false;
        if (!(flags & 2)) return Fail(error, "tilesets kept in other files are not supported");
        {
            const uint32_t length = in.Dword();
            if (in.Short() || length > in.Left()) return Fail(error, InFrame("bad tileset"));
            const uint64_t size = uint64_t{count} * static_cast<uint32_t>(set.tileWidth) *
                                  static_cast<uint32_t>(set.tileHeight) * static_cast<uint32_t>(doc_.bytesPerPixel);
            if (!Inflate(in.Here(), length, size, set.pixels)) return Fail(error, InFrame("bad tileset"));
            set.count = static_cast<int32_t>(count);
        }
        doc_.tilesets.emplace_back(id, std::move(set));
        return true;
    }

    bool CelChunk(Reader& in, std::string& error) {
        Cel cel;
        cel.layer = in.Word();
        cel.x = in.Short16();
        cel.y = in.Short16();
        cel.opacity = in.Byte();
        const uint16_t type = in.Word();
        cel.zIndex = in.Short16();
        in.Skip(5);
        if (in.Short()) return Fail(error, InFrame("bad cel"));
        if (type > 3) return Fail(error, InFrame("unknown cel type"));
        std::shared_ptr<const CelImage> image;
        if (type == 1) {
            const int32_t linked = in.Word();
            if (in.Short()) return Fail(error, InFrame("bad cel"));
            const auto found = celImages_.find({cel.layer, linked});
            if (found == celImages_.end()) return true;  // nothing there to link to: no cel
            image = found->second;
        } else {
            auto decoded = std::make_shared<CelImage>();
            if (!CelPixels(in, type, *decoded, error)) return false;
            image = std::move(decoded);
        }
        // A cel of a layer the file does not have, or of a group, draws nothing.
        if (cel.layer >= static_cast<int32_t>(doc_.layers.size()) ||
            doc_.layers[static_cast<size_t>(cel.layer)].type == LayerType::Group) {
            return true;
        }
        cel.image = image;
        celImages_[{cel.layer, frame_}] = image;
        auto& cels = doc_.cels.back();
        const auto same = std::find_if(cels.begin(), cels.end(), [&cel](const Cel& c) { return c.layer == cel.layer; });
        if (same != cels.end()) {
            *same = std::move(cel);
        } else {
            cels.push_back(std::move(cel));
        }
        return true;
    }

    bool CelPixels(Reader& in, uint16_t type, CelImage& image, std::string& error) {
        image.width = in.Word();
        image.height = in.Word();
        const uint64_t area = uint64_t{static_cast<uint32_t>(image.width)} * static_cast<uint32_t>(image.height);
        if (type == 3) return TilemapCel(in, image, area, error);
        const uint64_t size = area * static_cast<uint32_t>(doc_.bytesPerPixel);
        if (in.Short()) return Fail(error, InFrame("bad cel data"));
        if (type == 0) {
            if (size > in.Left()) return Fail(error, InFrame("bad cel data"));
            image.pixels.assign(in.Here(), in.Here() + size);
            return true;
        }
        if (!Inflate(in.Here(), in.Left(), size, image.pixels)) return Fail(error, InFrame("bad cel data"));
        return true;
    }

    bool TilemapCel(Reader& in, CelImage& image, uint64_t area, std::string& error) {
        image.tilemap = true;
        const uint16_t bits = in.Word();
        const uint32_t idMask = in.Dword();
        uint32_t flipMask = in.Dword();
        flipMask |= in.Dword();
        flipMask |= in.Dword();
        in.Skip(10);
        if (in.Short() || (bits != 8 && bits != 16 && bits != 32)) return Fail(error, InFrame("bad tilemap cel"));
        const size_t tileBytes = bits / 8U;
        std::vector<uint8_t> raw;
        if (!Inflate(in.Here(), in.Left(), area * tileBytes, raw)) return Fail(error, InFrame("bad tilemap cel"));
        image.tiles.resize(static_cast<size_t>(area));
        for (size_t i = 0; i < image.tiles.size(); ++i) {
            Reader tile(raw.data() + i * tileBytes, tileBytes);
            const uint32_t value = tile.Unsigned(tileBytes);
            if (value & flipMask) return Fail(error, InFrame("flipped tiles are not supported"));
            image.tiles[i] = value & idMask;
        }
        return true;
    }
};

}  // namespace

bool ParseDocument(const std::vector<uint8_t>& bytes, Parsed& parsed, std::string& error) {
    Parser parser(bytes, parsed);
    return parser.Run(error);
}

}  // namespace Ase

bool DecodeAseprite(const std::vector<uint8_t>& bytes, AsepriteSprite& sprite, std::string& error) {
    std::string problem;
    Ase::Parsed parsed;
    std::vector<Image> images;
    try {
        if (!Ase::ParseDocument(bytes, parsed, problem) || !Ase::FlattenFrames(parsed.document, images, problem)) {
            error = problem.empty() ? "damaged file" : problem;
            return false;
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    AsepriteSprite result;
    result.width = parsed.document.width;
    result.height = parsed.document.height;
    for (size_t i = 0; i < images.size(); ++i) {
        result.frames.push_back(AsepriteFrame{std::move(images[i]), parsed.document.durations[i]});
    }
    for (auto& tag : parsed.tags) {
        AsepriteTag out;
        out.name = std::move(tag.first);
        out.from = tag.second[0];
        out.to = tag.second[1];
        out.direction = static_cast<AsepriteDirection>(tag.second[2]);
        out.repeat = tag.second[3];
        result.tags.push_back(std::move(out));
    }
    sprite = std::move(result);
    return true;
}

}  // namespace Velmora::Io
