// An all-or-nothing set of output files, committed the way git replaces a
// file: each is written to a temporary file beside its target, and only when
// every one is complete are they renamed into place. On any failure nothing
// is created or changed: temporaries are removed, targets already replaced
// are restored, folders created for the set are removed again.
#ifndef VELMORA_IO_OUTPUT_SET_H
#define VELMORA_IO_OUTPUT_SET_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Velmora::Io {

struct OutputFile {
    std::string path;  // UTF-8; missing parent folders are created
    std::vector<uint8_t> bytes;
};

// The same, built up file by file so the writing of temporaries can overlap
// other work (encoding an image, say): Stage writes a file's temporary at
// once; Commit puts every staged file in place. A set destroyed before a
// successful Commit (a failed Stage or Commit included) undoes everything.
// Termination signals are held back for the set's lifetime in the thread
// that creates it and in threads started while it lives, so an interrupt
// arrives after the set is whole or gone.
class OutputLock;

class OutputSet {
public:
    OutputSet();
    // A set under `lock`: journalled, so a kill at any moment is finished
    // or undone by the next run; with `keepsManifest` it also records its
    // files and removes those of earlier runs it no longer writes. Every
    // file must be named after the lock's name.
    OutputSet(const OutputLock& lock, bool keepsManifest);
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // False with `error` ("PATH: reason") when the file cannot be staged.
    bool Stage(OutputFile file, std::string& error);
    // Stages every file, as Stage one by one would, in fewer steps.
    bool StageAll(std::vector<OutputFile> files, std::string& error);
    // Stages a file whose bytes are produced in pieces, in order, so a
    // large one is written while the rest is still being made: `next` fills
    // `piece` and returns true until the file is complete, then returns
    // false; a reason it sets in `failure` fails the staging with it.
    using NextPiece = std::function<bool(std::vector<uint8_t>& piece, std::string& failure)>;
    bool StagePieces(const std::string& path, const NextPiece& next, std::string& error);
    bool Commit(std::string& error);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Writes every file or none. Returns false with `error` as one line
// "PATH: reason" naming the file that failed.
bool CommitOutputs(const std::vector<OutputFile>& files, std::string& error);
bool CommitOutputs(const OutputLock& lock, const std::vector<OutputFile>& files, std::string& error);

}  // namespace Velmora::Io

#endif  // VELMORA_IO_OUTPUT_SET_H
