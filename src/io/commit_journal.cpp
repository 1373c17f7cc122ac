#include "commit_journal.h"

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include "file_ops.h"

namespace Velmora::Io::Journal {

namespace {

using FileOps::Kind;
using FileOps::KindOf;

constexpr const char* kHeader = "velmora2d journal 1";

bool Exists(const fs::path& path) { return KindOf(path) != Kind::Missing; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool Decode(const std::string& text, std::string& decoded) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    decoded = out;
    return true;
}

namespace {

// A path a journal may name: relative, inside its folder, no "." or "..".
bool Plain(const fs::path& path) {
    if (path.empty() || path.has_root_name() || path.has_root_directory()) return false;
    return std::none_of(path.begin(), path.end(), [](const fs::path& part) {
        const std::string name = part.u8string();
        return name.empty() || name == "." || name == "..";
    });
}

}  // namespace

std::string Encode(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == '%' || byte == 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

bool Forward(const Move& move, bool resuming, std::string& error) {
    std::error_code ec;
    // Resuming, a step already taken is skipped: no temporary left means
    // the new file is in place, a backup present means the old one is
    // aside. A commit in progress takes every step, so a file that
    // vanished under it is an error, not something done.
    const bool temporary = !move.temp.empty() && (!resuming || Exists(move.temp));
    if (!move.backup.empty() && (move.temp.empty() || temporary) &&
        (!resuming || (Exists(move.target) && !Exists(move.backup)))) {
        fs::rename(move.target, move.backup, ec);
        if (ec) {
            error = "cannot replace file: " + FileOps::Reason(ec);
            return false;
        }
    }
    if (temporary) {
        if (move.wasMissing && !resuming) {
            if (!FileOps::RenameNoReplace(move.temp, move.target, ec) && ec == std::errc::file_exists) {
                error = "another program created it while this run was writing";
                return false;
            }
        } else {
            fs::rename(move.temp, move.target, ec);
        }
        if (ec) {
            error = FileOps::Reason(ec);
            return false;
        }
    }
    return true;
}

void Back(const Move& move) {
    std::error_code ec;
    // No temporary left means the new file is in place: it goes.
    if (!move.temp.empty() && !Exists(move.temp) && Exists(move.target)) {
        fs::remove(move.target, ec);
    }
    if (!move.backup.empty() && Exists(move.backup)) {
        if (Exists(move.target)) fs::remove(move.target, ec);
        fs::rename(move.backup, move.target, ec);
    }
    if (!move.temp.empty()) fs::remove(move.temp, ec);
}

void Finish(const Move& move) {
    std::error_code ec;
    if (!move.backup.empty()) fs::remove(move.backup, ec);
}

void RemoveEmptyFolders(std::vector<fs::path> folders) {
    // Deepest first: a folder's own folders go before it.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
    });
    std::error_code ec;
    for (const fs::path& folder : folders) {
        if (KindOf(folder) == Kind::Folder && fs::is_empty(folder, ec) && !ec) fs::remove(folder, ec);
    }
}

bool Read(const fs::path& path, const fs::path& folder, const std::string& base, Owns owns, Record& record,
          std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path.u8string() + ": cannot read the journal of an earlier run";
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        error = path.u8string() + ": not a journal this program wrote (" + why + "); nothing was changed";
        return false;
    };
    std::ostringstream whole;
    whole << in.rdbuf();
    std::string text = whole.str();
    // A last line without its line feed was cut short by a kill: every
    // record is written whole before anything it names is touched.
    text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) {
        // Killed while writing its first line: the run wrote nothing yet.
        if (text.empty()) return true;
        return refuse("unknown first line");
    }
    bool inPlan = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        std::vector<fs::path> paths;
        std::string word;
        while (words >> word) {
            std::string decoded;
            if (word == "-") {
                paths.emplace_back();
                continue;
            }
            if (!Decode(word, decoded)) return refuse("bad path");
            const fs::path relative = fs::u8path(decoded);
            const bool temporary = kind == "temp" || (kind == "move" && paths.size() != 1);
            if (!Plain(relative) || !owns(base, decoded, temporary)) return refuse("path outside its outputs");
            paths.push_back(folder / relative);
        }
        if (kind == "folder" && paths.size() == 1) {
            record.folders.push_back(paths[0]);
        } else if (kind == "temp" && paths.size() == 1) {
            record.temps.push_back(paths[0]);
        } else if (kind == "commit" && paths.empty()) {
            inPlan = true;
        } else if (kind == "move" && paths.size() == 3 && inPlan && !paths[1].empty()) {
            record.moves.push_back(Move{paths[0], paths[1], paths[2]});
        } else if (kind == "prune" && paths.size() == 1 && inPlan) {
            record.prunes.push_back(paths[0]);
        } else if (kind == "end" && inPlan) {
            record.planned = true;
            inPlan = false;
        } else if (kind == "rollback" && record.planned) {
            record.rollingBack = true;
        } else if (kind == "complete" && record.planned) {
            record.complete = true;
        } else {
            return refuse("unknown record");
        }
    }
    return true;
}

bool Recover(const fs::path& path, const Record& record, std::string& error) {
    std::error_code ec;
    if (record.planned && !record.rollingBack) {
        for (const Move& move : record.moves) {
            std::string why;
            if (!Forward(move, true, why)) {
                error = move.target.u8string() + ": cannot finish an interrupted commit: " + why;
                return false;
            }
        }
        std::vector<fs::path> folders;
        for (const Move& move : record.moves) folders.push_back(move.target.parent_path());
        FileOps::FlushFolders(folders);
        for (const Move& move : record.moves) Finish(move);
        RemoveEmptyFolders(record.prunes);
    } else {
        for (auto it = record.moves.rbegin(); it != record.moves.rend(); ++it) Back(*it);
        for (const fs::path& temp : record.temps) {
            if (KindOf(temp) == Kind::Regular) fs::remove(temp, ec);
        }
        RemoveEmptyFolders(record.folders);
    }
    fs::remove(path, ec);
    if (ec) {
        error = path.u8string() + ": cannot remove the journal of an earlier run: " + FileOps::Reason(ec);
        return false;
    }
    return true;
}

Writer::~Writer() {
    if (fd_ >= 0) FileOps::CloseFile(fd_);
}

bool Writer::Open(const fs::path& path, const fs::path& folder, std::string& error) {
    fd_ = FileOps::CreateExclusive(path);
    if (fd_ < 0) {
        error = path.u8string() + ": " + FileOps::ErrnoReason(errno);
        return false;
    }
    path_ = path;
    folder_ = folder;
    if (!AddText(std::string(kHeader) + "\n", false)) {
        error = path.u8string() + ": " + FileOps::ErrnoReason(errno);
        return false;
    }
    return true;
}

bool Writer::AddText(const std::string& text, bool flush) {
    if (fd_ < 0) return true;
    const bool wrote = FileOps::WriteAll(fd_, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return wrote && (!flush || FileOps::FlushFile(fd_));
}

bool Writer::Add(const std::string& kind, const std::vector<fs::path>& paths, bool flush) {
    std::string line = kind;
    for (const fs::path& path : paths) {
        line += ' ';
        line += path.empty() ? "-" : Encode(Relative(path));
    }
    line += '\n';
    return AddText(line, flush);
}

bool Writer::AddEach(const std::string& kind, const std::vector<fs::path>& paths) {
    std::string text;
    for (const fs::path& path : paths) {
        text += kind;
        text += ' ';
        text += Encode(Relative(path));
        text += '\n';
    }
    return AddText(text, false);
}

std::string Writer::Relative(const fs::path& path) const {
    return FileOps::RelativeName(path, folder_);
}

void Writer::Remove() {
    if (fd_ < 0) return;
    FileOps::CloseFile(fd_);
    fd_ = -1;
    std::error_code ec;
    fs::remove(path_, ec);
}

}  // namespace Velmora::Io::Journal
