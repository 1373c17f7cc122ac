// Files and folders through std::filesystem: u8path/u8string keep names
// UTF-8 in our strings while Windows is called with wide characters.
#include "io/file_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

namespace Velmora::Io {

namespace fs = std::filesystem;

// The OS's words for common failures differ per platform and language;
// ours are the same everywhere.
std::string SystemReason(const std::error_code& ec) {
    if (ec == std::errc::no_such_file_or_directory) return "no such file or folder";
    if (ec == std::errc::permission_denied) return "permission denied";
    if (ec == std::errc::not_a_directory) return "not a folder";
    std::string text = ec.message();
    while (!text.empty() && (std::isspace(static_cast<unsigned char>(text.back())) != 0 || text.back() == '.')) {
        text.pop_back();
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text.empty() ? "unknown error" : text;
}

namespace {

bool IsDotName(const std::string& name) { return !name.empty() && name[0] == '.'; }

bool HasExtension(const std::string& name, const std::string& extension) {
    if (name.size() < extension.size()) return false;
    std::string tail = name.substr(name.size() - extension.size());
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return tail == extension;
}

bool HasPngExtension(const std::string& name) { return HasExtension(name, ".png"); }

bool HasSpriteExtension(const std::string& name) {
    return HasPngExtension(name) || HasExtension(name, ".aseprite") || HasExtension(name, ".ase");
}

struct Entry {
    std::string name;  // UTF-8
    fs::path path;
};

// One folder's entries, sorted by name so which path reaches a folder first
// (directly or through a link) never depends on directory order.
bool ReadFolder(const fs::path& folder, std::vector<Entry>& entries, std::error_code& ec) {
    entries.clear();
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        entries.push_back(Entry{it->path().filename().u8string(), it->path()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return !ec;
}

}  // namespace

namespace {

// Opening anything but a regular file could block (a pipe) or read
// without end (a device).
bool CheckRegularFile(const fs::path& file, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (ec) {
        error = SystemReason(ec);
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = fs::is_directory(status) ? "is a folder" : "not a regular file";
        return false;
    }
    return true;
}

bool OpenForReading(const fs::path& file, std::ifstream& in, std::string& error) {
    // The stream leaves the failed open's errno in place: the system's
    // reason, which a folder that cannot be listed gives too.
    errno = 0;
    in.open(file, std::ios::binary);
    if (!in) {
        const int reason = errno;
        error = reason != 0 ? SystemReason(std::error_code(reason, std::generic_category())) : "cannot open file";
        return false;
    }
    return true;
}

}  // namespace

bool ReadFileBytes(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error) {
    const fs::path file = fs::u8path(path);
    if (!CheckRegularFile(file, error)) {
        return false;
    }
    std::error_code ec;
    const uintmax_t size = fs::file_size(file, ec);
    if (ec) {
        error = SystemReason(ec);
        return false;
    }
    if (size > maxBytes) {
        error = "file too large (over " + std::to_string(maxBytes) + " bytes)";
        return false;
    }
    std::ifstream in;
    if (!OpenForReading(file, in, error)) {
        return false;
    }
    std::vector<uint8_t> data(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    // A file that changed size while being read is read again by nobody: it
    // is refused rather than taken half-written.
    if (static_cast<uintmax_t>(in.gcount()) != size || in.peek() != std::ifstream::traits_type::eof()) {
        error = "file changed while being read";
        return false;
    }
    bytes = std::move(data);
    return true;
}

bool ReadFileStart(const std::string& path, size_t count, std::vector<uint8_t>& bytes, std::string& error) {
    const fs::path file = fs::u8path(path);
    std::ifstream in;
    if (!CheckRegularFile(file, error) || !OpenForReading(file, in, error)) {
        return false;
    }
    std::vector<uint8_t> data(count);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(count));
    data.resize(static_cast<size_t>(in.gcount()));
    bytes = std::move(data);
    return true;
}

PathKind GetPathKind(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(fs::u8path(path), ec);
    if (status.type() == fs::file_type::not_found) return PathKind::Missing;
    if (ec) return PathKind::Other;
    if (fs::is_directory(status)) return PathKind::Folder;
    if (fs::is_regular_file(status)) return PathKind::File;
    return PathKind::Other;
}

namespace {

bool ListMatching(const std::string& folder, bool (*wanted)(const std::string&), std::vector<FoundFile>& files,
                  std::string& error) {
    struct Pending {
        fs::path path;
        std::string relative;  // "" for the root, else "a/b/"
    };
    // Paths are given back as the caller wrote the folder, "/"-joined.
    std::string prefix = folder;
    while (prefix.size() > 1 && (prefix.back() == '/' || BaseName(prefix).empty())) prefix.pop_back();
    if (prefix == "/") prefix.clear();
    std::vector<FoundFile> found;
    std::set<fs::path> visited;
    std::deque<Pending> queue{Pending{fs::u8path(folder), ""}};
    std::vector<Entry> entries;
    while (!queue.empty()) {
        const Pending current = std::move(queue.front());
        queue.pop_front();
        std::error_code ec;
        // A folder reached twice (a link loop, or two links to one folder)
        // is read once.
        const fs::path real = fs::canonical(current.path, ec);
        if (!ec && !visited.insert(real).second) continue;
        if (ec || !ReadFolder(current.path, entries, ec)) {
            const std::string where = current.relative.empty()
                                          ? folder
                                          : prefix + "/" + current.relative.substr(0, current.relative.size() - 1);
            error = where + ": " + SystemReason(ec);
            return false;
        }
        for (const Entry& entry : entries) {
            if (IsDotName(entry.name)) continue;
            const std::string relative = current.relative + entry.name;
            std::error_code statusError;
            if (fs::is_directory(entry.path, statusError)) {
                queue.push_back(Pending{entry.path, relative + "/"});
            } else if (wanted(entry.name)) {
                // Anything else with the name (a dangling link, a device) is
                // listed, and refused with its reason when it is read.
                std::string path = prefix;
                path += '/';
                path += relative;
                found.push_back(FoundFile{std::move(path), relative});
            }
        }
    }
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.relative < b.relative; });
    files = std::move(found);
    return true;
}

}  // namespace

bool ListPngFiles(const std::string& folder, std::vector<FoundFile>& files, std::string& error) {
    return ListMatching(folder, HasPngExtension, files, error);
}

bool ListSpriteFiles(const std::string& folder, std::vector<FoundFile>& files, std::string& error) {
    return ListMatching(folder, HasSpriteExtension, files, error);
}

std::string BaseName(const std::string& path) {
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string StripExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash)) {
        return name;
    }
    return name.substr(0, dot);
}

std::string ForwardSlashes(const std::string& path) {
    std::string result = path;
    for (char& c : result) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result;
}

}  // namespace Velmora::Io
