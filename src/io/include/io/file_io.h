// Reading files and listing folders. Paths are UTF-8 strings on every OS
// (wide-character calls on Windows); errors are one lower-case phrase.
#ifndef VELMORA_IO_FILE_IO_H
#define VELMORA_IO_FILE_IO_H

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace Velmora::Io {

// The system's reason for a failure, in words that are the same on every
// OS and language ("no such file or folder", "permission denied"); what
// every message about a file or folder says.
std::string SystemReason(const std::error_code& ec);

// Reads a whole regular file. Refuses (false, `error` set) a missing or
// unreadable path, a folder, and a file larger than `maxBytes`; a file that
// cannot be opened gives the system's reason, as a folder that cannot be
// listed does.
bool ReadFileBytes(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                   std::string& error);

// Reads at most `count` bytes from the start of a regular file (fewer when
// it is shorter), refusing what ReadFileBytes refuses but its size.
bool ReadFileStart(const std::string& path, size_t count, std::vector<uint8_t>& bytes, std::string& error);

// What an INPUT operand is.
enum class PathKind { Missing, File, Folder, Other };
PathKind GetPathKind(const std::string& path);

// One PNG file found under a folder.
struct FoundFile {
    std::string path;      // as openable: folder + "/" + relative
    std::string relative;  // relative to the folder, "/"-separated, UTF-8
};

// Every file under `folder`, recursively, whose name ends in ".png" (any
// case), skipping every file and folder whose name starts with ".". Symlinks
// to folders are followed at most once per real folder, so a loop cannot
// hang it. Sorted bytewise by `relative`. On failure (the folder or a
// sub-folder cannot be read) returns false with `error` naming the path.
bool ListPngFiles(const std::string& folder, std::vector<FoundFile>& files, std::string& error);

// The same, listing layered sprite files (".aseprite", ".ase", any case)
// beside the PNG files.
bool ListSpriteFiles(const std::string& folder, std::vector<FoundFile>& files, std::string& error);

// The file name part of a path ("a/b/c.png" -> "c.png"); both separators on
// Windows.
std::string BaseName(const std::string& path);

// `name` without its last extension ("a/b.c.png" -> "a/b.c"); a leading
// dot or a dot in a folder name is not an extension.
std::string StripExtension(const std::string& name);

// `path` with every backslash turned into "/".
std::string ForwardSlashes(const std::string& path);

}  // namespace Velmora::Io

#endif  // VELMORA_IO_FILE_IO_H
