// Layered sprite files on disk: the header alone, for naming frames before
// anything is decoded, and the whole file.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "io/aseprite.h"
#include "io/file_io.h"

namespace Velmora::Io {

namespace {

namespace fs = std::filesystem;

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
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) {
        error = "empty file";
        return false;
    }
    if (got < kHeaderBytes) {
        error = "file ends early";
        return false;
    }
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
