// PNG reading and writing through libspng. The decoder is told every limit
// before it reads a byte of pixel data, so a hostile header costs nothing;
// the encoder's settings are fixed, so the same image gives the same bytes.
#include "io/png_io.h"

#include <spng.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

namespace Velmora::Io {

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
    int filters;
};
constexpr EncoderSettings kSpriteSettings{4, Z_DEFAULT_STRATEGY, SPNG_FILTER_CHOICE_UP};
constexpr EncoderSettings kNoisySettings{1, Z_RLE, SPNG_FILTER_CHOICE_NONE};
constexpr int kMemoryLevel = 9;

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

std::string DecodeError(int code) {
    // The buffer ran out before the image did: say it in the user's words.
    if (code == SPNG_EOF || code == SPNG_IO_EOF) {
        return "truncated file";
    }
    return spng_strerror(code);
}

}  // namespace

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    if (bytes.empty()) {
        error = "empty file";
        return false;
    }
    if (bytes.size() < sizeof kSignature || std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0) {
        error = "not a PNG file";
        return false;
    }
    const Context ctx(spng_ctx_new(0));
    if (!ctx) {
        error = "out of memory";
        return false;
    }
    int code = spng_set_image_limits(ctx.get(), kMaxImageSide, kMaxImageSide);
    if (code == 0) code = spng_set_chunk_limits(ctx.get(), kMaxChunkBytes, kMaxChunkCacheBytes);
    // A bad checksum is an error in every chunk, ancillary ones included: a
    // damaged tRNS dropped silently would change the pixels.
    if (code == 0) code = spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_ERROR);
    if (code == 0) code = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size());
    spng_ihdr header{};
    if (code == 0) code = spng_get_ihdr(ctx.get(), &header);
    size_t size = 0;
    if (code == 0) code = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &size);
    if (code != 0) {
        error = DecodeError(code);
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
    code = spng_decode_image(ctx.get(), decoded.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
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

bool EncodePng(const Image& image, std::vector<uint8_t>& png, std::string& error) {
    if (!IsUsableImage(image)) {
        error = "invalid image";
        return false;
    }
    const Context ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) {
        error = "out of memory";
        return false;
    }
    spng_ihdr header{};
    header.width = static_cast<uint32_t>(image.width);
    header.height = static_cast<uint32_t>(image.height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    const EncoderSettings& settings = LooksNoisy(image) ? kNoisySettings : kSpriteSettings;
    int code = spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    if (code == 0) code = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, settings.level);
    if (code == 0) code = spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, settings.strategy);
    if (code == 0) code = spng_set_option(ctx.get(), SPNG_IMG_MEM_LEVEL, kMemoryLevel);
    if (code == 0) code = spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, settings.filters);
    if (code == 0) code = spng_set_ihdr(ctx.get(), &header);
    if (code == 0) {
        code = spng_encode_image(ctx.get(), image.pixels.data(), image.pixels.size() * sizeof(uint32_t),
                                 SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    }
    size_t length = 0;
    // Ownership of the buffer passes to us; it is freed with free().
    const std::unique_ptr<uint8_t, decltype(&std::free)> buffer(
        code == 0 ? static_cast<uint8_t*>(spng_get_png_buffer(ctx.get(), &length, &code)) : nullptr, &std::free);
    if (code != 0 || !buffer) {
        error = code != 0 ? spng_strerror(code) : "out of memory";
        return false;
    }
    try {
        png.assign(buffer.get(), buffer.get() + length);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    return true;
}

}  // namespace Velmora::Io
