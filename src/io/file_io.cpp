// Files and folders through std::filesystem: u8path/u8string keep names
// UTF-8 in our strings while Windows is called with wide characters. On
// POSIX systems inputs are read with the system calls themselves.
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

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    bool folder = false;  // a folder, or a link to one
};

// One folder's entries, sorted by name so which path reaches a folder first
// (directly or through a link) never depends on directory order.
bool ReadFolder(const fs::path& folder, std::vector<Entry>& entries, std::error_code& ec) {
    entries.clear();
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // The listing tells most entries' type: only links and entries of
        // unknown type cost a look of their own, not one per sprite.
        std::error_code typeError;
        const bool folder = it->is_directory(typeError);
        entries.push_back(Entry{it->path().filename().u8string(), it->path(), folder});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return !ec;
}

}  // namespace

namespace {

// Opening anything but a regular file could block (a pipe), read without
// end (a device) or act on a device: the kind is looked at first.
#ifdef _WIN32
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
#else
std::string ErrnoText(int reason) { return SystemReason(std::error_code(reason, std::generic_category())); }

// A run reads thousands of sprites: one look, one open and, for a whole
// file, one read each, without a stream's buffer between.
bool LookAtRegular(const std::string& path, struct stat& info, std::string& error) {
    if (::stat(path.c_str(), &info) != 0) {
        error = ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "is a folder" : "not a regular file";
        return false;
    }
    return true;
}

// Opens for reading; a pipe that replaced the file since the look still
// never blocks the open.
int OpenForReading(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) error = ErrnoText(errno);
    return fd;
}

// Reads until `want` bytes are in or the file ends; how many, or -1.
ssize_t ReadUpTo(int fd, uint8_t* data, size_t want, size_t enough) {
    size_t done = 0;
    while (done < enough) {
        const ssize_t got = ::read(fd, data + done, want - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}
#endif

}  // namespace

#ifdef _WIN32
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
#else
bool ReadFileBytes(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error) {
    struct stat info {};
    if (!LookAtRegular(path, info, error)) {
        return false;
    }
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > maxBytes) {
        error = "file too large (over " + std::to_string(maxBytes) + " bytes)";
        return false;
    }
    const int fd = OpenForReading(path, error);
    if (fd < 0) {
        return false;
    }
    // One byte more than the size asked for: a file that grew shows it in
    // the same read. A file that changed size while being read is refused
    // rather than taken half-written.
    std::vector<uint8_t> data(static_cast<size_t>(size) + 1);
    const ssize_t got = ReadUpTo(fd, data.data(), data.size(), static_cast<size_t>(size));
    const int reason = errno;
    ::close(fd);
    if (got < 0) {
        error = ErrnoText(reason);
        return false;
    }
    if (static_cast<uint64_t>(got) != size) {
        error = "file changed while being read";
        return false;
    }
    data.pop_back();
    bytes = std::move(data);
    return true;
}

bool ReadFileStart(const std::string& path, size_t count, std::vector<uint8_t>& bytes, std::string& error) {
    struct stat info {};
    if (!LookAtRegular(path, info, error)) {
        return false;
    }
    const int fd = OpenForReading(path, error);
    if (fd < 0) {
        return false;
    }
    std::vector<uint8_t> data(count);
    const ssize_t got = ReadUpTo(fd, data.data(), count, count);
    const int reason = errno;
    ::close(fd);
    if (got < 0) {
        error = ErrnoText(reason);
        return false;
    }
    data.resize(static_cast<size_t>(got));
    bytes = std::move(data);
    return true;
}
#endif

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
            if (entry.folder) {
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
