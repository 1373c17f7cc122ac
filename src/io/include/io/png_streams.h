// Several PNG files encoded at once, band by band, on background threads.
#ifndef VELMORA_IO_PNG_STREAMS_H
#define VELMORA_IO_PNG_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/png_io.h"
#include "velmora/image.h"

namespace Velmora::Io {

// One file to encode: where it goes, its image and the layouts it may take.
struct PngPicture {
    PngPicture(std::string path_, const Image* image_, PngColours colours_ = PngColours::Rgba)
        : path(std::move(path_)), image(image_), colours(colours_) {}
    std::string path;
    const Image* image;
    PngColours colours;
};

// Encodes pictures on `jobs` background threads, band by band,
// and hands out each file's pieces in order as soon as they are ready, so
// the files are written while later bands still deflate. The bytes never
// depend on `jobs`. The images must outlive it; destroying it stops the
// work not yet started and waits for the rest.
class PngStreams {
public:
    PngStreams(const std::vector<PngPicture>& images, unsigned jobs);
    ~PngStreams();
    PngStreams(const PngStreams&) = delete;
    PngStreams& operator=(const PngStreams&) = delete;

    // The next piece of image i's file, as OutputSet::NextPiece: true with
    // a piece, false at the end or with `failure` set. Rethrows what a
    // worker threw (memory exhaustion). One caller at a time.
    bool Next(size_t image, std::vector<uint8_t>& piece, std::string& failure);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Velmora::Io

#endif  // VELMORA_IO_PNG_STREAMS_H
