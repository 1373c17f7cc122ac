// --atlas on sprites whose names hold what a file system or Godot misreads:
// each frame's files land under their escaped path, their references reach
// the atlas and each other the way Godot resolves them, and every document
// still carries the exact names.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "godot_text_reader.h"
#include "io/png_io.h"
#include "json_reader.h"
#include "support/file_tree.h"
#include "support/sprites.h"
#include "unity_yaml_reader.h"

namespace {

namespace fs = std::filesystem;
using VelmoraTest::ReadText;
using VelmoraTest::TempFolder;

struct Frame {
    std::string name;  // as the input folder names it
    std::string path;  // where its files go under PREFIX/, without extension
};

std::vector<Frame> AwkwardFrames() {
    std::vector<Frame> frames = {
        {"100%", "100+25"},
        {"a+b", "a+2Bb"},
        {" lead", "+20lead"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"x", "x"},
        {"x.tres/y", "x+2Etres/y"},  // a folder named like x's own file
        {"plus+dir/walk_1", "plus+2Bdir/walk_1"},
    };
#ifndef _WIN32
    // Names Windows cannot give a file: packed where the system can hold
    // them, and must come out as files Windows can.
    const std::vector<Frame> more = {
        {"quote\"and\\slash", "quote+22and+5Cslash"},
        {"colon:here", "colon+3Ahere"},
        {"star*", "star+2A"},
        {"what?", "what+3F"},
        {"less<more>", "less+3Cmore+3E"},
        {"pipe|", "pipe+7C"},
        {"tab\there", "tab+09here"},
        {"del\x7F", "del+7F"},
        {"dot.", "dot+2E"},
        {"space ", "space+20"},
        {"con", "+63on"},
        {"NUL.txt", "+4EUL.txt"},
        {"Com1", "+43om1"},
        {"lpt\xC2\xB9", "+6Cpt\xC2\xB9"},
        {"sub:dir/walk_0", "sub+3Adir/walk_0"},
        {"aux/inner", "+61ux/inner"},
        {"back\\dir./deep\\er", "back+5Cdir+2E/deep+5Cer"},
    };
    frames.insert(frames.end(), more.begin(), more.end());
#endif
    return frames;
}

void WriteSprite(const fs::path& file, int32_t width, uint32_t seed) {
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(Velmora::Io::EncodePng(VelmoraTest::Sprite(width, 6, seed, 1), png, error)) << error;
    VelmoraTest::WriteText(file, std::string(png.begin(), png.end()));
}

// The file a Godot ext_resource path reaches from `from`: Godot joins a
// relative path to the folder of the file that holds it and reads '\' as a
// separator, so a path holding one reaches elsewhere than the system would.
fs::path Reached(const fs::path& from, const std::string& path) {
    std::string godot = path;
    for (char& c : godot) {
        if (c == '\\') c = '/';
    }
    return fs::weakly_canonical(from.parent_path() / fs::u8path(godot));
}

std::string ExtPath(const fs::path& file, size_t index) {
    const GodotText::Result parsed = GodotText::Parse(ReadText(file));
    EXPECT_TRUE(parsed.ok) << file << ": " << parsed.error;
    const auto ext = parsed.doc.All("ext_resource");
    return parsed.ok && index < ext.size() ? ext[index]->AttrText("path") : "<none>";
}

TEST(FrameFilesAtlas, AwkwardNamesGetSafeFilesThatReachTheAtlasAndKeepTheirNamesInTheDocuments) {
    const TempFolder root;
    const std::vector<Frame> frames = AwkwardFrames();
    for (size_t i = 0; i < frames.size(); ++i) {
        WriteSprite(root / ("in/" + frames[i].name + ".png"), 3 + static_cast<int32_t>(i), static_cast<uint32_t>(i));
    }
    const std::string prefix = root.Str("out/sheet");
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        Velmora::Commands::RunAtlas({"--normal-map", "--colliders", "-o", prefix, root.Str("in")}, out, err);
    ASSERT_EQ(status, 0) << err.str();

    const fs::path atlas = fs::weakly_canonical(root / "out/sheet.png");
    const fs::path normal = fs::weakly_canonical(root / "out/sheet_n.png");
    std::set<std::string> expectedTree;
    for (const Frame& frame : frames) {
        SCOPED_TRACE("frame '" + frame.name + "'");
        const fs::path tres = root / ("out/sheet/" + frame.path + ".tres");
        const fs::path tscn = root / ("out/sheet/" + frame.path + ".tscn");
        ASSERT_TRUE(fs::is_regular_file(tres));
        ASSERT_TRUE(fs::is_regular_file(tscn));
        EXPECT_EQ(Reached(tres, ExtPath(tres, 0)), atlas);
        EXPECT_EQ(Reached(tres, ExtPath(tres, 1)), normal);
        EXPECT_EQ(Reached(tscn, ExtPath(tscn, 0)), fs::weakly_canonical(tres));
        for (size_t slash = frame.path.find('/'); slash != std::string::npos; slash = frame.path.find('/', slash + 1)) {
            expectedTree.insert(frame.path.substr(0, slash + 1));
        }
        expectedTree.insert(frame.path + ".tres");
        expectedTree.insert(frame.path + ".tscn");
    }
    // Nothing else under PREFIX/: one file of each kind per name, and no
    // byte any system or Godot would misread.
    const std::set<std::string> tree = VelmoraTest::TreeOf(root / "out/sheet");
    EXPECT_EQ(tree, expectedTree);
    for (const std::string& entry : tree) {
        for (const char c : entry) {
            const auto u = static_cast<unsigned char>(c);
            EXPECT_FALSE(u < 0x20U || u == 0x7FU || std::strchr("\\:*?\"<>|%", c) != nullptr) << entry;
        }
    }

    // The documents name every frame exactly as its input did.
    std::set<std::string> names;
    for (const Frame& frame : frames) names.insert(frame.name);
    StrictJson::Value sheet;
    std::string error;
    ASSERT_TRUE(StrictJson::Parse(ReadText(root / "out/sheet.json"), sheet, error)) << error;
    const StrictJson::Value* jsonFrames = sheet.Get("frames");
    ASSERT_NE(jsonFrames, nullptr);
    std::set<std::string> jsonNames;
    for (const auto& member : jsonFrames->members) jsonNames.insert(member.first);
    EXPECT_EQ(jsonNames, names);

    std::vector<UnityYaml::YamlLine> lines;
    ASSERT_TRUE(UnityYaml::CheckUnityYaml(ReadText(root / "out/sheet.png.meta"), lines, error)) << error;
    // The sprites as Unity's id table names them (the sprite list also
    // holds the normal map's entry).
    const std::vector<std::string> sprites = UnityYaml::ReadUnityNames(lines).tableNames;
    EXPECT_EQ(std::set<std::string>(sprites.begin(), sprites.end()), names);
}

}  // namespace
