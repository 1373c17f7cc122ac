// An all-or-nothing set of output files, committed the way git replaces a
// file: each is written to a temporary file beside its target, and only when
// every one is complete are they renamed into place. On any failure nothing
// is created or changed: temporaries are removed, targets already replaced
// are restored, folders created for the set are removed again.
#ifndef VELMORA_IO_OUTPUT_SET_H
#define VELMORA_IO_OUTPUT_SET_H

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora::Io {

struct OutputFile {
    std::string path;  // UTF-8; missing parent folders are created
    std::vector<uint8_t> bytes;
};

// Writes every file or none. Returns false with `error` as one line
// "PATH: reason" naming the file that failed.
bool CommitOutputs(const std::vector<OutputFile>& files, std::string& error);

}  // namespace Velmora::Io

#endif  // VELMORA_IO_OUTPUT_SET_H
