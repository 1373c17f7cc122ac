// The small file operations the output set, its journal and its lock share:
// exclusive creation, whole writes, flushes to the disk, comparing and
// stamping contents, and the system's reason for a failure in words.
#ifndef VELMORA_IO_FILE_OPS_H
#define VELMORA_IO_FILE_OPS_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace Velmora::Io::FileOps {

namespace fs = std::filesystem;

// Creates `path` for writing only if nothing has that name; -1 with errno
// otherwise.
int CreateExclusive(const fs::path& path);
bool WriteAll(int fd, const uint8_t* data, size_t size);
inline bool WriteAll(int fd, const std::vector<uint8_t>& bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }
// Pushes the file's data to the disk (fsync; FlushFileBuffers on Windows).
bool FlushFile(int fd);
bool CloseFile(int fd);

// Pushes the data of every file written so far on the file systems of
// `folders` to the disk, their folders' entries included. On Linux one
// syncfs per file system, far cheaper than a flush per file for the
// thousands of small files an atlas writes; elsewhere each folder is
// flushed where the system allows it (files were flushed when closed).
bool FlushFolders(const std::vector<fs::path>& folders);
// Whether files are flushed one by one when closed (no FlushFolders that
// covers their data on this system).
bool FlushEachFile();

// Renames `from` to `to` only if nothing has that name (else false with
// `ec` file_exists). Atomic where the system offers it (Linux); elsewhere
// it looks first.
bool RenameNoReplace(const fs::path& from, const fs::path& to, std::error_code& ec);

// What a path names, not following a final symlink.
enum class Kind { Missing, Regular, Symlink, Folder, Other };
Kind KindOf(const fs::path& path);

// Whether `in` goes on with exactly `bytes` (reading them).
bool SameBytes(std::ifstream& in, const uint8_t* bytes, size_t size);
// Whether `target`, of `kind`, is a regular file holding exactly `bytes`.
// Such a file is left alone: no new inode, no rename, and its modification
// time stays, so engines watching the folder do not import it again.
bool HoldsExactly(const fs::path& target, Kind kind, const std::vector<uint8_t>& bytes);

// A file's size and CRC-32, as a manifest records them: a file that still
// has both holds what this program wrote.
class Stamp {
public:
    void Add(const uint8_t* data, size_t size);
    std::string Text() const;

private:
    uint64_t size_ = 0;
    uint32_t crc_ = 0;  // the CRC-32 of no bytes
};
std::string StampOfBytes(const std::vector<uint8_t>& bytes);
// Empty when the file cannot be read to its end.
std::string StampOfFile(const fs::path& path);

// The reason for `ec` in the system's plain words ("permission denied",
// "file name too long", ...): SystemReason (io/file_io.h), folders called
// folders.
std::string Reason(const std::error_code& ec);
inline std::string ErrnoReason(int error) { return Reason(std::error_code(error, std::generic_category())); }

// `path` relative to `folder`, "/"-separated: what
// path.lexically_normal().lexically_relative(folder.lexically_normal())
// gives, found by cutting the folder off where both are plain ("a/b", no
// "." or ".." parts, no doubled or trailing slashes), as the names of a
// set's thousand files are.
std::string RelativeName(const fs::path& path, const fs::path& folder);

// The short hidden name of a temporary or backup for `key` (attempt `n`):
// ".velmora-<16 hex digits>.<suffix>", as long for every target.
std::string SiblingFileName(const std::string& key, int n, const char* suffix);

}  // namespace Velmora::Io::FileOps

#endif  // VELMORA_IO_FILE_OPS_H
