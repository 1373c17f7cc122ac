// The journal of an output set: what a run staged and what its commit
// does, written before it is done, so the next run on the same outputs can
// finish or undo a commit that a kill or a power cut interrupted.
//
// A journal is a text file beside the outputs, one record a line, paths
// relative to its folder (bytes below '!', '%' and DEL as %XX):
//   velmora2d journal 1
//   folder PATH            a folder the run created (before creating it)
//   temp PATH              a temporary the run wrote (before creating it)
//   commit                 the plan follows ...
//   move TEMP TARGET BACKUP   TEMP into place, an old TARGET kept as BACKUP
//                             until the end ("-": none)
//   prune PATH             a folder to remove once empty
//   end                    ... the plan is whole and flushed: renames begin
//   rollback               the commit is being undone
//   complete               every file is in place and flushed
#ifndef VELMORA_IO_COMMIT_JOURNAL_H
#define VELMORA_IO_COMMIT_JOURNAL_H

#include <filesystem>
#include <string>
#include <vector>

namespace Velmora::Io::Journal {

namespace fs = std::filesystem;

// One file's part of a commit. Every step is a rename or a removal that
// can be repeated, so Forward and Back each bring a move, from any state a
// kill can leave it in, to its end: new file in place (backup kept until
// Finish) or old file back.
struct Move {
    fs::path temp;    // empty: the target is removed, not replaced
    fs::path target;
    fs::path backup;  // empty: there is no old target
    // Nothing had the target's name when the run began: a commit in
    // progress refuses to put the temporary over a file that has appeared
    // since. (Not recorded: a resumed commit replaces what it finds.)
    bool wasMissing = false;
};
// Resuming a commit an earlier run began, steps already taken are skipped.
bool Forward(const Move& move, bool resuming, std::string& error);
void Back(const Move& move);
void Finish(const Move& move);

// Removes each folder that is empty, deepest first; never one that is not.
void RemoveEmptyFolders(std::vector<fs::path> folders);

// What a journal holds, paths joined to its folder.
struct Record {
    std::vector<fs::path> folders;
    std::vector<fs::path> temps;
    std::vector<Move> moves;
    std::vector<fs::path> prunes;
    bool planned = false;     // "end" seen
    bool rollingBack = false;
    bool complete = false;
};

// Reads the journal at `path` (in `folder`). Refuses (false, `error`) one
// whose paths leave the outputs it may touch: those named by `owns`.
using Owns = bool (*)(const std::string& base, const std::string& relative, bool temporary);
bool Read(const fs::path& path, const fs::path& folder, const std::string& base, Owns owns, Record& record,
          std::string& error);

// Brings the outputs of an interrupted run to a whole set: forward when its
// plan was whole and not being undone, else back; removes its temporaries,
// backups and the folders it created, then the journal.
bool Recover(const fs::path& path, const Record& record, std::string& error);

// Appending records while a run stages and commits.
class Writer {
public:
    Writer() = default;
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool Open(const fs::path& path, const fs::path& folder, std::string& error);
    bool IsOpen() const { return fd_ >= 0; }
    // Appends a record; with `flush`, waits until it is on the disk.
    bool Add(const std::string& kind, const std::vector<fs::path>& paths, bool flush = false);
    // One record of `kind` for each of `paths`, in one write.
    bool AddEach(const std::string& kind, const std::vector<fs::path>& paths);
    bool AddText(const std::string& text, bool flush);
    // Closes and removes the journal: the set is whole.
    void Remove();
    std::string Relative(const fs::path& path) const;

private:
    int fd_ = -1;
    fs::path path_;
    fs::path folder_;
};

std::string Encode(const std::string& path);
bool Decode(const std::string& text, std::string& out);

}  // namespace Velmora::Io::Journal

#endif  // VELMORA_IO_COMMIT_JOURNAL_H
