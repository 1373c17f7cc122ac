// PNG reading through libspng. The decoder is told every limit before it
// reads a byte of pixel data, so a hostile header costs nothing. Plain
// files take the quick way of png_whole.h once libspng has read their
// header and the chunks before their image data.
#include "io/png_io.h"
#include "io/file_io.h"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "png_common.h"
#include "png_whole.h"

namespace Velmora::Io {

using Png::GetU32At;
using Png::IsUsableImage;
using Png::kSignature;

namespace {

// Ancillary chunks (text, profiles) are parsed and kept by the library
// before the image data; these bound what a file can make it hold.
constexpr size_t kMaxChunkBytes = size_t{16} << 20;
constexpr size_t kMaxChunkCacheBytes = size_t{32} << 20;

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;


// Deflate turns one byte into at most 1032, so a file too short to hold its
// header's image is refused before that image's memory is spent on it.
bool CanHoldImage(const spng_ihdr& header, size_t fileBytes) {
    constexpr uint64_t kMaxInflateRatio = 1032;
    uint64_t channels = 1;
    if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR) channels = 3;
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA) channels = 2;
    if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) channels = 4;
    // Interlacing only adds bytes, so the plain layout is a lower bound.
    const uint64_t rowBytes = (uint64_t{header.width} * channels * header.bit_depth + 7) / 8 + 1;
    return rowBytes * header.height <= kMaxInflateRatio * fileBytes;
}


// The library's error in the user's words: what is wrong with the file,
// never how the library got there.
std::string DecodeError(int code) {
    switch (code) {
    case SPNG_EOF:
    case SPNG_IO_EOF:
        return "image data ends early";
    case SPNG_ESIGNATURE:
        return "not a PNG file";
    case SPNG_EUSER_WIDTH:
        return "wider than " + std::to_string(kMaxImageSide) + " pixels";
    case SPNG_EUSER_HEIGHT:
        return "taller than " + std::to_string(kMaxImageSide) + " pixels";
    case SPNG_EWIDTH:
        return "width of 0 or out of range";
    case SPNG_EHEIGHT:
        return "height of 0 or out of range";
    case SPNG_ECOLOR_TYPE:
        return "unknown colour type";
    case SPNG_EBIT_DEPTH:
        return "bit depth not allowed for its colour type";
    case SPNG_ECOMPRESSION_METHOD:
    case SPNG_EFILTER_METHOD:
    case SPNG_EINTERLACE_METHOD:
        return "unknown compression, filter or interlace method";
    case SPNG_EIHDR_SIZE:
    case SPNG_ENOIHDR:
        return "damaged image header";
    case SPNG_ECHUNK_CRC:
        return "bad CRC in a chunk";
    case SPNG_ECHUNK_POS:
        return "chunks out of order";
    case SPNG_ECHUNK_SIZE:
    case SPNG_ECHUNK_STDLEN:
        return "chunk length out of range";
    case SPNG_ECHUNK_TYPE:
        return "invalid chunk name";
    case SPNG_ECHUNK_UNKNOWN_CRITICAL:
        return "needs a chunk this program does not know";
    case SPNG_ENOPLTE:
        return "palette missing";
    case SPNG_EIDAT_TOO_SHORT:
        return "image data too short";
    case SPNG_EIDAT_STREAM:
    case SPNG_EZLIB:
    case SPNG_EFILTER:
        return "damaged image data";
    case SPNG_ECHUNK_LIMITS:
        return "metadata chunks too large";
    case SPNG_EMEM:
    case SPNG_EZLIB_INIT:
        return "out of memory";
    case SPNG_EOVERFLOW:
        return "image too large";
    default:
        // Damaged metadata (text, colour space, time) is skipped, not
        // refused: what is left are files no writer should produce.
        return "damaged or unsupported PNG file";
    }
}

// The header's fields are out of range: IHDR itself was found in its place.
bool IsHeaderValueError(int code) {
    switch (code) {
    case SPNG_EWIDTH:
    case SPNG_EHEIGHT:
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
    case SPNG_ECOLOR_TYPE:
    case SPNG_EBIT_DEPTH:
    case SPNG_ECOMPRESSION_METHOD:
    case SPNG_EFILTER_METHOD:
    case SPNG_EINTERLACE_METHOD:
        return true;
    default:
        return false;
    }
}

// What the library cannot say about a file's chunks: which one first fails
// its checksum, and whether the file ends inside an image data chunk.
struct ChunkWalk {
    std::string badCrcChunk;  // empty when every whole chunk's checksum is right
    std::string cutChunk;     // the chunk the file ends inside, if any
    bool cutInImageData = false;
    bool sawImageData = false;
};

std::string ChunkName(const uint8_t* type) {
    std::string name;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>(type[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        name += letter ? c : '?';
    }
    return name;
}

ChunkWalk WalkChunks(const uint8_t* data, size_t size) {
    ChunkWalk walk;
    size_t at = sizeof kSignature;
    while (size - at >= 8) {
        const uint64_t length = GetU32At(data + at);
        const uint8_t* type = data + at + 4;
        const bool imageData = std::memcmp(type, "IDAT", 4) == 0;
        if (length + 12 > size - at) {
            walk.cutInImageData = imageData;
            walk.cutChunk = ChunkName(type);
            break;
        }
        walk.sawImageData = walk.sawImageData || imageData;
        const uLong crc = crc32_z(0, type, static_cast<size_t>(length) + 4);
        if (crc != GetU32At(data + at + 8 + length)) {
            walk.badCrcChunk = ChunkName(type);
            break;
        }
        if (std::memcmp(type, "IEND", 4) == 0) break;
        at += static_cast<size_t>(length) + 12;
    }
    return walk;
}

// The filtered bytes the header's image needs: rows of each Adam7 pass, or
// of the whole image, each with its filter byte.
uint64_t FilteredBytes(const spng_ihdr& header) {
    uint64_t channels = 1;
    if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR) channels = 3;
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA) channels = 2;
    if (header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA) channels = 4;
    const uint64_t bits = channels * header.bit_depth;
    const auto rows = [bits](uint64_t width, uint64_t height) {
        return width == 0 || height == 0 ? 0 : height * ((width * bits + 7) / 8 + 1);
    };
    if (header.interlace_method == 0) return rows(header.width, header.height);
    struct Pass {
        uint32_t x, y, dx, dy;
    };
    constexpr Pass kPasses[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    uint64_t total = 0;
    for (const Pass& p : kPasses) {
        const uint64_t w = header.width > p.x ? (header.width - p.x + p.dx - 1) / p.dx : 0;
        const uint64_t h = header.height > p.y ? (header.height - p.y + p.dy - 1) / p.dy : 0;
        total += rows(w, h);
    }
    return total;
}

enum class ImageData { kEnds, kShort, kLong };

// A file without IEND is whole when its image data is: the zlib stream in
// its IDAT chunks ends, and inflates to exactly the bytes the header needs.
// Only such files come here, so inflating a second time costs the others
// nothing.
ImageData InflateImageData(const uint8_t* data, size_t size, const spng_ihdr& header) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return ImageData::kShort;
    const uint64_t needed = FilteredBytes(header);
    uint64_t produced = 0;
    uint8_t scratch[16384];
    int status = Z_OK;
    size_t at = sizeof kSignature;
    while (status == Z_OK && size - at >= 12) {
        const uint64_t length = GetU32At(data + at);
        if (length + 12 > size - at) break;
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0) {
            stream.next_in = const_cast<Bytef*>(data + at + 8);
            stream.avail_in = static_cast<uInt>(length);
            while (status == Z_OK && produced <= needed && (stream.avail_in > 0 || stream.avail_out == 0)) {
                stream.next_out = scratch;
                stream.avail_out = sizeof scratch;
                status = inflate(&stream, Z_NO_FLUSH);
                produced += sizeof scratch - stream.avail_out;
                if (status == Z_BUF_ERROR && stream.avail_in == 0) status = Z_OK;  // wants the next chunk
            }
        }
        at += static_cast<size_t>(length) + 12;
    }
    inflateEnd(&stream);
    if (produced > needed) return ImageData::kLong;
    return status == Z_STREAM_END && produced == needed ? ImageData::kEnds : ImageData::kShort;
}

// Why decoding stopped, in the user's words; the chunk walk names the
// chunk whose checksum is wrong, wherever the library found it.
std::string Explain(int code, const ChunkWalk& walk) {
    const bool ended = code == SPNG_EOF || code == SPNG_IO_EOF;
    if ((code == SPNG_ECHUNK_CRC || ended) && !walk.badCrcChunk.empty()) {
        return "bad CRC in chunk " + walk.badCrcChunk;
    }
    // Cut inside a chunk that comes before any image data: the image never
    // started, and the chunk says where the file stops.
    if (ended && !walk.sawImageData && !walk.cutInImageData && !walk.cutChunk.empty()) {
        return "file ends inside its " + walk.cutChunk + " chunk, before the image data";
    }
    return DecodeError(code);
}


// The signature, IHDR's length and type, its 13 bytes of data and their
// checksum: all a PNG's size needs.
constexpr size_t kHeaderBytes = 33;

// A decoder over `size` bytes at `data` with every limit set, the header
// read into `header`: the start DecodePng and ReadPngSize share, so both
// refuse the same headers in the same words.
Context OpenDecoder(const uint8_t* data, size_t size, spng_ihdr& header, std::string& error) {
    if (size == 0) {
        error = "empty file";
        return nullptr;
    }
    if (size < sizeof kSignature || std::memcmp(data, kSignature, sizeof kSignature) != 0) {
        error = "not a PNG file";
        return nullptr;
    }
    Context ctx(spng_ctx_new(0));
    if (!ctx) {
        error = "out of memory";
        return nullptr;
    }
    int code = spng_set_image_limits(ctx.get(), kMaxImageSide, kMaxImageSide);
    if (code == 0) code = spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkCacheBytes);
    // A bad checksum is an error in every chunk, ancillary ones included: a
    // damaged tRNS dropped silently would change the pixels.
    if (code == 0) code = spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (code == 0) code = spng_set_png_buffer(ctx.get(), data, size);
    if (code == 0) code = spng_get_ihdr(ctx.get(), &header);
    // The library checks IHDR's checksum only once it reads the next chunk.
    // Where it found IHDR in its place, a damaged one is said to be damaged,
    // not believed nor blamed for the values the damage gave it.
    if ((code == 0 || IsHeaderValueError(code)) && size >= kHeaderBytes &&
        crc32_z(0, data + 12, 17) != GetU32At(data + 29)) {
        code = SPNG_ECHUNK_CRC;
    }
    if (code != 0) {
        const bool ended = code == SPNG_EOF || code == SPNG_IO_EOF;
        error = ended ? "file ends inside the image header" : Explain(code, WalkChunks(data, size));
        return nullptr;
    }
    return ctx;
}

// The header, and whether an image of its size may be decoded from a file
// of `fileBytes`; the decoded size in `size`.
bool CheckDecodable(spng_ctx* ctx, const spng_ihdr& header, size_t fileBytes, size_t& size, std::string& error) {
    const int sized = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
    if (sized != 0) {
        error = DecodeError(sized);
        return false;
    }
    if (!CanHoldImage(header, fileBytes)) {
        error = "image data too short";
        return false;
    }
    return true;
}

}  // namespace

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    // Anything else, and every fault with the words for it, row by row.
    return Png::DecodeQuickly(bytes, image) || Png::DecodePngByRows(bytes, image, error);
}

bool DecodePngInto(const std::vector<uint8_t>& bytes, Size2D size, uint32_t* first, size_t stride,
                   std::string& error) {
    if (size.w < 1 || size.h < 1 || first == nullptr || stride < static_cast<size_t>(size.w)) {
        error = "no room for the image";
        return false;
    }
    const auto width = static_cast<uint32_t>(size.w);
    const auto height = static_cast<uint32_t>(size.h);
    if (Png::DecodeQuicklyInto(bytes, width, height, Png::PixelRows{first, stride})) return true;
    Image image;
    if (!Png::DecodePngByRows(bytes, image, error)) return false;
    if (image.width != size.w || image.height != size.h) {
        error = "not the size its header gave";
        return false;
    }
    for (size_t y = 0; y < height; ++y) {
        std::copy_n(image.pixels.data() + y * width, width, first + y * stride);
    }
    return true;
}

namespace Png {

namespace {

// The layout of a file DecodeQuickly takes; false for any other.
bool QuickLayout(const std::vector<uint8_t>& bytes, SampleLayout& layout) {
    spng_ihdr header{};
    std::string error;
    const Context ctx = OpenDecoder(bytes.data(), bytes.size(), header, error);
    size_t size = 0;
    if (!ctx || !CheckDecodable(ctx.get(), header, bytes.size(), size, error)) return false;
    const bool indexed = header.color_type == SPNG_COLOR_TYPE_INDEXED;
    if (header.interlace_method != 0 || !(header.bit_depth == 8 || (indexed && header.bit_depth < 8))) {
        return false;
    }
    layout.width = header.width;
    layout.height = header.height;
    layout.colourType = header.color_type;
    layout.depth = header.bit_depth;
    // Reading tRNS reads, and checks, every chunk before the image data.
    spng_trns trns{};
    const int trnsRead = spng_get_trns(ctx.get(), &trns);
    if (trnsRead != 0 && trnsRead != SPNG_ECHUNKAVAIL) return false;
    const bool hasTrns = trnsRead == 0;
    if (indexed) {
        spng_plte plte{};
        if (spng_get_plte(ctx.get(), &plte) != 0 || plte.n_entries > 256) return false;
        for (uint32_t& entry : layout.palette) entry = 0xff000000u;
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            const spng_plte_entry& e = plte.entries[i];
            const uint32_t alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            layout.palette[i] = uint32_t{e.red} | uint32_t{e.green} << 8 | uint32_t{e.blue} << 16 | alpha << 24;
        }
    } else if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE || header.color_type == SPNG_COLOR_TYPE_TRUECOLOR) {
        layout.keyed = hasTrns;
        layout.grayKey = trns.gray;
        // libspng compares an 8-bit colour with the key's low bytes.
        layout.rgbKey[0] = static_cast<uint8_t>(trns.red & 0xff);
        layout.rgbKey[1] = static_cast<uint8_t>(trns.green & 0xff);
        layout.rgbKey[2] = static_cast<uint8_t>(trns.blue & 0xff);
    }
    return true;
}

}  // namespace

bool DecodeQuickly(const std::vector<uint8_t>& bytes, Image& image) {
    SampleLayout layout;
    return QuickLayout(bytes, layout) && DecodeWhole(bytes.data(), bytes.size(), layout, image);
}

bool DecodeQuicklyInto(const std::vector<uint8_t>& bytes, uint32_t width, uint32_t height, const PixelRows& rows) {
    SampleLayout layout;
    return QuickLayout(bytes, layout) && layout.width == width && layout.height == height &&
           DecodeWholeInto(bytes.data(), bytes.size(), layout, rows);
}

bool DecodePngByRows(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    spng_ihdr header{};
    const Context ctx = OpenDecoder(bytes.data(), bytes.size(), header, error);
    size_t size = 0;
    if (!ctx || !CheckDecodable(ctx.get(), header, bytes.size(), size, error)) {
        return false;
    }
    Image decoded;
    decoded.width = static_cast<int32_t>(header.width);
    decoded.height = static_cast<int32_t>(header.height);
    try {
        decoded.pixels.resize(size / sizeof(uint32_t));
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    int code = spng_decode_image(ctx.get(), decoded.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    const bool rowsDecoded = code == 0;
    // The last IDAT's checksum is checked only when the chunk after it is
    // read: read on to IEND, so a damaged or cut tail is refused too.
    if (code == 0) code = spng_decode_chunks(ctx.get());
    if (code != 0) {
        // Many published files stop after their last IDAT. Browsers and
        // image libraries load them, and so do we when every chunk read is
        // whole and checks out and the image data ends where it should.
        const ChunkWalk walk = WalkChunks(bytes.data(), bytes.size());
        const bool ended = code == SPNG_EOF || code == SPNG_IO_EOF;
        const bool chunksWhole = ended && rowsDecoded && walk.badCrcChunk.empty() && !walk.cutInImageData;
        const ImageData imageData =
            chunksWhole ? InflateImageData(bytes.data(), bytes.size(), header) : ImageData::kShort;
        if (imageData != ImageData::kEnds) {
            error = imageData == ImageData::kLong ? "damaged image data" : Explain(code, walk);
            return false;
        }
    }
    if (!IsUsableImage(decoded)) {
        error = "invalid image size";
        return false;
    }
    image = std::move(decoded);
    return true;
}

}  // namespace Png


bool ReadPngBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    // A PNG of the largest accepted size compresses to far less than this.
    constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;
    return ReadFileBytes(path, kMaxInputBytes, bytes, error);
}

bool ReadPngFile(const std::string& path, Image& image, std::string& error) {
    std::vector<uint8_t> bytes;
    return ReadPngBytes(path, bytes, error) && DecodePng(bytes, image, error);
}

bool ReadPngSize(const std::string& path, Size2D& size, std::string& error) {
    std::vector<uint8_t> start;
    return ReadFileStart(path, kHeaderBytes, start, error) && PngSize(start, size, error);
}

bool PngSize(const std::vector<uint8_t>& bytes, Size2D& size, std::string& error) {
    // Only the header's bytes, so a file cut or damaged after them is
    // refused, as by ReadPngSize, only once it is decoded.
    spng_ihdr header{};
    if (!OpenDecoder(bytes.data(), std::min(bytes.size(), kHeaderBytes), header, error)) {
        return false;
    }
    // Both sides are within kMaxImageSide: the decoder's limits refused the rest.
    size = Size2D{static_cast<int32_t>(header.width), static_cast<int32_t>(header.height)};
    return true;
}

}  // namespace Velmora::Io
