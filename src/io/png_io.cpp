// PNG reading through libspng, writing through zlib. The decoder is told
// every limit before it reads a byte of pixel data, so a hostile header costs
// nothing. libspng deflates on one thread in 8 KiB IDAT chunks; an atlas is
// large enough for both to matter (a third of the run on 3 Mpx of noise, and
// 12 bytes per chunk), so the encoder lays out its own few chunks around
// zlib streams deflated band by band. Its settings are fixed, so the same
// image gives the same bytes.
#include "io/png_io.h"
#include "io/file_io.h"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

// Decoded straight into the packed pixels: red in the lowest byte is R, G,
// B, A in memory on a little-endian machine, which every target is.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "packed pixels assume little-endian");

// Ancillary chunks (text, profiles) are parsed and kept by the library
// before the image data; these bound what a file can make it hold.
constexpr size_t kMaxChunkBytes = size_t{16} << 20;
constexpr size_t kMaxChunkCacheBytes = size_t{32} << 20;

// Two encoder settings, chosen by the image. Measured on a 2048 x 1024
// atlas, half transparent, of flat-coloured and of shaded sprites: zlib
// level 4 with the "up" filter on every row writes 150 KB / 812 KB in about
// 40 / 80 ms, a third smaller than level 9 with run-length matching and
// adaptive filters (223 KB / 1118 KB) and faster; adaptive filter choice
// costs 2-3x the time for no gain on atlases, and levels 6 and 9 gain 15-25%
// in size for 2.5-20x the time. On noisy pixels (photographs, noise, dither)
// string matching finds almost nothing and costs most of the time: run-length
// matching without a filter is as small (10.79 MB against 10.88 MB for
// 3.3 Mpx of random colours) in half the time. A memory level of 9 halves the
// number of deflate blocks, and with them the Huffman tables written.
struct EncoderSettings {
    int level;
    int strategy;
    uint8_t filter;  // the PNG filter type of every row
};
constexpr uint8_t kFilterNone = 0;
constexpr uint8_t kFilterUp = 2;
constexpr EncoderSettings kSpriteSettings{4, Z_DEFAULT_STRATEGY, kFilterUp};
constexpr EncoderSettings kNoisySettings{1, Z_RLE, kFilterNone};
constexpr int kMemoryLevel = 9;
constexpr int kWindowBits = 15;
constexpr size_t kWindowBytes = size_t{1} << kWindowBits;

// About 1 MiB of filtered rows per band: a 4096 x 4096 atlas is 64 bands,
// enough to keep every core busy, while each cut costs only a flush marker
// and a block boundary (about 30 bytes per band on random pixels, 60 on
// sprite art).
constexpr size_t kBandBytes = size_t{1} << 20;
// Rows filtered at a time within a band.
constexpr size_t kStepBytes = size_t{64} << 10;

// Noisy when fewer than one pixel in eight repeats its left or upper
// neighbour; sprite art repeats far more (flat colours, transparent ground).
bool LooksNoisy(const Image& image) {
    const size_t width = static_cast<size_t>(image.width);
    size_t repeats = 0;
    for (size_t i = 1; i < image.pixels.size(); ++i) {
        const uint32_t pixel = image.pixels[i];
        repeats += (pixel == image.pixels[i - 1] || (i >= width && pixel == image.pixels[i - width])) ? 1 : 0;
    }
    return repeats * 8 < image.pixels.size();
}

struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextFree>;

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// PNG numbers are big-endian.
void PutU32At(uint8_t* at, unsigned long value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>((value >> (24 - 8 * i)) & 0xff);
    }
}

bool IsUsableImage(const Image& image) {
    return image.width >= 1 && image.height >= 1 && image.width <= kMaxImageSide &&
           image.height <= kMaxImageSide &&
           image.pixels.size() ==
               static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
}

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

uint32_t GetU32At(const uint8_t* at) {
    return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

// The library's error in the user's words: what is wrong with the file,
// never how the library got there.
std::string DecodeError(int code) {
    switch (code) {
    case SPNG_EOF:
    case SPNG_IO_EOF:
        return "truncated file";
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
        return "invalid chunk checksum";
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
        error = DecodeError(code);
        return nullptr;
    }
    return ctx;
}

}  // namespace

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    spng_ihdr header{};
    const Context ctx = OpenDecoder(bytes.data(), bytes.size(), header, error);
    if (!ctx) {
        return false;
    }
    size_t size = 0;
    const int sized = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    if (sized != 0) {
        error = DecodeError(sized);
        return false;
    }
    if (!CanHoldImage(header, bytes.size())) {
        error = "image data too short";
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
    // The last IDAT's checksum is checked only when the chunk after it is
    // read: read on to IEND, so a damaged or cut tail is refused too.
    if (code == 0) code = spng_decode_chunks(ctx.get());
    if (code != 0) {
        error = DecodeError(code);
        return false;
    }
    if (!IsUsableImage(decoded)) {
        error = "invalid image size";
        return false;
    }
    image = std::move(decoded);
    return true;
}

PngEncoder::PngEncoder(const Image& image)
    : image_(image), usable_(IsUsableImage(image)), noisy_(false), rowsPerBand_(1) {
    if (!usable_) {
        return;
    }
    noisy_ = LooksNoisy(image);
    const size_t filteredRow = static_cast<size_t>(image.width) * 4 + 1;
    rowsPerBand_ = std::max<size_t>(1, kBandBytes / filteredRow);
    bands_.resize((static_cast<size_t>(image.height) + rowsPerBand_ - 1) / rowsPerBand_);
}

size_t PngEncoder::EndRow(size_t band) const {
    return std::min(static_cast<size_t>(image_.height), FirstRow(band) + rowsPerBand_);
}

void PngEncoder::EncodeBand(size_t index) {
    Band& band = bands_[index];
    const EncoderSettings& settings = noisy_ ? kNoisySettings : kSpriteSettings;
    const size_t rowBytes = static_cast<size_t>(image_.width) * 4;
    const size_t filteredRow = rowBytes + 1;
    const size_t first = FirstRow(index);
    const size_t end = EndRow(index);
    // The rows before the band that fill deflate's window are filtered too,
    // to serve as the band's dictionary.
    const size_t windowRows = (kWindowBytes + filteredRow - 1) / filteredRow;
    const size_t from = first > windowRows ? first - windowRows : 0;
    const auto* pixels = reinterpret_cast<const uint8_t*>(image_.pixels.data());
    // Rows are filtered a few at a time into a small buffer that stays in
    // cache while deflate reads it.
    const size_t stepRows = std::max<size_t>(1, kStepBytes / filteredRow);
    const auto filterRows = [&](size_t row, size_t count, uint8_t* out) {
        for (const size_t stop = row + count; row < stop; ++row, out += filteredRow) {
            const uint8_t* in = pixels + row * rowBytes;
            out[0] = settings.filter;
            if (settings.filter == kFilterUp && row > 0) {
                const uint8_t* above = in - rowBytes;
                for (size_t i = 0; i < rowBytes; ++i) {
                    out[1 + i] = static_cast<uint8_t>(in[i] - above[i]);
                }
            } else {
                std::memcpy(out + 1, in, rowBytes);
            }
        }
    };
    z_stream stream{};
    bool open = false;
    try {
        // Scratch memory is left uninitialised: zero-filling it would cost
        // a page fault per 4 KiB that deflate may never write.
        const size_t prefix = (first - from) * filteredRow;
        const std::unique_ptr<uint8_t[]> scratch(new uint8_t[std::max(prefix, stepRows * filteredRow)]);
        const size_t length = (end - first) * filteredRow;
        band.adler = adler32_z(0, nullptr, 0);

        if (deflateInit2(&stream, settings.level, Z_DEFLATED, -kWindowBits, kMemoryLevel, settings.strategy) != Z_OK) {
            band.error = "out of memory";
            return;
        }
        open = true;
        const size_t dictionary = std::min(prefix, kWindowBytes);
        if (dictionary > 0) {
            filterRows(from, first - from, scratch.get());
            if (deflateSetDictionary(&stream, scratch.get() + prefix - dictionary, static_cast<uInt>(dictionary)) !=
                Z_OK) {
                band.error = "deflate failed";
                deflateEnd(&stream);
                return;
            }
        }
        // The first band opens the zlib stream; every band but the last ends
        // on a byte boundary (a sync flush) so the bands simply concatenate.
        uint8_t head[6] = {'I', 'D', 'A', 'T'};
        size_t headBytes = 4;
        if (index == 0) {
            // CMF: deflate with a 32 KiB window; FLG: the level class, then
            // check bits making the pair a multiple of 31.
            const int level = settings.level;
            const unsigned levelClass = level < 2 || settings.strategy == Z_RLE ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
            unsigned header = (0x78u << 8) | (levelClass << 6);
            header += 31 - header % 31;
            head[4] = static_cast<uint8_t>(header >> 8);
            head[5] = static_cast<uint8_t>(header & 0xff);
            headBytes = 6;
        }
        const bool last = index + 1 == bands_.size();
        const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
        // deflateBound holds for Z_FINISH; a sync flush adds a few bytes,
        // and the loop below makes room should that ever not do.
        size_t capacity = headBytes + deflateBound(&stream, static_cast<uLong>(length)) + 16;
        std::unique_ptr<uint8_t[]> out(new uint8_t[capacity]);
        std::memcpy(out.get(), head, headBytes);
        size_t used = headBytes;
        int code = Z_OK;
        for (size_t row = first; row < end && (code == Z_OK || code == Z_BUF_ERROR);) {
            const size_t count = std::min(stepRows, end - row);
            filterRows(row, count, scratch.get());
            row += count;
            stream.next_in = scratch.get();
            stream.avail_in = static_cast<uInt>(count * filteredRow);
            band.adler = adler32_z(band.adler, stream.next_in, stream.avail_in);
            const int step = row == end ? flush : Z_NO_FLUSH;
            for (;;) {
                stream.next_out = out.get() + used;
                stream.avail_out = static_cast<uInt>(capacity - used);
                code = deflate(&stream, step);
                used = capacity - stream.avail_out;
                const bool done = step == Z_FINISH ? code == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0;
                if (done || (code != Z_OK && code != Z_BUF_ERROR)) {
                    break;
                }
                std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity + kWindowBytes]);
                std::memcpy(larger.get(), out.get(), used);
                out = std::move(larger);
                capacity += kWindowBytes;
            }
        }
        deflateEnd(&stream);
        open = false;
        if (code != Z_OK && code != Z_STREAM_END) {
            band.error = "deflate failed";
            return;
        }
        // Framed as the file holds it: length, type and data, then room for
        // the stream's checksum (last band) and the chunk's checksum.
        const size_t trailerBytes = last ? 4 : 0;
        std::vector<uint8_t>& chunk = band.chunk;
        chunk.resize(4 + used + trailerBytes + 4);
        std::memcpy(chunk.data() + 4, out.get(), used);
        PutU32At(chunk.data(), static_cast<unsigned long>(used - 4 + trailerBytes));
        band.crc = crc32_z(crc32_z(0, nullptr, 0), chunk.data() + 4, used);
        if (!last) {
            PutU32At(chunk.data() + chunk.size() - 4, band.crc);
        }
    } catch (const std::bad_alloc&) {
        if (open) deflateEnd(&stream);
        band.error = "out of memory";
    }
}

std::vector<uint8_t> PngEncoder::Head() const {
    // Length, then type and data: 8 bits per sample, RGBA, deflate,
    // adaptive filtering, no interlace; then the checksum.
    constexpr uint8_t kHeader[25] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 8, 6, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> head(sizeof kSignature + sizeof kHeader);
    std::memcpy(head.data(), kSignature, sizeof kSignature);
    std::memcpy(head.data() + sizeof kSignature, kHeader, sizeof kHeader);
    PutU32At(head.data() + 16, static_cast<unsigned long>(image_.width));
    PutU32At(head.data() + 20, static_cast<unsigned long>(image_.height));
    PutU32At(head.data() + 29, crc32_z(0, head.data() + 12, 17));
    return head;
}

bool PngEncoder::TakeBand(size_t index, std::vector<uint8_t>& piece, std::string& error) {
    Band& band = bands_[index];
    if (!usable_ || !band.error.empty()) {
        error = usable_ ? band.error : "invalid image";
        return false;
    }
    if (band.chunk.empty()) {
        error = "band not encoded, or already taken";
        return false;
    }
    if (index + 1 == bands_.size()) {
        // The stream's checksum closes the last band.
        unsigned long adler = adler32_z(0, nullptr, 0);
        const size_t filteredRow = static_cast<size_t>(image_.width) * 4 + 1;
        for (size_t each = 0; each < bands_.size(); ++each) {
            const size_t bytes = (EndRow(each) - FirstRow(each)) * filteredRow;
            adler = adler32_combine(adler, bands_[each].adler, static_cast<z_off_t>(bytes));
        }
        uint8_t* trailer = band.chunk.data() + band.chunk.size() - 8;
        PutU32At(trailer, adler);
        band.crc = crc32_z(band.crc, trailer, 4);
        PutU32At(trailer + 4, band.crc);
    }
    piece = std::move(band.chunk);
    band.chunk = {};
    return true;
}

std::vector<uint8_t> PngEncoder::Tail() {
    return {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
}

bool PngEncoder::Finish(std::vector<uint8_t>& png, std::string& error) {
    if (!usable_) {
        error = "invalid image";
        return false;
    }
    try {
        std::vector<uint8_t> out = Head();
        std::vector<uint8_t> piece;
        for (size_t band = 0; band < bands_.size(); ++band) {
            if (!TakeBand(band, piece, error)) {
                return false;
            }
            out.insert(out.end(), piece.begin(), piece.end());
        }
        const std::vector<uint8_t> tail = Tail();
        out.insert(out.end(), tail.begin(), tail.end());
        png = std::move(out);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool EncodePng(const Image& image, std::vector<uint8_t>& png, std::string& error) {
    PngEncoder encoder(image);
    for (size_t band = 0; band < encoder.BandCount(); ++band) {
        encoder.EncodeBand(band);
    }
    return encoder.Finish(png, error);
}

bool ReadPngFile(const std::string& path, Image& image, std::string& error) {
    // A PNG of the largest accepted size compresses to far less than this.
    constexpr uint64_t kMaxInputBytes = uint64_t{1} << 30;
    std::vector<uint8_t> bytes;
    return ReadFileBytes(path, kMaxInputBytes, bytes, error) && DecodePng(bytes, image, error);
}

bool ReadPngSize(const std::string& path, Size2D& size, std::string& error) {
    const fs::path file = fs::u8path(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (ec) {
        error = SystemReason(ec);
        return false;
    }
    // Opening anything but a regular file could block (a pipe) or read
    // without end (a device).
    if (!fs::is_regular_file(status)) {
        error = fs::is_directory(status) ? "is a folder" : "not a regular file";
        return false;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        const int reason = errno;
        error = reason != 0 ? SystemReason(std::error_code(reason, std::generic_category())) : "cannot open file";
        return false;
    }
    uint8_t start[kHeaderBytes] = {};
    in.read(reinterpret_cast<char*>(start), sizeof start);
    spng_ihdr header{};
    if (!OpenDecoder(start, static_cast<size_t>(in.gcount()), header, error)) {
        return false;
    }
    // Both sides are within kMaxImageSide: the decoder's limits refused the rest.
    size = Size2D{static_cast<int32_t>(header.width), static_cast<int32_t>(header.height)};
    return true;
}

}  // namespace Velmora::Io
