// Per-frame file paths: every byte or name some system or Godot misreads is
// escaped, nothing else changes, and no two names share a path, even on a
// file system that ignores case.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "formats/frame_files.h"

namespace {

using Velmora::Formats::FrameFilePath;

struct Case {
    std::string name;
    std::string path;
};

void ExpectPaths(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(FrameFilePath(c.name), c.path) << "name '" << c.name << "'";
    }
}

TEST(FrameFilePath, EscapesEveryCharacterSomeSystemOrGodotReadsAsSyntax) {
    ExpectPaths({
        {"a\\b", "a+5Cb"},  // Godot and Windows: a folder separator
        {"a:b", "a+3Ab"},   // Windows, macOS; Godot's "::" sub-resources
        {"a*b", "a+2Ab"},
        {"a?b", "a+3Fb"},
        {"a\"b", "a+22b"},
        {"a<b", "a+3Cb"},
        {"a>b", "a+3Eb"},
        {"a|b", "a+7Cb"},
        {"100%", "100+25"},  // refused by Godot's editor
        {"a+b", "a+2Bb"},    // the escape itself
        {"++", "+2B+2B"},
        {"quote\"and\\slash", "quote+22and+5Cslash"},
        {"\\\\server\\share", "+5C+5Cserver+5Cshare"},
        {"c:/x", "c+3A/x"},
    });
}

TEST(FrameFilePath, EscapesControlBytes) {
    ExpectPaths({
        {std::string("a\0b", 3), "a+00b"},
        {"\x01", "+01"},
        {"tab\there", "tab+09here"},
        {"line\nbreak\r", "line+0Abreak+0D"},
        {"\x1F\x20\x21", "+1F !"},  // a space and '!' inside are kept
        {"del\x7F", "del+7F"},
    });
}

TEST(FrameFilePath, EscapesDotsAndSpacesAtEitherEndOfEachPart) {
    ExpectPaths({
        {"walk.", "walk+2E"},
        {"walk ", "walk+20"},
        {"walk. ", "walk.+20"},
        {"walk..", "walk.+2E"},
        {".hidden", "+2Ehidden"},
        {" lead", "+20lead"},
        {".", "+2E"},
        {"..", "+2E+2E"},
        {"...", "+2E.+2E"},
        {" ", "+20"},
        {"../x", "+2E+2E/x"},
        {"a/./b", "a/+2E/b"},
        {"dir./walk_0", "dir+2E/walk_0"},
        {" dir /x", "+20dir+20/x"},
        {"a.b c", "a.b c"},  // inside a part, dots and spaces stay
        {"x.png", "x.png"},
    });
}

TEST(FrameFilePath, EscapesWindowsDeviceNamesInAnyCaseAndWithAnyExtension) {
    ExpectPaths({
        {"CON", "+43ON"},
        {"con", "+63on"},
        {"Con.txt", "+43on.txt"},
        {"nul.tar.gz", "+6Eul.tar.gz"},
        {"NUL .txt", "+4EUL .txt"},
        {"AUX ", "+41UX+20"},
        {"prn", "+70rn"},
        {"PRN.", "+50RN+2E"},
        {"COM1", "+43OM1"},
        {"com0", "+63om0"},
        {"lpt9", "+6Cpt9"},
        {"LPT5.png", "+4CPT5.png"},
        {"COM\xC2\xB9", "+43OM\xC2\xB9"},
        {"lpt\xC2\xB3.x", "+6Cpt\xC2\xB3.x"},
        {"conin$", "+63onin$"},
        {"CONOUT$", "+43ONOUT$"},
        {"a/con", "a/+63on"},
        {"con/a", "+63on/a"},
        {"aux/nul/x", "+61ux/+6Eul/x"},
        // Not devices: longer, shorter, other digits, or other text.
        {"CONSOLE", "CONSOLE"},
        {"icon", "icon"},
        {"nul_1", "nul_1"},
        {"COM10", "COM10"},
        {"COM", "COM"},
        {"LPT", "LPT"},
        {"com1x", "com1x"},
        {"COM\xC2\xB4", "COM\xC2\xB4"},
        {"xcon", "xcon"},
        {" con", "+20con"},
    });
}

TEST(FrameFilePath, KeepsFoldersFromTakingAFrameFilesName) {
    // "a" writes PREFIX/a.tres; a folder of that name would be one path.
    ExpectPaths({
        {"a.tres/b", "a+2Etres/b"},
        {"a.TSCN/b", "a+2ETSCN/b"},
        {"x/y.Tres/z", "x/y+2ETres/z"},
        {"a.tres", "a.tres"},  // the last part is a file name before ".tres"
        {".tres/b", "+2Etres/b"},
        {"a.tresx/b", "a.tresx/b"},
        {"atres/b", "atres/b"},
    });
}

TEST(FrameFilePath, EscapesSlashesThatWouldLeaveAPartEmpty) {
    ExpectPaths({
        {"", "+"},
        {"/", "+2F"},
        {"/a", "+2Fa"},
        {"a/", "a+2F"},
        {"a//b", "a/+2Fb"},
        {"a///b", "a/+2F/b"},
        {"//", "+2F+2F"},
        {"hero/walk/0001", "hero/walk/0001"},
    });
}

TEST(FrameFilePath, KeepsNonAsciiAndOrdinaryNamesAsTheyAre) {
    ExpectPaths({
        {"hero/walk_0", "hero/walk_0"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xE6\x97\xA5\xE6\x9C\xAC/\xE2\x98\x85", "\xE6\x97\xA5\xE6\x9C\xAC/\xE2\x98\x85"},
        {"bad\xEF\xBF\xBD" "byte", "bad\xEF\xBF\xBD" "byte"},
        {"\xC2\xA0nbsp\xC2\xA0", "\xC2\xA0nbsp\xC2\xA0"},
        {"hash #1 (x) [y] {z} @2x ~old 'q' $5 &=,;!^`", "hash #1 (x) [y] {z} @2x ~old 'q' $5 &=,;!^`"},
        {"Hero-Walk_01.v2", "Hero-Walk_01.v2"},
    });
}

// Every name of up to four bytes over an alphabet of the bytes the rules
// look at.
std::vector<std::string> GeneratedNames() {
    const std::string alphabet = std::string("aA/.\\:+%2C ") + '\x01' + "\xC3";
    std::vector<std::string> names = {""};
    size_t begin = 0;
    for (int length = 1; length <= 4; ++length) {
        const size_t end = names.size();
        for (size_t i = begin; i < end; ++i) {
            for (const char c : alphabet) {
                names.push_back(names[i] + c);
            }
        }
        begin = end;
    }
    // Device names and frame-file folders, among their neighbours.
    for (const char* base : {"con", "CON", "Con.x", "nul ", "com1", "COM1", "lpt\xC2\xB9", "a.tres", "A.TRES"}) {
        for (const char* around : {"", "/", "x/", "/x", "+", "."}) {
            names.push_back(std::string(base) + around);
            names.push_back(std::string(around) + base);
        }
    }
    return names;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "+XX" back to its byte; a lone "+" is the empty name.
std::string Unescape(const std::string& path, bool& ok) {
    ok = true;
    if (path == "+") return "";
    std::string name;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '+') {
            name += path[i];
            continue;
        }
        const int high = i + 2 < path.size() ? HexValue(path[i + 1]) : -1;
        const int low = i + 2 < path.size() ? HexValue(path[i + 2]) : -1;
        if (high < 0 || low < 0) {
            ok = false;
            return name;
        }
        name += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return name;
}

// What a file or folder name must avoid to be kept as written by Windows,
// macOS, Linux and Godot.
std::string Unsafe(const std::string& part) {
    if (part.empty()) return "empty part";
    for (const char c : part) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20U || u == 0x7FU || std::strchr("\\:*?\"<>|%", c) != nullptr) return "forbidden byte";
    }
    for (const char edge : {part.front(), part.back()}) {
        if (edge == '.' || edge == ' ') return "dot or space at an end";
    }
    std::string stem = part.substr(0, part.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    stem = AsciiLower(stem);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (stem == device) return "device name";
    }
    if (stem.size() >= 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0)) {
        const std::string number = stem.substr(3);
        if ((number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
            number == "\xC2\xB2" || number == "\xC2\xB3") {
            return "device name";
        }
    }
    return "";
}

TEST(FrameFilePath, GivesEachNameItsOwnSafePathEvenIgnoringCase) {
    const std::vector<std::string> names = GeneratedNames();
    ASSERT_GT(names.size(), 30000U);
    std::map<std::string, std::string> byPath;
    std::map<std::string, std::string> byFoldedPath;
    for (const std::string& name : names) {
        const std::string path = FrameFilePath(name);
        SCOPED_TRACE(::testing::Message() << "name '" << name << "' path '" << path << "'");
        bool ok = false;
        EXPECT_EQ(Unescape(path, ok), name);
        EXPECT_TRUE(ok);
        const auto [same, fresh] = byPath.emplace(path, name);
        EXPECT_TRUE(fresh || same->second == name) << "also the path of '" << same->second << "'";
        // Names the input stage lets through (not equal ignoring case) must
        // not meet on a file system that ignores case.
        const auto [folded, freshFold] = byFoldedPath.emplace(AsciiLower(path), AsciiLower(name));
        EXPECT_TRUE(freshFold || folded->second == AsciiLower(name)) << "meets '" << folded->second << "'";

        // Every part is safe, the last with the extension the files get,
        // and no folder is named like a frame's file.
        size_t start = 0;
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', start)) {
            const std::string folder = path.substr(start, slash - start);
            EXPECT_EQ(Unsafe(folder), "") << "folder '" << folder << "'";
            const std::string tail = AsciiLower(folder.size() >= 5 ? folder.substr(folder.size() - 5) : "");
            EXPECT_TRUE(tail != ".tres" && tail != ".tscn") << "folder '" << folder << "'";
            start = slash + 1;
        }
        for (const char* extension : {".tres", ".tscn"}) {
            EXPECT_EQ(Unsafe(path.substr(start) + extension), "") << "file '" << path.substr(start) << "'";
        }
    }
}

}  // namespace
