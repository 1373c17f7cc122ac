#include "file_ops.h"

#include "io/file_io.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <set>

#include <libdeflate.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Velmora::Io::FileOps {

int CreateExclusive(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const size_t chunk = std::min<size_t>(size - done, size_t{1} << 30);
#ifdef _WIN32
        const int wrote = _write(fd, data + done, static_cast<unsigned>(chunk));
#else
        const ssize_t wrote = write(fd, data + done, chunk);
        if (wrote < 0 && errno == EINTR) continue;
#endif
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

bool FlushFile(int fd) {
#ifdef _WIN32
    return _commit(fd) == 0;
#else
    return fsync(fd) == 0;
#endif
}

bool CloseFile(int fd) {
#ifdef _WIN32
    return _close(fd) == 0;
#else
    return close(fd) == 0;
#endif
}

bool FlushEachFile() {
#ifdef __linux__
    return false;
#else
    return true;
#endif
}

bool FlushFolders(const std::vector<fs::path>& folders) {
#ifdef _WIN32
    // NTFS keeps its folder entries in its own journal; files were flushed
    // as they were closed.
    (void)folders;
    return true;
#else
    bool ok = true;
    std::set<dev_t> synced;
    // Thousands of files share a few folders: each is opened once.
    const std::set<fs::path> distinct(folders.begin(), folders.end());
    for (const fs::path& folder : distinct) {
        const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
        if (fd < 0) {
            ok = false;
            continue;
        }
#ifdef __linux__
        struct stat info {};
        if (fstat(fd, &info) == 0 && synced.insert(info.st_dev).second) {
            ok = syncfs(fd) == 0 && ok;
        }
#else
        ok = fsync(fd) == 0 && ok;
#endif
        close(fd);
    }
    return ok;
#endif
}

bool RenameNoReplace(const fs::path& from, const fs::path& to, std::error_code& ec) {
    ec.clear();
#ifdef __linux__
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    // File systems without the flag say EINVAL: they take the look below.
    if (errno != EINVAL && errno != ENOSYS) {
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
#endif
    if (KindOf(to) != Kind::Missing) {
        ec = std::make_error_code(std::errc::file_exists);
        return false;
    }
    fs::rename(from, to, ec);
    return !ec;
}

Kind KindOf(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    switch (status.type()) {
    case fs::file_type::not_found:
        return Kind::Missing;
    case fs::file_type::regular:
        return Kind::Regular;
    case fs::file_type::symlink:
        return Kind::Symlink;
    case fs::file_type::directory:
        return Kind::Folder;
    default:
        return ec ? Kind::Missing : Kind::Other;
    }
}

bool SameBytes(std::ifstream& in, const uint8_t* bytes, size_t size) {
    std::vector<char> held(size);
    return static_cast<bool>(in.read(held.data(), static_cast<std::streamsize>(size))) &&
           std::equal(held.begin(), held.end(), bytes, [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

bool HoldsExactly(const fs::path& target, Kind kind, const std::vector<uint8_t>& bytes) {
    std::error_code ec;
    if (kind != Kind::Regular || fs::file_size(target, ec) != bytes.size() || ec) {
        return false;
    }
    std::ifstream in(target, std::ios::binary);
    return bytes.empty() ? in.good() : SameBytes(in, bytes.data(), bytes.size());
}

void Stamp::Add(const uint8_t* data, size_t size) {
    size_ += size;
    crc_ = libdeflate_crc32(crc_, data, size);
}

std::string Stamp::Text() const {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(crc_));
    return std::to_string(size_) + " " + crc;
}

std::string StampOfBytes(const std::vector<uint8_t>& bytes) {
    Stamp stamp;
    stamp.Add(bytes.data(), bytes.size());
    return stamp.Text();
}

std::string StampOfFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    Stamp stamp;
    std::vector<char> buffer(size_t{1} << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        stamp.Add(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(in.gcount()));
    }
    return in.eof() ? stamp.Text() : "";
}

std::string Reason(const std::error_code& ec) {
    // The system's own words, with "folder" as everywhere else in messages.
    if (ec == std::errc::operation_not_permitted) return "permission denied";
    if (ec == std::errc::is_a_directory) return "is a folder";
    return SystemReason(ec);
}

namespace {

// Parts joined by single slashes, none of them "." or "..": already
// lexically normal. An empty text is not plain.
bool Plain(const std::string& text, size_t from) {
    if (from >= text.size()) return false;
    for (size_t start = from; start <= text.size();) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        const size_t length = end - start;
        if (length == 0 || (length == 1 && text[start] == '.') ||
            (length == 2 && text[start] == '.' && text[start + 1] == '.')) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

std::string RelativeName(const fs::path& path, const fs::path& folder) {
    std::string whole = path.generic_u8string();
    const std::string base = folder.generic_u8string();
    if (!path.has_root_name() && !folder.has_root_name()) {
        if (base.empty() || base == ".") {
            if (Plain(whole, 0)) return whole;
        } else if (whole.size() > base.size() + 1 && whole.compare(0, base.size(), base) == 0 &&
                   whole[base.size()] == '/' && Plain(base, base[0] == '/' ? 1 : 0) &&
                   Plain(whole, base.size() + 1)) {
            return whole.substr(base.size() + 1);
        }
    }
    return path.lexically_normal().lexically_relative(folder.lexically_normal()).generic_u8string();
}

std::string SiblingFileName(const std::string& key, int n, const char* suffix) {
    // FNV-1a: short names that differ per target, the same on every run.
    uint64_t hash = 14695981039346656037ULL;
    const std::string text = key + '\n' + std::to_string(n);
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(".velmora-") + digits + "." + suffix;
}

}  // namespace Velmora::Io::FileOps
