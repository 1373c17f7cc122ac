// velmora2d --normalmap and --colliders on one PNG file.
#include <ostream>

#include "commands/commands.h"
#include "commands/options.h"
#include "commands/pipeline.h"
#include "formats/sheet.h"
#include "io/output_set.h"

namespace Velmora::Commands {

namespace {

constexpr const char* kNormalMapHelp =
    "Usage: velmora2d --normalmap [--strength S] IN.png OUT.png\n"
    "\n"
    "Writes the lighting normal map of IN.png to OUT.png (8-bit RGBA): x in\n"
    "red, y in green, z in blue, alpha copied. A greater strength gives\n"
    "steeper normals.\n"
    "\n"
    "Options:\n"
    "  --strength S   a number, e.g. 0.5, 2 or inf (default: 1.0)\n"
    "  --help         this text\n"
    "\n"
    "Exit status: 0 written, 1 usage error, 2 input or output error (OUT.png\n"
    "is then left as it was).\n";

constexpr const char* kCollidersHelp =
    "Usage: velmora2d --colliders [--alpha A] [--tolerance T] [--format F] IN.png\n"
    "\n"
    "Prints the collision polygons of IN.png's solid regions, one simple\n"
    "polygon per region with holes filled, points on pixel corners (x right,\n"
    "y down, clockwise on screen).\n"
    "\n"
    "Options:\n"
    "  --alpha A       solid from this alpha on, 0-255 (default: 10)\n"
    "  --tolerance T   simplification in pixels (default: 1.0; 0 keeps every\n"
    "                  corner)\n"
    "  --format F      text: one polygon a line, \"x,y\" pairs (default)\n"
    "                  json: an array of polygons of [x, y] points\n"
    "                  godot: a Godot 4 scene with a CollisionPolygon2D each\n"
    "  --help          this text\n"
    "\n"
    "Exit status: 0 printed, 1 usage error, 2 input error.\n";

int RunNormalMapChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    const std::vector<OptionRule> rules = {{"--strength", nullptr, true}, {"--help", "-h", false}};
    ParsedOptions parsed;
    FrameFeatures features;
    const int early = ReadCommandLine("--normalmap", args, rules, kNormalMapHelp, out, err, parsed, features);
    if (early != kGoOn) {
        return early;
    }
    if (parsed.operands.size() != 2) {
        return ReportUsage(err, "--normalmap", "needs IN.png and OUT.png");
    }
    const std::string& input = parsed.operands[0];
    const std::string& output = parsed.operands[1];
    Image image;
    if (!DecodeFile(input, image, err)) {
        return kStatusFailed;
    }
    std::vector<Io::OutputFile> files;
    if (!AddPng(files, output, NormalMapImage(image, features.strength), err)) {
        return kStatusFailed;
    }
    std::string error;
    if (!Io::CommitOutputs(files, error)) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    return kStatusOk;
}

int RunCollidersChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    const std::vector<OptionRule> rules = {{"--alpha", nullptr, true},
                                           {"--tolerance", nullptr, true},
                                           {"--format", nullptr, true},
                                           {"--help", "-h", false}};
    ParsedOptions parsed;
    FrameFeatures features;
    const int early = ReadCommandLine("--colliders", args, rules, kCollidersHelp, out, err, parsed, features);
    if (early != kGoOn) {
        return early;
    }
    const auto format = parsed.values.find("--format");
    const std::string kind = format == parsed.values.end() ? "text" : format->second;
    if (kind != "text" && kind != "json" && kind != "godot") {
        return ReportUsage(err, "--colliders", "--format is 'text', 'json' or 'godot', not '" + kind + "'");
    }
    if (parsed.operands.size() != 1) {
        return ReportUsage(err, "--colliders", "needs exactly one IN.png");
    }
    Image image;
    if (!DecodeFile(parsed.operands[0], image, err)) {
        return kStatusFailed;
    }
    const Formats::Polygons polygons = TraceColliderPolygons(image, features.alpha, features.tolerance);
    // The whole document is built before anything is printed.
    const std::string document =
        kind == "json"    ? Formats::BuildColliderJson(polygons)
        : kind == "godot" ? Formats::BuildColliderGodotScene(polygons, image.width, image.height)
                          : Formats::BuildColliderText(polygons);
    out << document;
    return kStatusOk;
}

}  // namespace

int RunNormalMap(const Arguments& args, std::ostream& out, std::ostream& err) {
    return GuardMemory(err, [&]() { return RunNormalMapChecked(args, out, err); });
}

int RunColliders(const Arguments& args, std::ostream& out, std::ostream& err) {
    return GuardMemory(err, [&]() { return RunCollidersChecked(args, out, err); });
}

}  // namespace Velmora::Commands
