// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or found in a directory named there, is passed once to the target. Used by
// ctest to keep the seed corpus and every input that once crashed checked in
// ordinary (GCC, ASan) builds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void RunFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    // A zero-length input still gets a valid (if empty) buffer pointer.
    input.reserve(1);
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    size_t count = 0;
    for (int a = 1; a < argc; ++a) {
        const fs::path root(argv[a]);
        if (fs::is_directory(root)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(root)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& path : files) {
                RunFile(path);
                ++count;
            }
        } else if (fs::is_regular_file(root)) {
            RunFile(root);
            ++count;
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[a]);
            return 1;
        }
    }
    // An empty corpus would make the test pass without checking anything.
    if (count == 0) {
        std::fprintf(stderr, "no inputs replayed\n");
        return 1;
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
