// PNG reading through libspng. The decoder is told every limit before it
// reads a byte of pixel data, so a hostile header costs nothing.
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

#include "png_common.h"

namespace Velmora::Io {

namespace fs = std::filesystem;
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
