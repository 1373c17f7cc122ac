// The lock on everything one run writes under one name: an atlas PREFIX
// (PREFIX.*, PREFIX_n.*, PREFIX/...) or a single output file. Taken before
// anything is read or written, held to the end of the run. Taking it first
// finishes or undoes whatever an earlier run on the same name left
// half-done (see commit_journal.h), so each run starts from a whole set.
//
// The lock is a hidden file ".NAME.velmora-lock" beside the outputs, held
// by the operating system for as long as the holding process lives (flock
// on POSIX systems, an unshared open handle on Windows): a run that is
// killed, however, releases it, and the next run takes it over. The file
// names its holder (process id and host) for the message a second run
// gives.
#ifndef VELMORA_IO_OUTPUT_LOCK_H
#define VELMORA_IO_OUTPUT_LOCK_H

#include <filesystem>
#include <memory>
#include <string>

namespace Velmora::Io {

class OutputLock {
public:
    enum class Scope {
        Prefix,  // an atlas PREFIX and everything named after it
        File,    // one output file, which must be a regular file if it exists
    };

    OutputLock();
    ~OutputLock();  // releases the lock and removes its file
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

    // Takes the lock for `name` and recovers an interrupted commit. False
    // with `error` as one line "PATH: reason" (held by another run, not a
    // regular file, cannot be created, a journal it cannot trust).
    bool Acquire(const std::string& name, Scope scope, std::string& error);

    // Where the outputs live, their base name, and the files kept for them.
    const std::filesystem::path& Folder() const;
    const std::string& Base() const;
    std::filesystem::path JournalPath() const;
    std::filesystem::path ManifestPath() const;

    // Whether `relative` (to Folder(), "/"-separated) may be touched by
    // runs on `base`: the outputs named after it, or a temporary.
    static bool Owns(const std::string& base, const std::string& relative, bool temporary);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Velmora::Io

#endif  // VELMORA_IO_OUTPUT_LOCK_H
