// Files the file-command tests write and read: a sprite as a PNG file (our
// encoder), and a JSON document through the strict reader.
#ifndef VELMORA_TESTS_SUPPORT_ATLAS_FILES_H
#define VELMORA_TESTS_SUPPORT_ATLAS_FILES_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "io/png_io.h"
#include "file_tree.h"
#include "json_reader.h"
#include "velmora/image.h"

namespace VelmoraTest {

inline void WritePng(const std::filesystem::path& path, const Velmora::Image& image) {
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(Velmora::Io::EncodePng(image, png, error)) << error;
    WriteText(path, std::string(png.begin(), png.end()));
}

inline StrictJson::Value ReadJson(const std::filesystem::path& path) {
    StrictJson::Value value;
    std::string error;
    EXPECT_TRUE(StrictJson::Parse(ReadText(path), value, error)) << path << ": " << error;
    return value;
}

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_ATLAS_FILES_H
