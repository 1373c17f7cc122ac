// Layered sprite files on disk: the header alone, for naming frames before
// anything is decoded, and the whole file.
#include <algorithm>
#include <cctype>
#include <vector>

#include "io/aseprite.h"
#include "io/file_io.h"

namespace Velmora::Io {

namespace {


constexpr size_t kHeaderBytes = 128;
// The decoder holds the whole file; far beyond any sprite an editor saves.
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

bool EndsWith(const std::string& name, const char* ending) {
    const std::string tail(ending);
    if (name.size() < tail.size()) return false;
    return std::equal(tail.begin(), tail.end(), name.end() - static_cast<std::ptrdiff_t>(tail.size()),
                      [](char a, char b) {
                          return a == std::tolower(static_cast<unsigned char>(b));
                      });
}

uint32_t Little(const uint8_t* at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

}  // namespace

bool IsAsepriteName(const std::string& name) { return EndsWith(name, ".aseprite") || EndsWith(name, ".ase"); }

bool ReadAsepriteHeader(const std::string& path, AsepriteHeader& header, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadFileStart(path, kHeaderBytes, bytes, error)) {
        return false;
    }
    if (bytes.empty()) {
        error = "empty file";
        return false;
    }
    if (bytes.size() < kHeaderBytes) {
        error = "file ends early";
        return false;
    }
    const uint8_t* start = bytes.data();
    if (Little(start + 4, 2) != 0xA5E0U) {
        error = "not an Aseprite file";
        return false;
    }
    AsepriteHeader read;
    read.frames = static_cast<int32_t>(Little(start + 6, 2));
    read.width = static_cast<int32_t>(Little(start + 8, 2));
    read.height = static_cast<int32_t>(Little(start + 10, 2));
    if (read.frames == 0) {
        error = "no frames";
        return false;
    }
    if (read.width == 0 || read.height == 0) {
        error = "canvas of 0 pixels";
        return false;
    }
    header = read;
    return true;
}

bool ReadAsepriteFile(const std::string& path, AsepriteSprite& sprite, std::string& error) {
    std::vector<uint8_t> bytes;
    return ReadFileBytes(path, kMaxFileBytes, bytes, error) && DecodeAseprite(bytes, sprite, error);
}

}  // namespace Velmora::Io
