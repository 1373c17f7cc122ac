// DecodePng on arbitrary bytes: it never crashes, and whatever it accepts is
// a valid image that EncodePng writes and DecodePng reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "io/png_io.h"
#include "velmora/image.h"
#include "velmora_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    Velmora::Image image;
    std::string error;
    if (!Velmora::Io::DecodePng(bytes, image, error)) {
        FUZZ_CHECK(!error.empty() && image.width == 0 && image.pixels.empty());
        return 0;
    }
    FUZZ_CHECK(image.width >= 1 && image.height >= 1 && image.width <= Velmora::kMaxImageSide &&
               image.height <= Velmora::kMaxImageSide &&
               image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    std::vector<uint8_t> png;
    FUZZ_CHECK(Velmora::Io::EncodePng(image, png, error));
    Velmora::Image again;
    FUZZ_CHECK(Velmora::Io::DecodePng(png, again, error));
    FUZZ_CHECK(again.width == image.width && again.height == image.height && again.pixels == image.pixels);
    return 0;
}
