// The output set, in three steps, each undone on failure:
//
//   1. stage:   create missing folders; write every file to a temporary
//               ".velmora-<hex>.tmp" beside its target, created exclusively
//               so nothing else is ever overwritten;
//   2. commit:  flush the temporaries to the disk; then per file, move an
//               existing target aside to a backup ".velmora-<hex>.old" and
//               rename the temporary into place; flush the folders;
//   3. finish:  remove the backups.
// A target that already holds exactly the new bytes is left as it is.
//
// A set made under an OutputLock keeps a journal of all this (see
// commit_journal.h), so a run killed at any moment is finished or undone by
// the next; and, when it keeps a manifest, it knows which files earlier
// runs wrote for the same name and removes those it no longer writes, in
// the same commit.
//
// Failure in 1 or 2 removes what was placed, renames the backups back,
// removes the temporaries and the folders step 1 created. On POSIX systems
// SIGINT, SIGTERM and SIGHUP are held back while this runs, so an interrupt
// arrives after the set is whole or gone, never half-way.
#include "io/output_set.h"

#include <algorithm>
#include <cstdio>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

#include "commit_journal.h"
#include "file_ops.h"
#include "io/output_lock.h"
#include "support/signals.h"

namespace Velmora::Io {

namespace fs = std::filesystem;

namespace {

using FileOps::HoldsExactly;
using FileOps::Kind;
using FileOps::KindOf;
using FileOps::RelativeName;
using FileOps::SameBytes;
using FileOps::Stamp;
using FileOps::StampOfBytes;
using FileOps::StampOfFile;

struct Staged {
    std::string path;  // as the caller named it, for messages
    fs::path target;
    std::string key;   // the target's normal form: what tells files apart
    bool wasMissing = false;  // nothing had the target's name when staged
    Journal::Move move;  // temp empty until written; backup set at commit
    int fd = -1;         // the temporary, while it is being written in pieces
    std::string stamp;   // the file's Stamp, as the manifest records it
    bool unchanged = false;  // the target already holds exactly these bytes
};


}  // namespace

struct OutputSet::State {
    // Termination waits until the set is whole or gone (on Windows the
    // journal covers console interrupts).
    Support::HeldSignals deferSignals{Support::HeldSignals::Which::Termination};
    const OutputLock* lock = nullptr;
    bool keepsManifest = false;
    Journal::Writer journal;
    std::vector<Staged> items;
    std::vector<Journal::Move> removals;  // stale files of earlier runs
    std::vector<fs::path> prunes;         // their folders, once empty
    std::set<std::string> seen;           // keys
    std::vector<fs::path> createdFolders;
    // Folders this set has seen or made: the next file in one needs no look.
    std::set<std::string> knownFolders;
    std::set<std::string> freshFolders;  // made by this set
    bool committing = false;
    bool finished = false;

    bool Admit(Staged& item, FileOps::Kind& kind, std::string& error);
    bool Record(const std::string& kind, const std::vector<fs::path>& paths, std::string& error);
    bool CreateParents(const Staged& item, std::string& error);
    bool OpenTemporary(Staged& item, bool firstRecorded, std::string& error);
    bool CloseTemporary(Staged& item, std::string& error);
    bool StageFiles(std::vector<OutputFile> files, std::string& error);
    bool AddManifest(std::string& error);
    bool Commit(std::string& error);
    void RollBack();
};

// The checks every staged file passes before anything is written; sets
// the item's key. `kind` is what the target is now.
bool OutputSet::State::Admit(Staged& item, Kind& kind, std::string& error) {
    if (finished || committing) {
        error = item.path + ": the output set is already finished";
        return false;
    }
    if (item.path.empty() || !item.target.has_filename() || item.target.filename() == "." ||
        item.target.filename() == "..") {
        error = item.path + ": not a file name";
        return false;
    }
    item.key = item.target.lexically_normal().generic_u8string();
    if (!seen.insert(item.key).second) {
        error = item.path + ": written twice in one set";
        return false;
    }
    // Nothing is in a folder this set made yet; should something appear,
    // the commit's rename refuses to replace it.
    kind = freshFolders.count(item.target.parent_path().generic_u8string()) != 0 ? Kind::Missing
                                                                                : KindOf(item.target);
    item.wasMissing = kind == Kind::Missing;
    if (kind == Kind::Folder) {
        error = item.path + ": is a folder";
        return false;
    }
    // Devices, pipes and sockets are never replaced by a regular file.
    if (kind == Kind::Other) {
        error = item.path + ": not a regular file";
        return false;
    }
    if (lock != nullptr && !OutputLock::Owns(lock->Base(), RelativeName(item.target, lock->Folder()), false)) {
        error = item.path + ": not one of the files named after " + lock->Base();
        return false;
    }
    return true;
}

// One record of `kind` per path, written at once.
bool OutputSet::State::Record(const std::string& kind, const std::vector<fs::path>& paths, std::string& error) {
    if (lock == nullptr || paths.empty()) return true;
    if (!journal.IsOpen() && !journal.Open(lock->JournalPath(), lock->Folder(), error)) return false;
    if (!journal.AddEach(kind, paths)) {
        error = lock->JournalPath().u8string() + ": " + FileOps::ErrnoReason(errno);
        return false;
    }
    return true;
}

// Creates the missing folders above the target, outermost first.
bool OutputSet::State::CreateParents(const Staged& item, std::string& error) {
    std::vector<fs::path> missing;
    std::error_code ec;
    fs::path folder = item.target.parent_path();
    const std::string known = folder.generic_u8string();
    if (knownFolders.count(known) != 0) return true;
    while (!folder.empty()) {
        const Kind kind = KindOf(folder);
        if (kind != Kind::Missing) {
            if (kind != Kind::Folder && !fs::is_directory(folder, ec)) {
                error = item.path + ": " + folder.u8string() + " is not a folder";
                return false;
            }
            break;
        }
        missing.push_back(folder);
        if (folder == folder.parent_path()) break;
        folder = folder.parent_path();
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!Record("folder", {*it}, error)) return false;
        // "a/.." may exist by the time it is reached: not ours to remove.
        if (fs::create_directory(*it, ec)) {
            createdFolders.push_back(*it);
            freshFolders.insert(it->generic_u8string());
        }
        if (ec) {
            error = item.path + ": cannot create folder " + it->u8string() + ": " + FileOps::Reason(ec);
            return false;
        }
    }
    knownFolders.insert(known);
    return true;
}

fs::path TemporaryName(const Staged& item, int attempt) {
    return item.target.parent_path() / FileOps::SiblingFileName(item.key, attempt, "tmp");
}

// Creates the item's temporary and leaves it open in `item.fd`. With
// `firstRecorded` the journal already names the first name tried, which is
// then created without a look: a leftover of that name can only be one of
// our own temporaries, which a later recovery may remove.
bool OutputSet::State::OpenTemporary(Staged& item, bool firstRecorded, std::string& error) {
    for (int n = 0; n < 100; ++n) {
        const fs::path temp = TemporaryName(item, n);
        if (n > 0 || !firstRecorded) {
            if (KindOf(temp) != Kind::Missing) continue;
            if (!Record("temp", {temp}, error)) return false;
        }
        const int fd = FileOps::CreateExclusive(temp);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            error = item.path + ": " + FileOps::ErrnoReason(errno);
            return false;
        }
        item.move.temp = temp;
        item.fd = fd;
        return true;
    }
    error = item.path + ": cannot create a temporary file";
    return false;
}

bool OutputSet::State::CloseTemporary(Staged& item, std::string& error) {
    const bool flushed = !FileOps::FlushEachFile() || FileOps::FlushFile(item.fd);
    const int flushErrno = errno;
    const bool closed = FileOps::CloseFile(item.fd);
    item.fd = -1;
    if (!flushed || !closed) {
        error = item.path + ": " + FileOps::ErrnoReason(flushed ? errno : flushErrno);
        return false;
    }
    return true;
}

OutputSet::OutputSet() : state_(std::make_unique<State>()) {}

OutputSet::OutputSet(const OutputLock& lock, bool keepsManifest) : state_(std::make_unique<State>()) {
    state_->lock = &lock;
    state_->keepsManifest = keepsManifest;
}

OutputSet::~OutputSet() {
    if (!state_->finished) {
        state_->RollBack();
    }
}

void OutputSet::State::RollBack() {
    if (committing) journal.AddText("rollback\n", true);
    for (auto it = removals.rbegin(); it != removals.rend(); ++it) Journal::Back(*it);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        // Left open only when making its pieces threw.
        if (it->fd >= 0) FileOps::CloseFile(it->fd);
        if (!it->move.temp.empty()) Journal::Back(it->move);
    }
    Journal::RemoveEmptyFolders(createdFolders);
    journal.Remove();
    finished = true;
}

// Every file is admitted and its folders made first, so that one journal
// write names all the temporaries before any is created: an atlas writes a
// thousand small files, and a record apiece cost a tenth of a run.
bool OutputSet::State::StageFiles(std::vector<OutputFile> files, std::string& error) {
    std::vector<Staged> batch(files.size());
    std::vector<fs::path> temporaries;
    for (size_t i = 0; i < files.size(); ++i) {
        Staged& item = batch[i];
        // Kept as written, so messages name folders in the caller's words.
        item.target = fs::u8path(files[i].path);
        item.path = std::move(files[i].path);
        Kind kind = Kind::Missing;
        if (!Admit(item, kind, error)) {
            return false;
        }
        item.move.target = item.target;
        item.unchanged = HoldsExactly(item.target, kind, files[i].bytes);
        item.stamp = StampOfBytes(files[i].bytes);
        if (item.unchanged) continue;
        if (!CreateParents(item, error)) {
            return false;
        }
        temporaries.push_back(TemporaryName(item, 0));
    }
    if (!Record("temp", temporaries, error)) {
        return false;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        Staged& item = batch[i];
        bool written = item.unchanged;
        if (!written && OpenTemporary(item, true, error)) {
            written = FileOps::WriteAll(item.fd, files[i].bytes);
            if (!written) error = item.path + ": " + FileOps::ErrnoReason(errno);
            written = CloseTemporary(item, error) && written;
        }
        items.push_back(std::move(item));
        if (!written) {
            return false;
        }
    }
    return true;
}

bool OutputSet::Stage(OutputFile file, std::string& error) {
    std::vector<OutputFile> files;
    files.push_back(std::move(file));
    return state_->StageFiles(std::move(files), error);
}

bool OutputSet::StageAll(std::vector<OutputFile> files, std::string& error) {
    return state_->StageFiles(std::move(files), error);
}

bool OutputSet::StagePieces(const std::string& path, const NextPiece& next, std::string& error) {
    State& state = *state_;
    Staged item;
    item.target = fs::u8path(path);
    item.path = path;
    Kind kind = Kind::Missing;
    if (!state.Admit(item, kind, error)) {
        return false;
    }
    item.move.target = item.target;
    // The target is compared piece by piece as the temporary is written;
    // if it held exactly these bytes the temporary goes and it stays.
    std::ifstream old;
    if (kind == Kind::Regular) {
        old.open(item.target, std::ios::binary);
    }
    bool same = old.is_open();
    const bool opened = state.CreateParents(item, error) && state.OpenTemporary(item, false, error);
    // Recorded at once, so a failure below removes the temporary.
    state.items.push_back(item);
    Staged& staged = state.items.back();
    if (!opened) {
        return false;
    }
    bool written = true;
    std::vector<uint8_t> piece;
    std::string failure;
    Stamp stamp;
    while (written && next(piece, failure)) {
        written = FileOps::WriteAll(staged.fd, piece);
        if (!written) {
            error = path + ": " + FileOps::ErrnoReason(errno);
        }
        same = same && SameBytes(old, piece.data(), piece.size());
        stamp.Add(piece.data(), piece.size());
    }
    if (written && !failure.empty()) {
        error = path + ": " + failure;
        written = false;
    }
    written = state.CloseTemporary(staged, error) && written;
    if (written && same && old.peek() == std::ifstream::traits_type::eof()) {
        std::error_code ec;
        fs::remove(staged.move.temp, ec);
        if (!ec) {
            staged.move.temp.clear();
            staged.unchanged = true;
        }
    }
    staged.stamp = stamp.Text();
    return written;
}

// The manifest lists every file of the set (relative to the lock's folder)
// with its size and CRC-32. A file an earlier run's manifest
// lists, that this set no longer writes and that still has the size and
// time recorded, is removed in the same commit; nothing else ever is, so a
// user's file, or one of ours the user has since edited, stays.
bool OutputSet::State::AddManifest(std::string& error) {
    const fs::path manifest = lock->ManifestPath();
    const std::string manifestName = RelativeName(manifest, lock->Folder());
    std::map<std::string, std::string> owned;  // name -> stamp
    for (const Staged& item : items) owned[RelativeName(item.target, lock->Folder())] = item.stamp;
    std::ifstream old(manifest, std::ios::binary);
    std::string line;
    std::getline(old, line);  // the heading
    while (std::getline(old, line)) {
        std::istringstream words(line);
        std::string size;
        std::string crc;
        std::string name;
        if (!(words >> size >> crc >> name) || !Journal::Decode(name, name)) continue;
        const fs::path relative = fs::u8path(name);
        const bool plain = !relative.is_absolute() && !relative.has_root_name() &&
                           std::none_of(relative.begin(), relative.end(),
                                        [](const fs::path& part) { return part == ".." || part == "."; });
        const fs::path stale = lock->Folder() / relative;
        std::string recorded = size;
        recorded.append(" ").append(crc);
        if (owned.count(name) != 0 || name == manifestName || !plain ||
            !OutputLock::Owns(lock->Base(), name, false) || KindOf(stale) != Kind::Regular ||
            StampOfFile(stale) != recorded) {
            continue;
        }
        Journal::Move removal;
        removal.target = stale;
        for (int n = 0; n < 100 && removal.backup.empty(); ++n) {
            const fs::path backup = stale.parent_path() / FileOps::SiblingFileName(name, n, "old");
            if (KindOf(backup) == Kind::Missing) removal.backup = backup;
        }
        if (removal.backup.empty()) continue;
        removals.push_back(removal);
        // Its folders go too once empty, up to the lock's folder.
        for (fs::path folder = relative.parent_path(); !folder.empty(); folder = folder.parent_path()) {
            prunes.push_back(lock->Folder() / folder);
        }
    }
    std::string text = "velmora2d manifest 1\n";
    for (const auto& [name, stamp] : owned) {
        if (!stamp.empty()) text += stamp + " " + Journal::Encode(name) + "\n";
    }
    std::vector<OutputFile> files;
    files.push_back(OutputFile{manifest.u8string(), std::vector<uint8_t>(text.begin(), text.end())});
    return StageFiles(std::move(files), error);
}

bool OutputSet::State::Commit(std::string& error) {
    if (finished || committing) {
        error = "the output set is already finished";
        return false;
    }
    if (lock != nullptr && keepsManifest && !AddManifest(error)) {
        return false;
    }
    std::vector<Journal::Move> moves;
    std::vector<fs::path> folders;
    if (lock != nullptr) folders.push_back(lock->Folder());
    for (Staged& item : items) {
        if (item.unchanged) continue;
        // Files come folder by folder: each folder is listed once.
        fs::path folder = item.target.parent_path();
        if (folders.empty() || folders.back().native() != folder.native()) folders.push_back(std::move(folder));
        // A target that was missing when staged is renamed into place only
        // if it still is (Journal::Move::wasMissing): no look needed here.
        item.move.wasMissing = item.wasMissing;
        if (!item.wasMissing && KindOf(item.target) != Kind::Missing) {
            for (int n = 0; n < 100 && item.move.backup.empty(); ++n) {
                const fs::path backup = item.target.parent_path() / FileOps::SiblingFileName(item.key, n, "old");
                if (KindOf(backup) == Kind::Missing) item.move.backup = backup;
            }
            if (item.move.backup.empty()) {
                error = item.path + ": cannot replace file";
                return false;
            }
        }
        moves.push_back(item.move);
    }
    moves.insert(moves.end(), removals.begin(), removals.end());
    // The temporaries' bytes reach the disk before the plan that renames
    // them, and the plan before the first rename.
    if (lock != nullptr) {
        std::string plan = "commit\n";
        for (const Journal::Move& move : moves) {
            plan += "move " + (move.temp.empty() ? std::string("-") : Journal::Encode(journal.Relative(move.temp))) +
                    " " + Journal::Encode(journal.Relative(move.target)) + " " +
                    (move.backup.empty() ? std::string("-") : Journal::Encode(journal.Relative(move.backup))) + "\n";
        }
        for (const fs::path& folder : prunes) plan += "prune " + Journal::Encode(journal.Relative(folder)) + "\n";
        plan += "end\n";
        if (!journal.IsOpen() && !journal.Open(lock->JournalPath(), lock->Folder(), error)) return false;
        if (!FileOps::FlushFolders(folders) || !journal.AddText(plan, true)) {
            error = lock->JournalPath().u8string() + ": " + FileOps::ErrnoReason(errno);
            return false;
        }
    }
    committing = true;
    for (size_t i = 0; i < moves.size(); ++i) {
        std::string why;
        if (!Journal::Forward(moves[i], false, why)) {
            error = moves[i].target.u8string() + ": " + why;
            for (const Staged& item : items) {
                if (item.move.target == moves[i].target) error = item.path + ": " + why;
            }
            return false;  // the destructor undoes it all
        }
    }
    if (lock != nullptr && (!FileOps::FlushFolders(folders) || !journal.AddText("complete\n", false))) {
        error = lock->JournalPath().u8string() + ": " + FileOps::ErrnoReason(errno);
        return false;
    }
    for (const Journal::Move& move : moves) Journal::Finish(move);
    Journal::RemoveEmptyFolders(prunes);
    journal.Remove();
    finished = true;
    return true;
}

bool OutputSet::Commit(std::string& error) { return state_->Commit(error); }

bool CommitOutputs(const std::vector<OutputFile>& files, std::string& error) {
    OutputSet set;
    for (const OutputFile& file : files) {
        if (!set.Stage(file, error)) {
            return false;
        }
    }
    return set.Commit(error);
}

bool CommitOutputs(const OutputLock& lock, const std::vector<OutputFile>& files, std::string& error) {
    OutputSet set(lock, false);
    for (const OutputFile& file : files) {
        if (!set.Stage(file, error)) {
            return false;
        }
    }
    return set.Commit(error);
}

}  // namespace Velmora::Io
