// PNG writing through zlib. libspng deflates on one thread in 8 KiB IDAT
// chunks; an atlas is large enough for both to matter (a third of the run on
// 3 Mpx of noise, and 12 bytes per chunk), so the encoder lays out its own few
// chunks around zlib streams deflated band by band. Its settings are fixed,
// so the same image gives the same bytes. An image of few colours may be
// written indexed (png_palette.h), an opaque one as RGB.
#include "io/png_io.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <utility>

#include "png_common.h"
#include "png_palette.h"

namespace Velmora::Io {

using Png::IsUsableImage;
using Png::kSignature;
using Png::PutU32At;

namespace {

// Encoder settings, chosen by the image. Measured on a 2048 x 1024
// atlas, half transparent, of flat-coloured and of shaded sprites: zlib
// level 4 with the "up" filter on every row writes 150 KB / 812 KB in about
// 40 / 80 ms, a third smaller than level 9 with run-length matching and
// adaptive filters (223 KB / 1118 KB) and faster; adaptive filter choice
// costs 2-3x the time for no gain on atlases, and levels 6 and 9 gain 15-25%
// in size for 2.5-20x the time. On noisy pixels (photographs, noise, dither)
// string matching finds almost nothing and costs most of the time: run-length
// matching without a filter is as small (10.79 MB against 10.88 MB for
// 3.3 Mpx of random colours) in half the time. There a memory level of 9
// halves the number of deflate blocks, and with them the Huffman tables
// written; on sprite art level 4's hash table at memory level 8 stays in
// cache and slides faster, for 11 % less time and the same bytes to 0.01 %.
struct EncoderSettings {
    int level;
    int strategy;
    uint8_t filter;  // the PNG filter type of every RGBA row
    int memoryLevel;
};
constexpr uint8_t kFilterNone = 0;
constexpr uint8_t kFilterUp = 2;
constexpr EncoderSettings kSpriteSettings{4, Z_DEFAULT_STRATEGY, kFilterUp, 8};
constexpr EncoderSettings kNoisySettings{1, Z_RLE, kFilterNone, 9};
// Indexed sprite art: a quarter of the bytes, and rows of indices repeat
// whole, so deflate finds earlier rows without a filter; the "up" filter on
// every row costs 3-15 % in size there. But where a row repeats the one
// above through long runs (large flat fills), deflate's lazy matching gives
// up its search within the run before reaching the row above, and the file
// grows to 2.3 times (4096 x 4096 of flat blocks): those rows alone take
// the "up" filter, which makes them zeros, for 1.1 times the all-"up" size
// and at most 0.1 % more than no filter on the sprite atlases. Level 6 takes
// 10-55 % off level 4's files (longer match chains reach past transparent
// runs) and still deflates a quarter of the bytes faster than level 4 does
// the RGBA rows; level 9 takes 2-8 % more for 3-7 times the time. Indexed
// noise keeps the run-length settings: as small, and twice as fast.
// (Indexed rows choose their filter as said, whatever the settings say.)
constexpr EncoderSettings kIndexedSpriteSettings{6, Z_DEFAULT_STRATEGY, kFilterNone, 9};
constexpr int kWindowBits = 15;
constexpr size_t kWindowBytes = size_t{1} << kWindowBits;
// Run-length matching looks back one byte, so a stream that starts from
// the byte before it deflates as if it went on from all of them. zlib
// slides its window every 32 KiB once 64 KiB (less its 262-byte lookahead)
// have passed, and rewrites its whole hash table each time, though this
// strategy never reads it: a fifth of deflating noise. So run-length bands
// are deflated as streams short enough never to slide, each ended by a sync
// flush (5 bytes per 63 KiB) and restarted, for 15 % less time.
constexpr size_t kRunLengthStreamBytes = 2 * kWindowBytes - 1024;

// About 1 MiB of filtered rows per band: a 4096 x 4096 atlas is 64 bands,
// enough to keep every core busy, while each cut costs only a flush marker
// and a block boundary (about 30 bytes per band on random pixels, 60 on
// sprite art). Below 16 MiB bands shrink towards 256 KiB, so at least 16
// of them share the threads: with 3 bands of 1 MiB on 2 threads the last
// one ran alone for a fifth of the encoding.
constexpr size_t kBandBytes = size_t{1} << 20;
constexpr size_t kMinBandBytes = size_t{256} << 10;
constexpr size_t kMinBands = 16;
// Rows filtered at a time within a band.
constexpr size_t kStepBytes = size_t{64} << 10;

// Noisy when fewer than one pixel in eight repeats its left or upper
// neighbour; sprite art repeats far more (flat colours, transparent ground).
// Every eighth row tells as well as all of them, and the encoders wait for
// the answer.
bool LooksNoisy(const Image& image) {
    constexpr size_t kRowStep = 8;
    const size_t width = static_cast<size_t>(image.width);
    const size_t height = static_cast<size_t>(image.height);
    size_t repeats = 0;
    size_t seen = 0;
    for (size_t y = 0; y < height; y += kRowStep) {
        const uint32_t* row = image.pixels.data() + y * width;
        const uint32_t* above = y > 0 ? row - width : nullptr;
        for (size_t x = 0; x < width; ++x) {
            repeats += ((x > 0 && row[x] == row[x - 1]) || (above != nullptr && row[x] == above[x])) ? 1 : 0;
        }
        seen += width;
    }
    return repeats * 8 < seen;
}

bool AllOpaque(const Image& image) {
    return std::all_of(image.pixels.begin(), image.pixels.end(), [](uint32_t p) { return p >> 24 == 0xff; });
}

// One row of packed pixels as R, G, B bytes.
void DropAlpha(const uint32_t* pixels, size_t width, uint8_t* out) {
    for (size_t x = 0; x < width; ++x, out += 3) {
        const uint32_t p = pixels[x];
        out[0] = static_cast<uint8_t>(p);
        out[1] = static_cast<uint8_t>(p >> 8);
        out[2] = static_cast<uint8_t>(p >> 16);
    }
}

}  // namespace

PngEncoder::PngEncoder(const Image& image, PngColours colours)
    : image_(image), usable_(IsUsableImage(image)), noisy_(false), rowBytes_(0), rowsPerBand_(1) {
    if (!usable_) {
        return;
    }
    const size_t width = static_cast<size_t>(image.width);
    rowBytes_ = width * 4;
    if (colours == PngColours::Smallest) {
        auto palette = std::make_shared<Png::Palette>();
        if (palette->Build(image)) {
            rowBytes_ = palette->RowBytes(width);
            palette_ = std::move(palette);
        } else if (AllOpaque(image)) {
            // A quarter fewer bytes to deflate and to store.
            opaque_ = true;
            rowBytes_ = width * 3;
        }
    }
    noisy_ = LooksNoisy(image);
    // Smaller images are cut finer, so the last band's wait is short.
    const size_t filteredBytes = (rowBytes_ + 1) * static_cast<size_t>(image.height);
    const size_t bandBytes = std::clamp(filteredBytes / kMinBands, kMinBandBytes, kBandBytes);
    rowsPerBand_ = std::max<size_t>(1, bandBytes / (rowBytes_ + 1));
    bands_.resize((static_cast<size_t>(image.height) + rowsPerBand_ - 1) / rowsPerBand_);
}

size_t PngEncoder::EndRow(size_t band) const {
    return std::min(static_cast<size_t>(image_.height), FirstRow(band) + rowsPerBand_);
}

void PngEncoder::EncodeBand(size_t index) {
    Band& band = bands_[index];
    const EncoderSettings& settings =
        noisy_ ? kNoisySettings : palette_ ? kIndexedSpriteSettings : kSpriteSettings;
    const size_t width = static_cast<size_t>(image_.width);
    const size_t rowBytes = rowBytes_;
    const size_t filteredRow = rowBytes + 1;
    const size_t first = FirstRow(index);
    const size_t end = EndRow(index);
    // The rows before the band that fill deflate's window (one byte of it
    // for run-length matching) are filtered too, to serve as the band's
    // dictionary.
    const bool runLength = settings.strategy == Z_RLE;
    const size_t dictionaryLimit = runLength ? 1 : kWindowBytes;
    const size_t windowRows = (dictionaryLimit + filteredRow - 1) / filteredRow;
    const size_t from = first > windowRows ? first - windowRows : 0;
    const auto* pixels = reinterpret_cast<const uint8_t*>(image_.pixels.data());
    // Indexed and RGB rows are packed into two buffers by parity, so the
    // row above is at hand.
    std::unique_ptr<uint8_t[]> packed(palette_ || opaque_ ? new uint8_t[2 * rowBytes] : nullptr);
    size_t packedRows[2] = {SIZE_MAX, SIZE_MAX};
    const auto packedRow = [&](size_t row) {
        uint8_t* at = packed.get() + (row % 2) * rowBytes;
        if (packedRows[row % 2] != row) {
            const uint32_t* source = image_.pixels.data() + row * width;
            if (palette_) {
                palette_->PackRow(source, width, at);
            } else {
                DropAlpha(source, width, at);
            }
            packedRows[row % 2] = row;
        }
        return at;
    };
    // Rows are filtered a few at a time into a small buffer that stays in
    // cache while deflate reads it.
    const size_t stepRows = std::max<size_t>(1, kStepBytes / filteredRow);
    const auto filterRows = [&](size_t row, size_t count, uint8_t* out) {
        for (const size_t stop = row + count; row < stop; ++row, out += filteredRow) {
            if (palette_) {
                const uint8_t* in = packedRow(row);
                const bool repeats = row > 0 && std::memcmp(in, packedRow(row - 1), rowBytes) == 0;
                out[0] = repeats ? kFilterUp : kFilterNone;
                if (repeats) {
                    std::memset(out + 1, 0, rowBytes);
                } else {
                    std::memcpy(out + 1, in, rowBytes);
                }
                continue;
            }
            out[0] = settings.filter;
            const uint8_t* in = opaque_ ? packedRow(row) : pixels + row * rowBytes;
            if (settings.filter == kFilterUp && row > 0) {
                const uint8_t* above = opaque_ ? packedRow(row - 1) : in - rowBytes;
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
        band.adler = 1;  // Adler-32 of no bytes

        if (deflateInit2(&stream, settings.level, Z_DEFLATED, -kWindowBits, settings.memoryLevel, settings.strategy) != Z_OK) {
            band.error = "out of memory";
            return;
        }
        open = true;
        const size_t dictionary = std::min(prefix, dictionaryLimit);
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
        const auto deflateAll = [&](uint8_t* data, size_t bytes, int step) {
            stream.next_in = data;
            stream.avail_in = static_cast<uInt>(bytes);
            for (;;) {
                stream.next_out = out.get() + used;
                stream.avail_out = static_cast<uInt>(capacity - used);
                code = deflate(&stream, step);
                used = capacity - stream.avail_out;
                const bool done = step == Z_FINISH ? code == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0;
                if (done || (code != Z_OK && code != Z_BUF_ERROR)) {
                    return done;
                }
                std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity + kWindowBytes]);
                std::memcpy(larger.get(), out.get(), used);
                out = std::move(larger);
                capacity += kWindowBytes;
            }
        };
        const size_t streamLimit = runLength ? kRunLengthStreamBytes : SIZE_MAX;
        size_t streamBytes = 0;  // fed to the current stream
        for (size_t row = first; row < end && (code == Z_OK || code == Z_BUF_ERROR);) {
            const size_t count = std::min(stepRows, end - row);
            filterRows(row, count, scratch.get());
            row += count;
            uint8_t* data = scratch.get();
            size_t left = count * filteredRow;
            band.adler = libdeflate_adler32(static_cast<uint32_t>(band.adler), data, left);
            while (left > 0) {
                const size_t take = std::min(left, streamLimit - streamBytes);
                left -= take;
                streamBytes += take;
                const bool bandEnds = left == 0 && row == end;
                const bool restart = streamBytes == streamLimit && !bandEnds;
                if (!deflateAll(data, take, bandEnds ? flush : restart ? Z_SYNC_FLUSH : Z_NO_FLUSH)) break;
                data += take;
                if (restart) {
                    // The next stream goes on from the byte before it.
                    if (deflateReset(&stream) != Z_OK || deflateSetDictionary(&stream, data - 1, 1) != Z_OK) {
                        code = Z_STREAM_ERROR;
                        break;
                    }
                    streamBytes = 0;
                }
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
        band.crc = libdeflate_crc32(0, chunk.data() + 4, used);
        if (!last) {
            PutU32At(chunk.data() + chunk.size() - 4, band.crc);
        }
    } catch (const std::bad_alloc&) {
        if (open) deflateEnd(&stream);
        band.error = "out of memory";
    }
}

std::vector<uint8_t> PngEncoder::Head() const {
    // Length, then type and data: 8 bits per sample, RGBA (RGB when opaque,
    // or the palette's depth, indexed), deflate, adaptive filtering, no
    // interlace; then the checksum.
    constexpr uint8_t kHeader[25] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 8, 6, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> head(sizeof kSignature + sizeof kHeader);
    std::memcpy(head.data(), kSignature, sizeof kSignature);
    std::memcpy(head.data() + sizeof kSignature, kHeader, sizeof kHeader);
    PutU32At(head.data() + 16, static_cast<unsigned long>(image_.width));
    PutU32At(head.data() + 20, static_cast<unsigned long>(image_.height));
    if (opaque_) {
        head[25] = Png::kTruecolour;
    }
    if (palette_) {
        head[24] = palette_->BitDepth();
        head[25] = Png::kIndexed;
    }
    PutU32At(head.data() + 29, crc32_z(0, head.data() + 12, 17));
    if (!palette_) {
        return head;
    }
    // The palette's colours, then the alphas of its leading translucent
    // entries (none when every colour is opaque).
    const std::vector<uint32_t>& colours = palette_->Colours();
    const auto chunk = [&head](const char* type, size_t length, const auto& put) {
        const size_t at = head.size();
        head.resize(at + 12 + length);
        PutU32At(head.data() + at, static_cast<unsigned long>(length));
        std::memcpy(head.data() + at + 4, type, 4);
        put(head.data() + at + 8);
        PutU32At(head.data() + at + 8 + length, crc32_z(0, head.data() + at + 4, 4 + length));
    };
    chunk("PLTE", colours.size() * 3, [&colours](uint8_t* out) {
        for (const uint32_t colour : colours) {
            *out++ = static_cast<uint8_t>(colour);
            *out++ = static_cast<uint8_t>(colour >> 8);
            *out++ = static_cast<uint8_t>(colour >> 16);
        }
    });
    const size_t translucent = palette_->Translucent();
    if (translucent > 0) {
        chunk("tRNS", translucent, [&colours, translucent](uint8_t* out) {
            for (size_t i = 0; i < translucent; ++i) *out++ = static_cast<uint8_t>(colours[i] >> 24);
        });
    }
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
        unsigned long adler = 1;  // Adler-32 of no bytes
        const size_t filteredRow = rowBytes_ + 1;
        for (size_t each = 0; each < bands_.size(); ++each) {
            const size_t bytes = (EndRow(each) - FirstRow(each)) * filteredRow;
            adler = adler32_combine(adler, bands_[each].adler, static_cast<z_off_t>(bytes));
        }
        uint8_t* trailer = band.chunk.data() + band.chunk.size() - 8;
        PutU32At(trailer, adler);
        band.crc = libdeflate_crc32(static_cast<uint32_t>(band.crc), trailer, 4);
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

bool EncodePng(const Image& image, std::vector<uint8_t>& png, std::string& error, PngColours colours) {
    PngEncoder encoder(image, colours);
    for (size_t band = 0; band < encoder.BandCount(); ++band) {
        encoder.EncodeBand(band);
    }
    return encoder.Finish(png, error);
}
}  // namespace Velmora::Io
