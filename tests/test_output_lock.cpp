// The lock on an output name, the journal that lets the next run finish or
// undo a killed commit, and the manifest that lets a re-pack remove what it
// no longer writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "io/output_lock.h"
#include "io/output_set.h"
#include "support/file_tree.h"

namespace {

using Velmora::Io::OutputFile;
using Velmora::Io::OutputLock;
using Velmora::Io::OutputSet;
using VelmoraTest::ReadText;
using VelmoraTest::TempFolder;
using VelmoraTest::TreeOf;
using VelmoraTest::WriteText;
namespace fs = std::filesystem;

// What a run on "atlas" may write or remove: its own names (pages, scales,
// normal maps, the per-frame folder), never a user's file that only starts
// like them.
TEST(OutputLockOwns, OnlyNamesAfterTheBaseWithItsOwnSuffixes) {
    struct Case {
        const char* relative;
        bool owned;
    };
    const Case cases[] = {
        {"atlas", true},           {"atlas.png", true},         {"atlas_n.png.meta", true},
        {"atlas/hero/walk_0.tres", true}, {".atlas.velmora-manifest", true}, {"atlas-0.png", true},
        {"atlas-12.json", true},   {"atlas-3_n.png", true},     {"atlas.multiatlas.json", true},
        {"atlas@0.5x.png", true},  {"atlas-1@2x_n.png.meta", true}, {"atlas@0.5x/a.tres", true},
        {"atlas@2x", true},        {"atlas-2", true},           {"atlas-", false},
        {"atlas-x.png", false},    {"atlas-1x.png", false},     {"atlas@.png", false},
        {"atlas@2.png", false},    {"atlas@2xy.png", false},    {"atlasy.png", false},
        {"atlas notes.png", false}, {"my-atlas.png", false},    {"other/atlas.png", false},
        {".atlas.velmora-lock", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputLock::Owns("atlas", c.relative, false), c.owned) << c.relative;
    }
}

constexpr const char* kTmpPng = ".velmora-00000000000000a1.tmp";
constexpr const char* kTmpJson = ".velmora-00000000000000a2.tmp";
constexpr const char* kTmpFrame = "atlas/.velmora-00000000000000a3.tmp";
constexpr const char* kOldPng = ".velmora-00000000000000b1.old";
constexpr const char* kOldJson = ".velmora-00000000000000b2.old";
constexpr const char* kOldNormal = ".velmora-00000000000000b3.old";

OutputFile Text(const std::string& path, const std::string& text) {
    return OutputFile{path, std::vector<uint8_t>(text.begin(), text.end())};
}

// The whole tree with every file's bytes, for comparing sets exactly.
std::map<std::string, std::string> Contents(const fs::path& root) {
    std::map<std::string, std::string> contents;
    for (const std::string& entry : TreeOf(root)) {
        contents[entry] = entry.back() == '/' ? "" : ReadText(root / fs::u8path(entry));
    }
    return contents;
}

const std::string kJournalHead = "velmora2d journal 1\nfolder atlas\ntemp .velmora-00000000000000a1.tmp\n"
                                 "temp .velmora-00000000000000a2.tmp\ntemp atlas/.velmora-00000000000000a3.tmp\n";
const std::string kPlan = "commit\n"
                          "move .velmora-00000000000000a1.tmp atlas.png .velmora-00000000000000b1.old\n"
                          "move .velmora-00000000000000a2.tmp atlas.json .velmora-00000000000000b2.old\n"
                          "move atlas/.velmora-00000000000000a3.tmp atlas/a.tres -\n"
                          "move - atlas_n.png .velmora-00000000000000b3.old\n"
                          "end\n";

const std::map<std::string, std::string> kOldSet = {
    {"atlas.png", "old png"}, {"atlas.json", "old json"}, {"atlas_n.png", "old normals"}, {"notes.txt", "mine"}};
const std::map<std::string, std::string> kNewSet = {
    {"atlas.png", "new png"}, {"atlas.json", "new json"}, {"atlas/", ""}, {"atlas/a.tres", "new frame"},
    {"notes.txt", "mine"}};

TEST(Recovery, AKilledRunsOutputsBecomeTheOldOrTheNewSetAndNothingElse) {
    struct Case {
        const char* what;
        std::string journal;
        std::map<std::string, std::string> files;  // besides the journal
        const std::map<std::string, std::string>* expected;
    };
    const std::map<std::string, std::string> staged = {
        {"atlas.png", "old png"}, {"atlas.json", "old json"}, {"atlas_n.png", "old normals"}, {"notes.txt", "mine"},
        {kTmpPng, "new png"}, {kTmpJson, "new json"}, {kTmpFrame, "new frame"}};
    std::map<std::string, std::string> halfway = staged;  // png replaced, json moved aside
    halfway.erase(kTmpPng);
    halfway["atlas.png"] = "new png";
    halfway[kOldPng] = "old png";
    halfway.erase("atlas.json");
    halfway[kOldJson] = "old json";
    std::map<std::string, std::string> placed = halfway;  // every rename done, backups not yet removed
    placed.erase(kTmpJson);
    placed["atlas.json"] = "new json";
    placed.erase(kOldJson);
    placed[kOldJson] = "old json";
    placed.erase(kTmpFrame);
    placed["atlas/a.tres"] = "new frame";
    placed.erase("atlas_n.png");
    placed[kOldNormal] = "old normals";
    std::map<std::string, std::string> cutStaging = staged;  // killed before its last temporary
    cutStaging.erase(kTmpFrame);

    const Case cases[] = {
        {"killed while staging", kJournalHead, staged, &kOldSet},
        {"killed before its last temporary existed", kJournalHead, cutStaging, &kOldSet},
        {"killed with the header half written", "velmora2d jour", {{"atlas.png", "old png"}, {"atlas.json", "old json"},
          {"atlas_n.png", "old normals"}, {"notes.txt", "mine"}}, &kOldSet},
        {"killed while writing the plan", kJournalHead + "commit\nmove .velmora-00000000000000a1.tmp atl", staged,
         &kOldSet},
        {"plan whole, nothing renamed yet", kJournalHead + kPlan, staged, &kNewSet},
        {"killed half-way through the renames", kJournalHead + kPlan, halfway, &kNewSet},
        {"killed before removing the backups", kJournalHead + kPlan, placed, &kNewSet},
        {"complete, killed removing the journal", kJournalHead + kPlan + "complete\n", placed, &kNewSet},
        {"killed while undoing a failed commit", kJournalHead + kPlan + "rollback\n", halfway, &kOldSet},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFolder dir;
        for (const auto& [name, text] : c.files) WriteText(dir / name, text);
        WriteText(dir / ".atlas.velmora-journal", c.journal);
        {
            OutputLock lock;
            std::string error;
            ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
        }
        EXPECT_EQ(Contents(dir.path()), *c.expected);
    }
}

TEST(Recovery, RefusesAJournalThatNamesFilesOutsideItsOutputs) {
    const struct {
        const char* what;
        const char* record;
    } cases[] = {
        {"a temporary in the parent folder", "temp ../.velmora-00000000000000a1.tmp\n"},
        {"a user's file as a temporary", "temp notes.txt\n"},
        {"another prefix's file as a target", "commit\nmove - other.png .velmora-00000000000000b1.old\nend\n"},
        {"an absolute path", "folder /tmp\n"},
        {"an unknown record", "delete notes.txt\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFolder dir;
        WriteText(dir / "notes.txt", "mine");
        WriteText(dir / "other.png", "theirs");
        WriteText(dir / ".atlas.velmora-journal", std::string("velmora2d journal 1\n") + c.record + "folder atlas\n");
        const auto before = Contents(dir.path());
        OutputLock lock;
        std::string error;
        EXPECT_FALSE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error));
        EXPECT_NE(error.find(".atlas.velmora-journal: not a journal this program wrote"), std::string::npos) << error;
        EXPECT_EQ(Contents(dir.path()).count("notes.txt"), 1U);
        EXPECT_EQ(ReadText(dir / "notes.txt"), "mine");
        EXPECT_EQ(ReadText(dir / "other.png"), "theirs");
        EXPECT_EQ(Contents(dir.path()).size(), before.size() + 1) << "only the lock file is new";
    }
}

TEST(OutputLock, ASecondRunOnTheSameNameIsRefusedNamingTheHolder) {
    const TempFolder dir;
    OutputLock first;
    std::string error;
    ASSERT_TRUE(first.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
    EXPECT_EQ(TreeOf(dir.path()), (std::set<std::string>{".atlas.velmora-lock"}));
    {
        OutputLock second;
        EXPECT_FALSE(second.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error));
        const std::string lockPath = (dir.path() / ".atlas.velmora-lock").u8string();
        EXPECT_EQ(error.rfind(lockPath + ": locked by process ", 0), 0U) << error;
        EXPECT_NE(error.find(" on "), std::string::npos) << "the holder's host: " << error;
        EXPECT_NE(error.find("another run writing " + dir.Str("atlas")), std::string::npos) << error;
    }
    OutputLock other;
    EXPECT_TRUE(other.Acquire(dir.Str("other"), OutputLock::Scope::Prefix, error)) << "names lock apart: " << error;
}

TEST(OutputLock, IsReleasedWithItsFileAndALeftOverFileIsTakenOver) {
    const TempFolder dir;
    std::string error;
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
    }
    EXPECT_TRUE(TreeOf(dir.path()).empty()) << "the lock file goes with the lock";
    // What a killed run leaves: the file, with nobody holding it.
    WriteText(dir / ".atlas.velmora-lock", "4000000 on elsewhere\n");
    OutputLock lock;
    EXPECT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
}

TEST(OutputLock, CreatesTheOutputFolderAndRemovesItWhenNothingWasWritten) {
    const TempFolder dir;
    std::string error;
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("new/deeper/atlas"), OutputLock::Scope::Prefix, error)) << error;
        EXPECT_TRUE(fs::is_directory(dir / "new/deeper"));
    }
    EXPECT_TRUE(TreeOf(dir.path()).empty()) << "a failed run leaves no folder behind";
}

TEST(OutputLock, ASingleOutputMustBeARegularFileOrAbsent) {
    const TempFolder dir;
    fs::create_directory(dir / "folder.png");
    WriteText(dir / "plain.png", "x");
    struct Case {
        const char* name;
        const char* message;  // empty: accepted
    };
    std::vector<Case> cases = {{"folder.png", ": is a folder"}, {"plain.png", ""}, {"absent.png", ""}};
#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    cases.push_back({"pipe.png", ": not a regular file"});
#endif
    for (const Case& c : cases) {
        OutputLock lock;
        std::string error;
        const bool taken = lock.Acquire(dir.Str(c.name), OutputLock::Scope::File, error);
        EXPECT_EQ(taken, std::string(c.message).empty()) << c.name << ": " << error;
        if (!taken) {
            EXPECT_EQ(error, dir.Str(c.name) + c.message);
            EXPECT_EQ(fs::exists(dir / (std::string(".") + c.name + ".velmora-lock")), false) << "refused first";
        }
    }
#ifndef _WIN32
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.png"));
#endif
    EXPECT_TRUE(fs::is_directory(dir / "folder.png"));
}

// Commits a set of (relative path, text) under `lock`; false with `error`.
bool CommitUnder(const OutputLock& lock, const TempFolder& dir, const std::map<std::string, std::string>& files,
                 std::string& error) {
    OutputSet set(lock, true);
    for (const auto& [name, text] : files) {
        if (!set.Stage(Text(dir.Str(name), text), error)) return false;
    }
    return set.Commit(error);
}

TEST(Manifest, ARepackRemovesWhatItNoLongerWritesAndNothingItNeverWrote) {
    const TempFolder dir;
    WriteText(dir / "atlas/mine.txt", "a user's note inside the prefix folder");
    std::string error;
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
        ASSERT_TRUE(CommitUnder(lock, dir,
                                {{"atlas.png", "1"}, {"atlas_n.png", "n"}, {"atlas_n.png.meta", "m"},
                                 {"atlas/a.tres", "a"}, {"atlas/gone/b.tres", "b"}, {"atlas/gone/deeper/c.tres", "c"}},
                                error))
            << error;
    }
    // Size and CRC-32 of each file, sorted bytewise by name.
    const std::string manifest = ReadText(dir / ".atlas.velmora-manifest");
    EXPECT_EQ(manifest,
              "velmora2d manifest 1\n1 83dcefb7 atlas.png\n1 e8b7be43 atlas/a.tres\n1 71beeff9 atlas/gone/b.tres\n"
              "1 06b9df6f atlas/gone/deeper/c.tres\n1 7808a3d2 atlas_n.png\n1 e101f268 atlas_n.png.meta\n");
    // A file of ours the user has since edited is theirs now; a user's file
    // the manifest is edited to name, with a stamp it does not have, too;
    // and a path leaving the folder is never followed.
    WriteText(dir / "atlas_n.png.meta", "edited by hand");
    WriteText(dir / "atlas_backup.png", "a user's file named like ours");
    WriteText(dir.path().parent_path() / "outside.txt", "n");
    WriteText(dir / "other.png", "n");
    WriteText(dir / ".atlas.velmora-manifest",
              manifest + "5 00000000 atlas_backup.png\n1 7808a3d2 ../outside.txt\n1 7808a3d2 other.png\n");
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
        ASSERT_TRUE(CommitUnder(lock, dir, {{"atlas.png", "2"}, {"atlas/a.tres", "a"}}, error)) << error;
    }
    EXPECT_EQ(TreeOf(dir.path()),
              (std::set<std::string>{".atlas.velmora-manifest", "atlas.png", "atlas/", "atlas/a.tres", "atlas/mine.txt",
                                     "atlas_backup.png", "atlas_n.png.meta", "other.png"}))
        << "atlas_n.png and the emptied folders went; everything else stayed";
    EXPECT_EQ(ReadText(dir.path().parent_path() / "outside.txt"), "n");
    fs::remove(dir.path().parent_path() / "outside.txt");
    EXPECT_EQ(ReadText(dir / ".atlas.velmora-manifest"),
              "velmora2d manifest 1\n1 1ad5be0d atlas.png\n1 e8b7be43 atlas/a.tres\n");
}

TEST(Manifest, AFailedRepackRemovesNothing) {
    const TempFolder dir;
    std::string error;
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
        ASSERT_TRUE(CommitUnder(lock, dir, {{"atlas.png", "1"}, {"atlas/a.tres", "a"}, {"atlas/b.tres", "b"}}, error))
            << error;
    }
    const auto before = Contents(dir.path());
    fs::create_directory(dir / "atlas/c.tres");  // in the way of the new set's third file
    {
        OutputLock lock;
        ASSERT_TRUE(lock.Acquire(dir.Str("atlas"), OutputLock::Scope::Prefix, error)) << error;
        EXPECT_FALSE(CommitUnder(lock, dir, {{"atlas.png", "2"}, {"atlas/c.tres", "c"}}, error));
    }
    fs::remove(dir / "atlas/c.tres");
    EXPECT_EQ(Contents(dir.path()), before) << "atlas/a.tres and b.tres are still there, atlas.png is old";
}

}  // namespace
