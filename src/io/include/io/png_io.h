// PNG decoding and encoding for the file commands (libspng with zlib; the
// common files are inflated whole by libdeflate).
#ifndef VELMORA_IO_PNG_IO_H
#define VELMORA_IO_PNG_IO_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "velmora/image.h"

namespace Velmora::Io {

// Decodes a whole PNG file held in memory to 8-bit RGBA: every colour type
// and bit depth, interlaced or not; 16-bit samples keep their high byte,
// tRNS and palette alpha become alpha; no gamma or colour conversion.
// A header declaring a side above kMaxImageSide is refused before any pixel
// memory is allocated. On failure returns false, leaves `image` untouched and
// sets `error` to one lower-case phrase saying what is wrong with the file in
// our words, never the library's (e.g. "invalid chunk checksum", "wider than
// 16384 pixels", "truncated file").
bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error);

// DecodePng straight into a larger image: a file of `size` decoded into rows
// `stride` pixels apart from `first` (the caller's memory, sized for them),
// so nothing is copied twice. A file of another size is refused, and on
// failure the rows may be partly written.
bool DecodePngInto(const std::vector<uint8_t>& bytes, Size2D size, uint32_t* first, size_t stride,
                   std::string& error);

// Reads the bytes of the PNG file at `path`. A file larger than any PNG of
// the largest accepted size is refused before it is read.
bool ReadPngBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Reads and decodes the PNG file at `path` (ReadPngBytes, then DecodePng).
bool ReadPngFile(const std::string& path, Image& image, std::string& error);

// The size of the PNG file at `path`, from its first 33 bytes (signature and
// IHDR) alone: nothing after the header is read, so this costs the same for
// every file. Refuses in DecodePng's words what DecodePng would refuse in
// those bytes (not a PNG, a damaged header, a side above kMaxImageSide),
// and a path that is no readable regular file with the system's reason; on
// failure `size` is untouched.
bool ReadPngSize(const std::string& path, Size2D& size, std::string& error);

// ReadPngSize's answer for a PNG file already held in memory: the size from
// its signature and IHDR alone, or the same refusal in the same words.
bool PngSize(const std::vector<uint8_t>& bytes, Size2D& size, std::string& error);

namespace Png {
class Palette;
}

// The layouts an encoder may write. Rgba: always 8-bit RGBA. Smallest: the
// smallest layout that decodes to the same pixels. An image of at most 256
// distinct colours (alpha and the colour behind it alike) becomes an
// indexed PNG (PLTE, and tRNS for the colours with alpha below 255; 1, 2, 4
// or 8 bits per pixel); any other image with every pixel opaque becomes
// 8-bit RGB, without tRNS (a colour key is not read alike everywhere); the
// rest is written as Rgba writes it.
enum class PngColours { Rgba, Smallest };

// Encodes a valid image as a non-interlaced PNG in `colours`' layout. The
// same image gives the same bytes on every platform. On failure returns
// false and sets `error`.
bool EncodePng(const Image& image, std::vector<uint8_t>& png, std::string& error,
               PngColours colours = PngColours::Rgba);

// The same encoding cut into bands of rows that deflate independently, so
// several threads can share one large image. Each band carries the end of
// the one before it as a preset dictionary, so the cut costs a few bytes,
// and where the bands are cut never depends on the number of threads: the
// file is the one EncodePng writes. The image must outlive the encoder.
class PngEncoder {
public:
    explicit PngEncoder(const Image& image, PngColours colours = PngColours::Rgba);
    size_t BandCount() const { return bands_.size(); }
    // True when the file is indexed.
    bool Indexed() const { return palette_ != nullptr; }
    // True when the file is RGB, every pixel being opaque.
    bool Opaque() const { return opaque_; }
    // Safe to call concurrently for different bands.
    void EncodeBand(size_t band);
    // The file in pieces, so it can be written while later bands still
    // deflate: Head(), then each band's chunk (taken once that band and,
    // for the last, every band is encoded; taking frees it), then Tail().
    std::vector<uint8_t> Head() const;
    bool TakeBand(size_t band, std::vector<uint8_t>& piece, std::string& error);
    static std::vector<uint8_t> Tail();
    // After every band: the whole file at once, or false with `error`.
    bool Finish(std::vector<uint8_t>& png, std::string& error);

private:
    struct Band {
        std::vector<uint8_t> chunk;  // the framed IDAT chunk
        unsigned long crc = 0;       // of its type and data
        unsigned long adler = 0;     // of the band's filtered rows
        std::string error;
    };
    const Image& image_;
    bool usable_;
    bool noisy_;  // picks the encoder settings
    bool opaque_ = false;  // written as RGB
    std::shared_ptr<const Png::Palette> palette_;  // when indexed
    size_t rowBytes_;  // of an unfiltered row
    size_t rowsPerBand_;
    std::vector<Band> bands_;

    // Rows [first, end) of a band.
    size_t FirstRow(size_t band) const { return band * rowsPerBand_; }
    size_t EndRow(size_t band) const;
};

}  // namespace Velmora::Io

#endif  // VELMORA_IO_PNG_IO_H
