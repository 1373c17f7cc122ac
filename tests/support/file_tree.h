// Folders and files for tests that write to disk: a fresh folder per test,
// whole-file reads and writes, and the tree under a folder as a set.
#ifndef VELMORA_TESTS_SUPPORT_FILE_TREE_H
#define VELMORA_TESTS_SUPPORT_FILE_TREE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

namespace VelmoraTest {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, named after the
// running test (and `tag`), removed afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / ("velmora-" + std::string(info->test_suite_name()) + "-" + info->name() + tag);
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& relative) const { return path_ / fs::u8path(relative); }
    std::string Str(const std::string& relative = "") const {
        return relative.empty() ? path_.u8string() : path_.u8string() + "/" + relative;
    }

private:
    fs::path path_;
};

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry under `root`, relative, "/"-separated, folders ending in "/".
inline std::set<std::string> TreeOf(const fs::path& root) {
    std::set<std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        tree.insert(fs::relative(it->path(), root).generic_u8string() + (it->is_directory() ? "/" : ""));
    }
    return tree;
}

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_FILE_TREE_H
