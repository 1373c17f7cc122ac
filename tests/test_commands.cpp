// The file commands in-process, on real files in a scratch folder: what each
// option does to the outputs, every failure path (status, one message naming
// the file, nothing created or changed), and byte-identical reruns.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "commands/commands.h"
#include "godot_text_reader.h"
#include "json_reader.h"
#include "io/png_io.h"
#include "png_bytes.h"
#include "support/sprites.h"
#include "velmora/image.h"
#include "velmora_engine.h"

namespace fs = std::filesystem;

namespace {

// An int expression's value as an index; tests keep their sizes small, so
// the int arithmetic cannot overflow.
size_t Offset(int64_t value) { return static_cast<size_t>(value); }

using Velmora::Image;
using VelmoraTest::Sprite;


std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Image ReadPng(const fs::path& path) {
    const std::string text = ReadText(path);
    Image image;
    std::string error;
    EXPECT_TRUE(Velmora::Io::DecodePng(std::vector<uint8_t>(text.begin(), text.end()), image, error))
        << path << ": " << error;
    return image;
}

// Every file under `root` with its bytes, by relative path.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) {
        return files;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        files[relative] = entry.is_regular_file() ? ReadText(entry.path()) : std::string("<folder>");
    }
    return files;
}

// The first file that differs between two snapshots, or "" when none does.
std::string FirstDifference(const std::map<std::string, std::string>& a,
                            const std::map<std::string, std::string>& b) {
    for (const auto& [name, bytes] : a) {
        const auto other = b.find(name);
        if (other == b.end() || other->second != bytes) {
            return name;
        }
    }
    for (const auto& entry : b) {
        if (a.count(entry.first) == 0) {
            return entry.first;
        }
    }
    return "";
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("velmora-commands-" + std::string(info->name()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "in");
        fs::create_directories(root_ / "out");
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string In(const std::string& relative) const { return (root_ / "in" / relative).string(); }
    std::string Out(const std::string& relative) const { return (root_ / "out" / relative).string(); }

    void WritePng(const std::string& relative, const Image& image) const {
        std::vector<uint8_t> png;
        std::string error;
        ASSERT_TRUE(Velmora::Io::EncodePng(image, png, error)) << error;
        WriteBytes(relative, std::string(png.begin(), png.end()));
    }
    void WriteBytes(const std::string& relative, const std::string& bytes) const {
        // UTF-8, as the commands take names, on Windows too.
        const fs::path path = root_ / "in" / fs::u8path(relative);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }

    static Outcome Atlas(const std::vector<std::string>& args) { return Call(Velmora::Commands::RunAtlas, args); }
    static Outcome Call(int (*command)(const Velmora::Commands::Arguments&, std::ostream&, std::ostream&),
                    const std::vector<std::string>& args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = command(args, out, err);
        return Outcome{status, out.str(), err.str()};
    }

    fs::path root_;
};

// The region and margin a per-frame Godot AtlasTexture gives a frame.
struct Region {
    int x, y, w, h;
    std::string margin;
};

Region FrameRegion(const fs::path& tres) {
    Region region{-1, -1, -1, -1, ""};
    const GodotText::Result parsed = GodotText::Parse(ReadText(tres));
    EXPECT_TRUE(parsed.ok) << tres << ": " << parsed.error;
    const GodotText::Section* resource = parsed.ok ? parsed.doc.All("resource").front() : nullptr;
    const GodotText::Value* rect = resource != nullptr ? resource->Prop("region") : nullptr;
    if (rect != nullptr && rect->numbers.size() == 4) {
        region = Region{static_cast<int>(rect->numbers[0]), static_cast<int>(rect->numbers[1]),
                        static_cast<int>(rect->numbers[2]), static_cast<int>(rect->numbers[3]), ""};
    }
    const GodotText::Value* margin = resource != nullptr ? resource->Prop("margin") : nullptr;
    if (margin != nullptr) {
        for (const double number : margin->numbers) {
            region.margin += (region.margin.empty() ? "" : ", ") + std::to_string(static_cast<int>(number));
        }
    }
    return region;
}

bool SameArea(const Image& atlas, const Region& at, const Image& frame, int offsetX = 0, int offsetY = 0) {
    for (int y = 0; y < at.h; ++y) {
        for (int x = 0; x < at.w; ++x) {
            if (atlas.pixels[Offset((at.y + y) * atlas.width + at.x + x)] !=
                frame.pixels[Offset((offsetY + y) * frame.width + offsetX + x)]) {
                return false;
            }
        }
    }
    return true;
}

TEST_F(FileCommands, AtlasHoldsEveryFrameByNameFromFilesAndNestedFolders) {
    std::map<std::string, Image> frames = {{"hero/walk_0", Sprite(12, 9, 1)}, {"hero/walk_1", Sprite(12, 9, 2)},
                                           {"tiles/deep/stone", Sprite(1, 1, 3)}, {"wide", Sprite(300, 3, 4)}};
    WritePng("set/hero/walk_0.png", frames["hero/walk_0"]);
    WritePng("set/hero/walk_1.PNG", frames["hero/walk_1"]);
    WritePng("set/tiles/deep/stone.png", frames["tiles/deep/stone"]);
    WritePng("set/.hidden/skip.png", Sprite(4, 4, 5));
    WriteBytes("set/notes.txt", "not a sprite");
    WritePng("wide.png", frames["wide"]);

    const Outcome run = Atlas({"-o", Out("sheet"), In("set"), In("wide.png")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Packed 4 frames"), std::string::npos) << run.out;

    const Image atlas = ReadPng(Out("sheet.png"));
    for (const auto& [name, image] : frames) {
        const Region region = FrameRegion(Out("sheet/" + name + ".tres"));
        ASSERT_EQ(region.w, image.width) << name;
        ASSERT_EQ(region.h, image.height) << name;
        EXPECT_TRUE(SameArea(atlas, region, image)) << name << " pixels differ in the atlas";
    }
    for (const char* file : {"sheet.json", "sheet.tres", "sheet.png.meta"}) {
        EXPECT_TRUE(fs::is_regular_file(Out(file))) << file;
    }
    EXPECT_FALSE(fs::exists(Out("sheet/.hidden"))) << "dot folders are skipped";
}

TEST_F(FileCommands, SameInputsGiveTheSameBytesWhateverTheJobCount) {
    for (int i = 0; i < 9; ++i) {
        WritePng("set/f" + std::to_string(i) + ".png", Sprite(5 + i * 3, 17 - i, static_cast<uint32_t>(i), i % 3));
    }
    WritePng("set/f9.png", Sprite(5, 17, 0, 0));  // a copy of f0 for --dedupe
    WritePng("set/tall.png", Sprite(300, 1000, 9, 0));  // an atlas of several bands
    std::vector<std::map<std::string, std::string>> outputs;
    for (const char* jobs : {"1", "4", "1"}) {
        const Outcome run = Atlas({"--jobs", jobs, "--trim", "--dedupe", "--normal-map", "--colliders", "-o",
                                   Out("run/sheet"), In("set")});
        ASSERT_EQ(run.status, 0) << run.err;
        outputs.push_back(Snapshot(root_ / "out" / "run"));
        fs::remove_all(root_ / "out" / "run");
    }
    EXPECT_EQ(FirstDifference(outputs[0], outputs[1]), "") << "--jobs 1 and --jobs 4 differ";
    EXPECT_EQ(FirstDifference(outputs[0], outputs[2]), "") << "two runs differ";
    EXPECT_EQ(outputs[0].count("sheet_n.png"), 1U);
    EXPECT_EQ(outputs[0].count("sheet/f3.tscn"), 1U);
}

TEST_F(FileCommands, PaddingExtrusionAndPowerOfTwoShapeTheAtlas) {
    const Image a = Sprite(6, 4, 7);
    const Image b = Sprite(3, 5, 8);
    WritePng("a.png", a);
    WritePng("b.png", b);
    for (const char* packer : {"maxrects", "shelf"}) {
        const std::string prefix = Out(std::string(packer) + "/sheet");
        const Outcome run = Atlas({"--packer", packer, "--padding", "2", "--extrude", "1", "--pot", "-o", prefix,
                               In("a.png"), In("b.png")});
        ASSERT_EQ(run.status, 0) << packer << ": " << run.err;
        const Image atlas = ReadPng(prefix + ".png");
        EXPECT_EQ(atlas.width & (atlas.width - 1), 0) << packer << " width " << atlas.width;
        EXPECT_EQ(atlas.height & (atlas.height - 1), 0) << packer << " height " << atlas.height;
        const Region ra = FrameRegion(prefix + "/a.tres");
        const Region rb = FrameRegion(prefix + "/b.tres");
        for (const auto& [region, image] : {std::pair<Region, const Image*>{ra, &a}, {rb, &b}}) {
            EXPECT_GE(region.x, 3) << packer << ": padding plus extrusion from the edge";
            EXPECT_GE(region.y, 3) << packer;
            EXPECT_TRUE(SameArea(atlas, region, *image)) << packer;
            // The ring just outside the frame repeats its edge pixels.
            for (int x = -1; x <= region.w; ++x) {
                const int sx = std::clamp(x, 0, region.w - 1);
                const size_t above = Offset((region.y - 1) * atlas.width + region.x + x);
                EXPECT_EQ(atlas.pixels[above], image->pixels[static_cast<size_t>(sx)]) << packer << " x " << x;
            }
        }
        // Cells never come closer than the padding plus both extrusions.
        const bool apartX = ra.x + ra.w + 4 <= rb.x || rb.x + rb.w + 4 <= ra.x;
        const bool apartY = ra.y + ra.h + 4 <= rb.y || rb.y + rb.h + 4 <= ra.y;
        EXPECT_TRUE(apartX || apartY) << packer;
    }
}

TEST_F(FileCommands, PaddingAloneKeepsItsWidthAtTheRightAndBottomEdgesAndNoMore) {
    // Without --pot no rounding up can hide padding missing at the far
    // edges. Opaque frames, wide enough that the shelf's rows pass its
    // minimum width, in two rows so frames end at the bottom and right.
    const std::pair<const char*, Image> frames[] = {
        {"a", Sprite(36, 20, 21)}, {"b", Sprite(30, 12, 22)}, {"c", Sprite(41, 9, 23)}, {"d", Sprite(22, 33, 24)}};
    for (const auto& [name, image] : frames) {
        WritePng(std::string(name) + ".png", image);
    }
    for (const char* packer : {"maxrects", "shelf"}) {
        for (const int padding : {1, 3}) {
            SCOPED_TRACE(std::string(packer) + " --padding " + std::to_string(padding));
            const std::string prefix = Out(std::string(packer) + std::to_string(padding) + "/sheet");
            const Outcome run = Atlas({"--packer", packer, "--padding", std::to_string(padding), "--max-width", "80",
                                       "-o", prefix, In("a.png"), In("b.png"), In("c.png"), In("d.png")});
            ASSERT_EQ(run.status, 0) << run.err;
            const Image atlas = ReadPng(prefix + ".png");
            const auto transparent = [&](int x, int y) {
                return x >= 0 && y >= 0 && x < atlas.width && y < atlas.height &&
                       (atlas.pixels[Offset(y * atlas.width + x)] >> 24) == 0;
            };
            int right = 0;
            int bottom = 0;
            for (const auto& [name, image] : frames) {
                SCOPED_TRACE(name);
                const Region region = FrameRegion(prefix + "/" + name + ".tres");
                ASSERT_EQ(region.w, image.width);
                ASSERT_EQ(region.h, image.height);
                EXPECT_GE(region.x, padding);
                EXPECT_GE(region.y, padding);
                EXPECT_TRUE(SameArea(atlas, region, image));
                right = std::max(right, region.x + region.w);
                bottom = std::max(bottom, region.y + region.h);
                // `padding` columns of transparent pixels right of the frame
                // and rows below it, the corner between them included, all
                // inside the atlas.
                int opaque = 0;
                for (int y = region.y; y < region.y + region.h + padding; ++y) {
                    for (int x = region.x + region.w; x < region.x + region.w + padding; ++x) {
                        opaque += transparent(x, y) ? 0 : 1;
                    }
                }
                for (int y = region.y + region.h; y < region.y + region.h + padding; ++y) {
                    for (int x = region.x; x < region.x + region.w; ++x) {
                        opaque += transparent(x, y) ? 0 : 1;
                    }
                }
                EXPECT_EQ(opaque, 0) << "pixels of the padding right of or below the frame missing or not transparent";
            }
            // Exactly the frames' extent plus the padding, nothing more.
            EXPECT_EQ(atlas.width, right + padding);
            EXPECT_EQ(atlas.height, bottom + padding);
        }
    }
}

TEST_F(FileCommands, TrimKeepsTheOriginalPlacementAndDedupeSharesRectangles) {
    const Image bordered = Sprite(10, 8, 9, 2);
    WritePng("set/a_0.png", bordered);
    WritePng("set/a_1.png", bordered);
    WritePng("set/empty.png", Sprite(4, 4, 10, 2));  // 4x4 with a 2-pixel border: fully transparent
    const Outcome run = Atlas({"--trim", "--dedupe", "-o", Out("sheet"), In("set")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("(2 unique)"), std::string::npos) << run.out;
    const Region first = FrameRegion(Out("sheet/a_0.tres"));
    const Region second = FrameRegion(Out("sheet/a_1.tres"));
    EXPECT_EQ(first.w, 6);
    EXPECT_EQ(first.h, 4);
    EXPECT_EQ(first.margin, "2, 2, 4, 4") << "margin restores the 10x8 original at its offset";
    EXPECT_EQ(first.x, second.x) << "identical frames share one rectangle";
    EXPECT_EQ(first.y, second.y);
    const Region empty = FrameRegion(Out("sheet/empty.tres"));
    EXPECT_EQ(empty.w, 1) << "a fully transparent frame stays 1x1";
    EXPECT_EQ(empty.h, 1);
    EXPECT_TRUE(SameArea(ReadPng(Out("sheet.png")), first, bordered, 2, 2));
}

TEST_F(FileCommands, FailuresNameTheFileAndChangeNothing) {
    WritePng("good.png", Sprite(8, 8, 11));
    WritePng("dup/good.png", Sprite(8, 8, 12));
    WritePng("big.png", Sprite(40, 10, 13));
    for (const char* name : {"stack/a.png", "stack/b.png", "stack/c.png"}) {
        WritePng(name, Sprite(8, 8, 14));
    }
    WriteBytes("empty.png", "");
    WriteBytes("text.png", "hello, not a PNG at all");
    std::string truncated = ReadText(In("good.png"));
    truncated.resize(truncated.size() / 2);
    WriteBytes("truncated.png", truncated);
    std::string damaged = ReadText(In("good.png"));
    damaged[damaged.find("IEND") - 5] ^= 1;  // the last byte of the IDAT checksum
    WriteBytes("damaged.png", damaged);
    // A previous atlas at the same prefix must survive every failure.
    ASSERT_EQ(Atlas({"-o", Out("sheet"), In("good.png")}).status, 0);
    const auto before = Snapshot(root_ / "out");

    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"unknown option", {"--frobnicate", In("good.png")}, 1, "unknown option '--frobnicate'"},
        {"missing value", {In("good.png"), "-o"}, 1, "needs a value"},
        {"bad layout", {"--json", "yaml", In("good.png")}, 1, "--json is 'hash' or 'array'"},
        {"bad size", {"--max-size", "9000x10", In("good.png")}, 1, "--max-size"},
        {"no input", {"--trim"}, 1, "no INPUT"},
        {"missing input", {In("nothing.png")}, 2, In("nothing.png") + ": no such file or folder"},
        {"empty file", {In("empty.png")}, 2, In("empty.png") + ": "},
        {"not a PNG", {In("text.png")}, 2, In("text.png") + ": "},
        {"truncated", {In("truncated.png")}, 2, In("truncated.png") + ": image data ends early\n"},
        {"damaged", {In("damaged.png")}, 2, In("damaged.png") + ": bad CRC in chunk IDAT\n"},
        {"same name twice", {In("good.png"), In("dup")}, 2, "both give the frame name 'good'"},
        {"too big for the size limit", {"--max-size", "32x32", In("big.png")}, 2,
         In("big.png") + ": 40x10 does not fit the atlas size limit 32x32"},
        {"shelf rows past the page limit", {"--packer", "shelf", "--max-width", "8", "--max-size", "64x16",
                                             "--max-pages", "1", In("stack")}, 2,
         "1 of 3 frames do not fit 1 page of 64x16 (--max-pages; they need 2): c\n"},
        {"shelf wider than the size limit", {"--packer", "shelf", "--max-size", "63x63", In("good.png")}, 2,
         "at least 64 pixels wide"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"-o", Out("sheet")});
        const Outcome run = Atlas(args);
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.what;
        if (c.status == 1) {
            EXPECT_NE(run.err.find("--atlas --help"), std::string::npos) << c.what;
        } else {
            EXPECT_EQ(run.err.rfind("velmora2d: ", 0), 0U) << c.what;
        }
        EXPECT_EQ(FirstDifference(Snapshot(root_ / "out"), before), "") << c.what << " changed the outputs";
    }
    // An output that cannot be written: its parent is a regular file.
    const Outcome blocked = Atlas({"-o", In("good.png") + "/sheet", In("good.png")});
    EXPECT_EQ(blocked.status, 2);
    EXPECT_NE(blocked.err.find(In("good.png")), std::string::npos) << blocked.err;
    EXPECT_EQ(FirstDifference(Snapshot(root_ / "out"), before), "");
}

// Frames beyond --max-pages, or too large for any page once trimmed: the
// message names them (a few, then how many more), counting duplicates as
// the frames they are.
TEST_F(FileCommands, FramesThatDoNotFitAreNamed) {
    WritePng("set/big.png", Sprite(60, 60, 1));
    for (int i = 0; i < 7; ++i) {
        WritePng("set/small" + std::to_string(i) + ".png", Sprite(30, 30, i < 2 ? 2U : static_cast<uint32_t>(10 + i)));
    }
    WritePng("pair/big.png", Sprite(60, 60, 1));
    WritePng("pair/a.png", Sprite(30, 30, 2));
    WritePng("pair/b.png", Sprite(30, 30, 2));
    // Opaque all over: trimming leaves 70 x 70, beyond a 64 x 64 page.
    WritePng("huge/huge.png", Sprite(70, 70, 3, 0));
    WritePng("huge/a.png", Sprite(30, 30, 2));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--max-pages", "1", In("pair")}, "2 of 3 frames do not fit 1 page of 64x64 (--max-pages; they need 2): a, b"},
        {{"--max-pages", "1", "--dedupe", In("pair")},
         "2 of 3 frames do not fit 1 page of 64x64 (--max-pages; they need 2): a, b"},
        {{"--max-pages", "2", In("set")}, "3 of 8 frames do not fit 2 pages of 64x64 (--max-pages; they need 3): "
                                          "small4, small5, small6"},
        {{"--max-pages", "1", In("set")}, "7 of 8 frames do not fit 1 page of 64x64 (--max-pages; they need 3): "
                                          "small0, small1, small2, small3, small4, and 2 more"},
        // The shelf fills rows in name order: a and b take the first.
        {{"--max-pages", "1", "--packer", "shelf", In("pair")},
         "1 of 3 frames do not fit 1 page of 64x64 (--max-pages; they need 2): big"},
        {{"--trim", In("huge")}, "1 of 2 frames do not fit the atlas size limit 64x64: huge"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--max-size", "64x64", "-o", Out("sheet")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = Atlas(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "velmora2d: " + Out("sheet") + ".png: " + c.message + "\n");
    }
}

// Frames packed as they are go straight from their files onto the atlas
// when the files are much smaller than their pixels; with --dedupe (no two
// frames alike here) every frame is decoded before planning instead. Both
// ways must write the same files and say the same, on one page or several,
// and refuse a damaged file in the same words, before any page problem.
TEST_F(FileCommands, FramesDecodedOntoTheAtlasPackAsFramesDecodedFirst) {
    for (const std::string folder : {"set/", "damaged/"}) {
        for (int i = 0; i < 6; ++i) {  // sprite art: files a tenth of their pixels
            WritePng(folder + "disc" + std::to_string(i) + ".png",
                     VelmoraTest::SoftDisc(20 + 9 * i, 6 + i, 9 + 4 * i, 0x3060C0U + static_cast<uint32_t>(i)));
        }
        for (int i = 0; i < 4; ++i) {  // noise: files as large as their pixels
            WritePng(folder + "noise" + std::to_string(i) + ".png",
                     Sprite(7 + 5 * i, 30 - 4 * i, 40U + static_cast<uint32_t>(i), 1));
        }
    }
    std::string disc = ReadText(In("damaged/disc3.png"));
    const size_t data = disc.find("IDAT") + 8;
    disc[data] = static_cast<char>(disc[data] ^ 0x40);
    WriteBytes("damaged/disc3.png", disc);

    const std::vector<std::vector<std::string>> cases = {
        {In("set")},
        {"--padding", "2", In("set")},
        {"--max-size", "80x80", In("set")},
        {"--packer", "shelf", "--pot", In("set")},
        {In("damaged")},
        {"--max-size", "80x80", "--max-pages", "1", In("damaged")},
    };
    for (const std::vector<std::string>& inputs : cases) {
        SCOPED_TRACE(inputs.front());
        Outcome runs[2];
        std::map<std::string, std::string> files[2];
        for (int way = 0; way < 2; ++way) {
            std::vector<std::string> args = {"-o", Out("run/sheet")};
            if (way == 1) args.push_back("--dedupe");
            args.insert(args.end(), inputs.begin(), inputs.end());
            runs[way] = Atlas(args);
            files[way] = Snapshot(root_ / "out" / "run");
            fs::remove_all(root_ / "out" / "run");
        }
        EXPECT_EQ(runs[0].status, runs[1].status);
        EXPECT_EQ(runs[0].out, runs[1].out);
        EXPECT_EQ(runs[0].err, runs[1].err);
        EXPECT_EQ(FirstDifference(files[0], files[1]), "");
        if (inputs.back() == In("damaged")) {
            EXPECT_EQ(runs[0].status, 2);
            EXPECT_EQ(runs[0].err.rfind("velmora2d: " + In("damaged/disc3.png") + ": ", 0), 0U) << runs[0].err;
            EXPECT_TRUE(files[0].empty());
        } else {
            EXPECT_EQ(runs[0].status, 0) << runs[0].err;
            EXPECT_EQ(files[0].count("sheet/disc5.tres") + files[0].count("sheet/noise3.tres"), 2U);
        }
    }
}

// Files that end at their last IDAT are common in published sprite sets:
// they pack into the same atlas as the same files with IEND.
TEST_F(FileCommands, PngsWithoutIendPackLikeWholeOnes) {
    for (int i = 0; i < 4; ++i) {
        const std::string name = "whole/f" + std::to_string(i) + ".png";
        WritePng(name, Sprite(6 + i, 9 - i, static_cast<uint32_t>(i), i % 2));
        const std::string bytes = ReadText(In(name));
        const size_t cut = i % 2 == 0 ? 12 : 7;  // IEND gone, or cut short
        WriteBytes("cut/f" + std::to_string(i) + ".png", bytes.substr(0, bytes.size() - cut));
    }
    const Outcome whole = Atlas({"-o", Out("whole/sheet"), In("whole")});
    const Outcome cut = Atlas({"-o", Out("cut/sheet"), In("cut")});
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.err, "");
    EXPECT_EQ(ReadText(root_ / "out/cut/sheet.png"), ReadText(root_ / "out/whole/sheet.png"));
    EXPECT_EQ(ReadText(root_ / "out/cut/sheet.json"), ReadText(root_ / "out/whole/sheet.json"));
}

// A PNG of `width` x `height` whose header is all there is: decoding it
// fails ("image data ends early"), so a run that names its size never decoded it.
std::string HeaderOnlyPng(uint32_t width, uint32_t height) {
    return PngBytes::kSignature + PngBytes::Header(width, height, 1, 0);
}

TEST_F(FileCommands, FramesTooLargeForTheAtlasAreRefusedFromTheirHeadersAlone) {
    WriteBytes("set/huge.png", HeaderOnlyPng(16384, 16384));
    WriteBytes("set/tall.png", HeaderOnlyPng(10, 8193));
    WriteBytes("set/wide.png", HeaderOnlyPng(8193, 10));
    WritePng("set/fits.png", Sprite(8, 8, 1));
    const Outcome whole = Atlas({"-o", Out("sheet"), In("set")});
    EXPECT_EQ(whole.status, 2);
    EXPECT_EQ(whole.err, "velmora2d: " + In("set") + "/huge.png: 16384x16384 does not fit the atlas size limit 8192x8192\n"
                         "velmora2d: " + In("set") + "/tall.png: 10x8193 does not fit the atlas size limit 8192x8192\n"
                         "velmora2d: " + In("set") + "/wide.png: 8193x10 does not fit the atlas size limit 8192x8192\n");
    EXPECT_EQ(whole.out, "");
    EXPECT_TRUE(Snapshot(root_ / "out").empty());
    // Trimmed, a frame may end up small enough: these are decoded, and what
    // decoding says differs from what their headers said.
    const Outcome trimmed = Atlas({"--trim", "-o", Out("sheet"), In("set")});
    EXPECT_EQ(trimmed.status, 2);
    EXPECT_EQ(trimmed.err, "velmora2d: " + In("set") + "/huge.png: image data too short\n"
                           "velmora2d: " + In("set") + "/tall.png: image data ends early\n"
                           "velmora2d: " + In("set") + "/wide.png: image data ends early\n");
    EXPECT_TRUE(Snapshot(root_ / "out").empty());
    // Headers are judged before pixels: with a frame refused by its header,
    // a file whose pixels are damaged, before or after it, goes unmentioned.
    std::string cut = ReadText(In("set/fits.png"));
    cut.resize(cut.size() - 20);
    WriteBytes("mixed/a_cut.png", cut);
    WriteBytes("mixed/b_huge.png", HeaderOnlyPng(16384, 16384));
    WriteBytes("mixed/c_cut.png", cut);
    const Outcome mixed = Atlas({"-o", Out("sheet"), In("mixed")});
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(mixed.err,
              "velmora2d: " + In("mixed") + "/b_huge.png: 16384x16384 does not fit the atlas size limit 8192x8192\n");
    EXPECT_TRUE(Snapshot(root_ / "out").empty());
}

TEST_F(FileCommands, TheSizeLimitCountsPaddingAndExtrusionToThePixel) {
    struct Case {
        std::vector<std::string> options;
        int32_t width, height;  // the largest frame that fits
        std::string limit;      // as the message gives it
    };
    const Case cases[] = {
        {{"--max-size", "64x48"}, 64, 48, "64x48"},
        {{"--max-size", "64x48", "--padding", "3"}, 58, 42, "64x48 with --padding 3"},
        {{"--max-size", "64x48", "--extrude", "2"}, 60, 44, "64x48 with --extrude 2"},
        {{"--max-size", "64x48", "--padding", "3", "--extrude", "2"}, 54, 38, "64x48 with --padding 3 and --extrude 2"},
        {{"--packer", "shelf", "--max-size", "80x40", "--padding", "2", "--extrude", "1"}, 74, 34,
         "80x40 with --padding 2 and --extrude 1"},
        // With --pot the limit is the largest power of two within it.
        {{"--max-size", "100x70", "--pot", "--padding", "1"}, 62, 62, "64x64 with --padding 1"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::string prefix = "case" + std::to_string(++index) + "_";
        const auto run = [&](int32_t width, int32_t height) {
            const std::string name = prefix + std::to_string(width) + "x" + std::to_string(height) + ".png";
            WritePng(name, Sprite(width, height, 2));
            std::vector<std::string> args = c.options;
            args.insert(args.end(), {"-o", Out("sheet"), In(name)});
            return std::make_pair(Atlas(args), In(name));
        };
        const auto [exact, exactPath] = run(c.width, c.height);
        EXPECT_EQ(exact.status, 0) << exact.err;
        fs::remove_all(root_ / "out");
        for (const auto& [width, height] : {std::pair{c.width + 1, c.height}, {c.width, c.height + 1}}) {
            const auto [over, path] = run(width, height);
            EXPECT_EQ(over.status, 2);
            EXPECT_EQ(over.err, "velmora2d: " + path + ": " + std::to_string(width) + "x" + std::to_string(height) +
                                    " does not fit the atlas size limit " + c.limit + "\n");
            EXPECT_TRUE(Snapshot(root_ / "out").empty());
        }
    }
}

TEST_F(FileCommands, TrimmedFramesAreMeasuredAfterTrimming) {
    Image sprite = Sprite(100, 90, 3, 40);  // a 20 x 10 opaque middle
    WritePng("sprite.png", sprite);
    const Outcome whole = Atlas({"--max-size", "32x32", "-o", Out("sheet"), In("sprite.png")});
    EXPECT_EQ(whole.status, 2);
    EXPECT_NE(whole.err.find("100x90 does not fit"), std::string::npos) << whole.err;
    const Outcome trimmed = Atlas({"--trim", "--max-size", "32x32", "-o", Out("sheet"), In("sprite.png")});
    ASSERT_EQ(trimmed.status, 0) << trimmed.err;
    const Region region = FrameRegion(Out("sheet/sprite.tres"));
    EXPECT_EQ(region.w, 20);
    EXPECT_EQ(region.h, 10);
    EXPECT_TRUE(SameArea(ReadPng(Out("sheet.png")), region, sprite, 40, 40));
}

// Every Godot file an atlas run writes must pass the strict reader, and every
// path it refers to must name a written file (Godot joins a relative path
// with the folder of the file being loaded).
TEST_F(FileCommands, EveryDocumentLoadsWithAwkwardNames) {
    std::vector<std::string> names = {"plain", "with space", "hash #1", "colon: here", "-leading",
                                      "caf\xC3\xA9", "deep/er/walk_2", "quote's", "brace{x}[y]"};
#ifndef _WIN32
    // Characters Windows forbids in file names.
    names.insert(names.end(), {"say \"hi\"", "back\\slash", "tab\there", "bad\xFF" "byte"});
#endif
    for (size_t i = 0; i < names.size(); ++i) {
        WritePng("set/" + names[i] + ".png", Sprite(4 + static_cast<int32_t>(i), 5, static_cast<uint32_t>(i), 1));
    }
    for (const char* layout : {"hash", "array"}) {
        const std::string prefix = Out(std::string(layout) + "/sheet");
        const Outcome run = Atlas({"--json", layout, "--trim", "--normal-map", "--colliders", "-o", prefix, In("set")});
        ASSERT_EQ(run.status, 0) << run.err;
        size_t godotFiles = 0;
        for (const auto& entry : fs::recursive_directory_iterator(root_ / "out" / layout)) {
            const std::string extension = entry.path().extension().string();
            if (extension != ".tres" && extension != ".tscn") {
                continue;
            }
            ++godotFiles;
            const GodotText::Result parsed = GodotText::Parse(ReadText(entry.path()));
            ASSERT_TRUE(parsed.ok) << entry.path() << ": " << parsed.error;
            for (const GodotText::Section* ext : parsed.doc.All("ext_resource")) {
                const fs::path target = entry.path().parent_path() / fs::u8path(ext->AttrText("path"));
                EXPECT_TRUE(fs::is_regular_file(target)) << entry.path() << " refers to missing " << target;
            }
        }
        // The sheet, then a texture and a scene per frame.
        EXPECT_EQ(godotFiles, 1 + 2 * names.size()) << layout;

        StrictJson::Value sheet;
        std::string error;
        ASSERT_TRUE(StrictJson::Parser(ReadText(prefix + ".json")).Parse(sheet, error)) << error;
        const StrictJson::Value* frames = sheet.Get("frames");
        ASSERT_NE(frames, nullptr);
        EXPECT_EQ(std::string(layout) == "hash" ? frames->members.size() : frames->items.size(), names.size());
    }
}

#ifndef _WIN32
TEST_F(FileCommands, NamesThatDifferOnlyInNonUtf8BytesCollide) {
    WritePng("set/bad\xFE.png", Sprite(3, 3, 1));
    WritePng("set/bad\xFF.png", Sprite(3, 3, 2));
    const Outcome run = Atlas({"-o", Out("sheet"), In("set")});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("both give the frame name"), std::string::npos) << run.err;
    EXPECT_TRUE(Snapshot(root_ / "out").empty());
}
#endif

// Two names that Windows or macOS take for one file name would make one
// frame's files overwrite the other's there. Each pair comes from its own
// folder, so both files exist side by side on any system; the folders are
// given in reverse so the message's order is the names' order.
TEST_F(FileCommands, NamesThatWindowsOrMacOsTakeForOneFileAreRefused) {
    struct Case {
        const char* what;
        std::string first;  // the name that sorts first
        std::string second;
        std::string reason;
    };
    const std::string windowsAndMac = "differ only in case; their files would collide on Windows and macOS";
    const Case cases[] = {
        {"ASCII case", "UP", "up", windowsAndMac},
        {"case in a folder of the name", "Hero/walk_0", "hero/walk_0", windowsAndMac},
        {"accented capitals", "\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", windowsAndMac},
        {"final and other sigma", "\xCF\x82", "\xCF\x83", windowsAndMac},
        // Folding keeps the dotless i apart; Windows upper-cases both to I.
        {"dotless i", "i", "\xC4\xB1", "differ only in case; their files would collide on Windows"},
        // Full case folding turns the sharp s into ss.
        {"sharp s", "STRASSE", "Stra\xC3\x9F" "e",
         "are equal under Unicode case folding; their files may collide on case-insensitive file systems"},
        {"composed and decomposed accent", "cafe\xCC\x81", "caf\xC3\xA9",
         "differ only in how accents are encoded; their files would collide on macOS"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string folder = "clash" + std::to_string(i);
        WritePng(folder + "/a/" + c.first + ".png", Sprite(3, 3, 1));
        WritePng(folder + "/b/" + c.second + ".png", Sprite(4, 4, 2));
        const Outcome run = Atlas({"-o", Out("sheet"), In(folder + "/b"), In(folder + "/a")});
        EXPECT_EQ(run.status, 2) << c.what;
        EXPECT_EQ(run.err, "velmora2d: " + In(folder + "/a") + "/" + c.first + ".png, " + In(folder + "/b") + "/" +
                               c.second + ".png: the frame names '" + c.first + "' and '" + c.second + "' " +
                               c.reason + "\n")
            << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_TRUE(Snapshot(root_ / "out").empty()) << c.what;
    }
}

// Names alike but not one file anywhere still pack, each frame into its own
// per-frame file (sizes differ, so a file written twice would show).
TEST_F(FileCommands, NamesThatOnlyLookAlikeStillPack) {
    const std::vector<std::vector<std::string>> sets = {
        {"e", "\xC3\xA9"},               // e, é
        {"s", "\xC3\x9F"},               // ß folds to ss, not s
        {"UP", "UP_1", "UPS"},           // same start
        {"i", "\xC4\xB0"},               // İ folds to i and a dot above, not i
        {"Hero/walk_0", "hero/walk_1"},  // folders may merge; their files differ
    };
    for (size_t i = 0; i < sets.size(); ++i) {
        std::vector<std::string> args = {"-o", Out("set" + std::to_string(i) + "/sheet")};
        for (size_t k = 0; k < sets[i].size(); ++k) {
            const std::string folder = "set" + std::to_string(i) + "/" + std::to_string(k);
            WritePng(folder + "/" + sets[i][k] + ".png", Sprite(3 + static_cast<int32_t>(k), 2, 1));
            args.push_back(In(folder));
        }
        const Outcome run = Atlas(args);
        ASSERT_EQ(run.status, 0) << i << ": " << run.err;
        for (size_t k = 0; k < sets[i].size(); ++k) {
            SCOPED_TRACE(sets[i][k]);
            const fs::path tres =
                root_ / "out" / ("set" + std::to_string(i)) / "sheet" / fs::u8path(sets[i][k] + ".tres");
            ASSERT_TRUE(fs::is_regular_file(tres));
            EXPECT_EQ(FrameRegion(tres).w, 3 + static_cast<int>(k));
        }
    }
}

// A prefix whose last part is nothing, "." or ".." names a folder, not the
// files' name: "-o .." once wrote "...png" and every frame into the parent.
TEST_F(FileCommands, OutputPrefixMustEndInAName) {
    WritePng("a.png", Sprite(3, 3, 1));
    // Bare forms resolve against the working folder: make it one whose
    // surroundings the test watches.
    const fs::path cwd = root_ / "out" / "cwd" / "here";
    fs::create_directories(cwd);
    const fs::path previous = fs::current_path();
    fs::current_path(cwd);
    const std::string out = Out("");
    const std::string refused[] = {
        "", ".", "..", "./", "../..", ".\\", "dir/", "dir\\", "dir/.", "dir/..", "dir\\..",
        out + ".", out + "..", out + "dir/.", "C:", "C:..",
    };
    for (const std::string& prefix : refused) {
        const Outcome run = Atlas({"-o", prefix, In("a.png")});
        EXPECT_EQ(run.status, 1) << "'" << prefix << "'";
        EXPECT_NE(run.err.find("--output needs a file name prefix, not a folder: '" + prefix + "'"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("--atlas --help"), std::string::npos) << run.err;
    }
    const auto untouched = Snapshot(root_ / "out");
    EXPECT_EQ(untouched.size(), 2U) << "only cwd/ and cwd/here/: " << FirstDifference(untouched, {});
    // Dots inside the last part, or "." and ".." before it, are fine.
    const std::string accepted[] = {"sheet", "./dot", "../up", ".hidden", "dir/x..y", out + "full"};
    for (const std::string& prefix : accepted) {
        const Outcome run = Atlas({"-o", prefix, In("a.png")});
        EXPECT_EQ(run.status, 0) << "'" << prefix << "': " << run.err;
        EXPECT_TRUE(fs::is_regular_file(prefix + ".png")) << prefix;
        EXPECT_TRUE(fs::is_regular_file(prefix + "/a.tres")) << prefix;
    }
    fs::current_path(previous);
}

TEST_F(FileCommands, HelpGoesToStandardOutput) {
    for (auto* command : {Velmora::Commands::RunAtlas, Velmora::Commands::RunNormalMap,
                          Velmora::Commands::RunColliders}) {
        const Outcome help = Call(command, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: velmora2d --", 0), 0U) << help.out;
        EXPECT_EQ(help.err, "");
    }
}

TEST_F(FileCommands, AtlasNormalMapHoldsEachFramesOwnMapAtItsRectangle) {
    // Opaque neighbours with very different colours: a map computed on the
    // atlas rather than on each frame alone would bleed across the seam.
    const Image dark = Sprite(9, 7, 21);
    Image light = Sprite(6, 11, 22);
    for (uint32_t& pixel : light.pixels) {
        pixel |= 0xFFF0F0F0U;
    }
    WritePng("dark.png", dark);
    WritePng("light.png", light);
    // No extrusion: it would make edge replication and bleeding look alike.
    const Outcome run = Atlas({"--normal-map", "--strength", "2.5", "-o", Out("sheet"),
                               In("dark.png"), In("light.png")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Image atlas = ReadPng(Out("sheet.png"));
    const Image normals = ReadPng(Out("sheet_n.png"));
    EXPECT_EQ(normals.width, atlas.width);
    EXPECT_EQ(normals.height, atlas.height);
    for (const auto& [name, image] : {std::pair<const char*, const Image*>{"dark", &dark}, {"light", &light}}) {
        Image expected = *image;
        expected.pixels = Velmora::GenerateNormalMap(image->pixels, image->width, image->height, 2.5F);
        EXPECT_TRUE(SameArea(normals, FrameRegion(Out(std::string("sheet/") + name + ".tres")), expected))
            << name << ": not the frame's own normal map";
    }
}

TEST_F(FileCommands, FramesTooThinForTheGradientGetTheFlatNormalWithTheirAlpha) {
    // The engine's neutral fill decodes to a zero normal, which lights
    // turn black: the files get the flat normal, alpha kept, and nothing
    // where the frame is (almost) clear.
    struct Case {
        const char* what;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {{"one pixel", 1, 1}, {"two wide", 2, 7}, {"two high", 9, 2}, {"one wide, tall", 1, 12}};
    const uint32_t alphas[] = {0, 4, 5, 130, 255};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image thin = Sprite(c.width, c.height, 31);
        for (size_t i = 0; i < thin.pixels.size(); ++i) {
            thin.pixels[i] = (thin.pixels[i] & 0x00FFFFFFU) | alphas[i % 5] << 24;
        }
        Image expected = thin;
        for (size_t i = 0; i < thin.pixels.size(); ++i) {
            expected.pixels[i] = alphas[i % 5] < 5 ? 0U : (alphas[i % 5] << 24 | 0x00FF7F7FU);
        }
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height);
        WritePng(name + ".png", thin);
        const Outcome single = Call(Velmora::Commands::RunNormalMap, {In(name + ".png"), Out(name + "_n.png")});
        ASSERT_EQ(single.status, 0) << single.err;
        EXPECT_EQ(ReadPng(Out(name + "_n.png")).pixels, expected.pixels) << "--normalmap";
        const Outcome packed = Atlas({"--normal-map", "-o", Out(name + "/sheet"), In(name + ".png")});
        ASSERT_EQ(packed.status, 0) << packed.err;
        EXPECT_EQ(packed.out.rfind("Packed 1 frame into", 0), 0U) << packed.out;
        std::string frameFile = name;
        frameFile.append("/sheet/").append(name);
        EXPECT_TRUE(SameArea(ReadPng(Out(name + "/sheet_n.png")), FrameRegion(Out(frameFile + ".tres")), expected))
            << "--atlas --normal-map";
    }
}

TEST_F(FileCommands, TrimmingLeavesEveryFramesNormalMapAsItWas) {
    // Opaque blocks with clear margins of different widths (one touching an
    // edge): trimmed, a map computed on the cropped frame would repeat the
    // block's own edge pixels where the original has clear ones.
    struct Case {
        const char* name;
        int32_t left, top, right, bottom;
    };
    const Case cases[] = {{"wide", 3, 2, 1, 4}, {"edge", 0, 5, 2, 0}, {"thin", 4, 1, 4, 1}};
    std::vector<std::string> args = {"--trim", "--normal-map", "--strength", "1.5", "-o", Out("trimmed")};
    std::vector<Image> originals;
    for (const Case& c : cases) {
        const Image block = Sprite(6, 5, 51);
        Image frame;
        frame.width = 6 + c.left + c.right;
        frame.height = 5 + c.top + c.bottom;
        frame.pixels.assign(static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height), 0U);
        for (int32_t y = 0; y < 5; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                frame.pixels[Offset((c.top + y) * frame.width + c.left + x)] = block.pixels[Offset(y * 6 + x)] | 0xFF000000U;
            }
        }
        WritePng(std::string(c.name) + ".png", frame);
        args.push_back(In(std::string(c.name) + ".png"));
        originals.push_back(frame);
    }
    const Outcome run = Atlas(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const Image normals = ReadPng(Out("trimmed_n.png"));
    for (size_t i = 0; i < originals.size(); ++i) {
        const Case& c = cases[i];
        const Image& original = originals[i];
        Image whole = original;
        whole.pixels = Velmora::GenerateNormalMap(original.pixels, original.width, original.height, 1.5F);
        const Region region = FrameRegion(Out(std::string("trimmed/") + c.name + ".tres"));
        ASSERT_EQ(region.w, 6) << c.name << ": trimmed to the block";
        EXPECT_TRUE(SameArea(normals, region, whole, c.left, c.top)) << c.name << ": not the whole frame's map, cropped";
    }
}

TEST_F(FileCommands, AnAtlasWrittenInsideTheFolderItPacksIsNeverItsOwnInput) {
    WritePng("sprites/a.png", Sprite(12, 9, 41));
    WritePng("sprites/b.png", Sprite(7, 15, 42));
    WritePng("sprites/atlas_notes.png", Sprite(5, 5, 43));  // named like ours, but the user's
    std::string first;
    std::string firstNormals;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const Outcome packed = Atlas({"--normal-map", "-o", In("sprites/atlas"), In("sprites")});
        ASSERT_EQ(packed.status, 0) << packed.err;
        EXPECT_EQ(packed.out.rfind("Packed 3 frames into", 0), 0U) << packed.out;
        const std::string atlas = ReadText(In("sprites/atlas.png"));
        const std::string normals = ReadText(In("sprites/atlas_n.png"));
        if (run == 0) {
            first = atlas;
            firstNormals = normals;
        }
        EXPECT_EQ(atlas, first) << "the same frames give the same atlas";
        EXPECT_EQ(normals, firstNormals);
    }
    // Named directly, a file is always a frame.
    const Outcome named = Atlas({"-o", Out("again"), In("sprites/atlas.png"), In("sprites/a.png")});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out.rfind("Packed 2 frames", 0), 0U) << named.out;
}

// Pages (-N), scales (@Sx) and normal maps (_n) of this PREFIX are ours in
// its folder; names that only start like them are the user's frames.
TEST_F(FileCommands, EveryImageNamedLikeThisRunsOutputsIsSkipped) {
    struct Case {
        const char* file;
        bool frame;
    };
    const Case cases[] = {
        {"atlas.png", false},         {"atlas_n.png", false},      {"atlas-0.png", false},
        {"atlas-12_n.png", false},    {"atlas@0.5x.png", false},   {"atlas-1@2x_n.png", false},
        {"atlas@2x.png", false},      {"atlas_notes.png", true},   {"atlas-.png", true},
        {"atlas-1b.png", true},       {"atlas@x.png", true},       {"atlas@2.png", true},
        {"atlas-2@0.5x_n_n.png", true}, {"atlasy.png", true},      {"atlas.png.png", true},
        {"my-atlas.png", true},       {"sub/atlas.png", true},
    };
    size_t frames = 0;
    for (const Case& c : cases) {
        WritePng(std::string("sprites/") + c.file, Sprite(4, 4, 7));
        frames += c.frame ? 1 : 0;
    }
    const Outcome packed = Atlas({"-o", In("sprites/atlas"), In("sprites")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    const std::string json = ReadText(In("sprites/atlas.json"));
    for (const Case& c : cases) {
        std::string name = c.file;
        name.resize(name.size() - 4);
        EXPECT_EQ(json.find("\"" + name + "\": {") != std::string::npos, c.frame) << c.file;
    }
    EXPECT_EQ(packed.out.rfind("Packed " + std::to_string(frames) + " frames into", 0), 0U) << packed.out;
}

TEST_F(FileCommands, NormalMapWritesTheEngineResultExactly) {
    const Image sprite = Sprite(23, 11, 14, 2);
    WritePng("sprite.png", sprite);
    for (const char* strength : {"1", "0.25", "inf", "-3e2"}) {
        const std::string out = Out(std::string("n") + strength + ".png");
        const Outcome run = Call(Velmora::Commands::RunNormalMap, {"--strength", strength, In("sprite.png"), out});
        ASSERT_EQ(run.status, 0) << strength << ": " << run.err;
        const Image written = ReadPng(out);
        EXPECT_EQ(written.pixels, Velmora::GenerateNormalMap(sprite.pixels, 23, 11, std::stof(strength)))
            << "strength " << strength;
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"--strength", "steep", In("sprite.png"), Out("x.png")}, 1, "--strength needs a number"},
        {{"--strength", "nan", In("sprite.png"), Out("x.png")}, 1, "--strength needs a number"},
        {{In("sprite.png")}, 1, "needs IN.png and OUT.png"},
        {{In("missing.png"), Out("x.png")}, 2, In("missing.png")},
    };
    for (const Case& c : cases) {
        const Outcome run = Call(Velmora::Commands::RunNormalMap, c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Out("x.png")));
    }
}

TEST_F(FileCommands, CollidersPrintOnePolygonPerRegionInEachFormat) {
    Image image;
    image.width = 12;
    image.height = 6;
    image.pixels.assign(72, 0U);
    for (int y = 1; y < 5; ++y) {
        for (int x = 1; x < 4; ++x) {
            image.pixels[Offset(y * 12 + x)] = 0xFF0000FFU;
            image.pixels[Offset(y * 12 + x + 6)] = 0xFF00FF00U;
        }
    }
    WritePng("two.png", image);
    const Outcome text = Call(Velmora::Commands::RunColliders, {In("two.png")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 2) << text.out;
    EXPECT_NE(text.out.find("1,1"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("10,5"), std::string::npos) << text.out;
    const Outcome json = Call(Velmora::Commands::RunColliders, {"--format", "json", In("two.png")});
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(json.out.front(), '[');
    const Outcome godot = Call(Velmora::Commands::RunColliders, {"--format=godot", In("two.png")});
    ASSERT_EQ(godot.status, 0);
    EXPECT_EQ(godot.out.rfind("[gd_scene", 0), 0U);
    const Outcome alpha = Call(Velmora::Commands::RunColliders, {"--alpha", "256", In("two.png")});
    EXPECT_EQ(alpha.status, 1);
    const Outcome format = Call(Velmora::Commands::RunColliders, {"--format", "svg", In("two.png")});
    EXPECT_EQ(format.status, 1);
    EXPECT_EQ(format.out, "");
}

TEST_F(FileCommands, SpecksLoseTheirCollidersButNoFrameLosesItsLargest) {
    // A 6 x 6 body, and apart from it regions of 1, 4 and 6 pixels.
    Image image;
    image.width = 20;
    image.height = 20;
    image.pixels.assign(400, 0U);
    const auto fill = [&](int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) image.pixels[Offset(y * 20 + x)] = 0xFF3060A0U;
        }
    };
    fill(1, 1, 6, 6);
    fill(15, 15, 1, 1);
    fill(15, 2, 2, 2);
    fill(2, 15, 3, 2);
    WritePng("specks.png", image);
    Image speck;
    speck.width = 5;
    speck.height = 5;
    speck.pixels.assign(25, 0U);
    speck.pixels[12] = 0xFFFFFFFFU;
    WritePng("speck.png", speck);
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* file;
        long polygons;
    };
    const Case cases[] = {
        {"default: regions of up to 4 pixels go", {}, "specks.png", 2},
        {"0 keeps every region", {"--min-area", "0"}, "specks.png", 4},
        {"7 leaves the body alone", {"--min-area=7"}, "specks.png", 1},
        {"a limit above the body still keeps it", {"--min-area", "1000"}, "specks.png", 1},
        {"a frame that is one speck keeps it", {}, "speck.png", 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(In(c.file));
        const Outcome run = Call(Velmora::Commands::RunColliders, args);
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), c.polygons) << c.what << ":\n" << run.out;
    }
    // --atlas --colliders drops the same specks from the frame's scene.
    const Outcome packed = Atlas({"--colliders", "-o", Out("sheet"), In("specks.png")});
    ASSERT_EQ(packed.status, 0) << packed.err;
    const std::string scene = ReadText(Out("sheet/specks.tscn"));
    size_t shapes = 0;
    for (size_t at = scene.find("type=\"CollisionPolygon2D\""); at != std::string::npos;
         at = scene.find("type=\"CollisionPolygon2D\"", at + 1)) {
        ++shapes;
    }
    EXPECT_EQ(shapes, 2U) << scene;
    const Outcome bad = Call(Velmora::Commands::RunColliders, {"--min-area", "-1", In("specks.png")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--min-area needs a whole number"), std::string::npos) << bad.err;
}

}  // namespace

