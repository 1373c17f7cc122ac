// velmora2d --normalmap and --colliders on one PNG file.
#include <ostream>

#include "command_line.h"
#include "commands/commands.h"
#include "frame_features.h"
#include "formats/sheet.h"
#include "io/output_lock.h"
#include "io/output_set.h"
#include "io/png_io.h"
#include "support/report.h"
#include "velmora/collider.h"

namespace Velmora::Commands {

namespace {

using Support::ReportLine;
using Support::ReportProblem;

struct NormalMapSettings {
    FrameFeatures features;
    std::vector<std::string> operands;
};

const CommandTable<NormalMapSettings>& NormalMapTable() {
    static const CommandTable<NormalMapSettings> table{
        "--normalmap",
        "Usage: velmora2d --normalmap [--strength S] IN.png OUT.png\n"
        "\n"
        "Writes the lighting normal map of IN.png to OUT.png (8-bit RGBA): x in\n"
        "red, y in green, z in blue, alpha copied. A greater strength gives\n"
        "steeper normals.\n"
        "\n",
        {
            {{"--strength", nullptr, "S", "a number, e.g. 0.5, 2 or inf (default: 1.0)"},
             [](const std::string& v, NormalMapSettings& s, std::string& e) {
                 return ApplyStrength(v, s.features, e);
             }},
        },
        "\n"
        "Exit status: 0 written, 1 usage error, 2 input or output error (OUT.png\n"
        "is then left as it was).\n",
    };
    return table;
}

struct ColliderSettings {
    FrameFeatures features;
    std::string format = "text";
    std::vector<std::string> operands;
};

const CommandTable<ColliderSettings>& CollidersTable() {
    static const CommandTable<ColliderSettings> table{
        "--colliders",
        "Usage: velmora2d --colliders [--alpha A] [--tolerance T] [--format F] IN.png\n"
        "\n"
        "Prints the collision polygons of IN.png's solid regions, one simple\n"
        "polygon per region with holes filled, points on pixel corners (x right,\n"
        "y down, clockwise on screen).\n"
        "\n",
        {
            {{"--alpha", nullptr, "A", "solid from this alpha on, 0-255 (default: 10)"},
             [](const std::string& v, ColliderSettings& s, std::string& e) { return ApplyAlpha(v, s.features, e); }},
            {{"--tolerance", nullptr, "T", "simplification in pixels (default: 1.0; 0 keeps every\ncorner)"},
             [](const std::string& v, ColliderSettings& s, std::string& e) {
                 return ApplyTolerance(v, s.features, e);
             }},
            {{"--min-area", nullptr, "A",
              "drop polygons enclosing fewer square pixels, except\nthe largest (default: 5; 0 keeps every one)"},
             [](const std::string& v, ColliderSettings& s, std::string& e) { return ApplyMinArea(v, s.features, e); }},
            {{"--format", nullptr, "F",
              "text: one polygon a line, \"x,y\" pairs (default)\n"
              "json: an array of polygons of [x, y] points\n"
              "godot: a Godot 4 scene with a CollisionPolygon2D each"},
             [](const std::string& v, ColliderSettings& s, std::string& e) {
                 if (v != "text" && v != "json" && v != "godot") {
                     e = "--format is 'text', 'json' or 'godot', not '" + v + "'";
                     return false;
                 }
                 s.format = v;
                 return true;
             }},
        },
        "\n"
        "Exit status: 0 printed, 1 usage error, 2 input error.\n",
    };
    return table;
}

bool DecodeFile(const std::string& path, Image& image, std::ostream& err) {
    std::string error;
    if (!Io::ReadPngFile(path, image, error)) {
        ReportProblem(err, path, error);
        return false;
    }
    return true;
}

int RunNormalMapChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    NormalMapSettings settings;
    const int early = ReadCommandLine(NormalMapTable(), args, out, err, settings);
    if (early != kGoOn) {
        return early;
    }
    if (settings.operands.size() != 2) {
        return ReportUsage(err, "--normalmap", "needs IN.png and OUT.png");
    }
    const std::string& input = settings.operands[0];
    const std::string& output = settings.operands[1];
    // Taken first: it refuses a target that is not a regular file, and
    // clears what a killed run on the same output left behind.
    Io::OutputLock lock;
    std::string error;
    if (!lock.Acquire(output, Io::OutputLock::Scope::File, error)) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    Image image;
    if (!DecodeFile(input, image, err)) {
        return kStatusFailed;
    }
    Io::OutputFile file{output, {}};
    if (!Io::EncodePng(NormalMapImage(image, settings.features.strength), file.bytes, error)) {
        ReportProblem(err, output, error);
        return kStatusFailed;
    }
    if (!Io::CommitOutputs(lock, {std::move(file)}, error)) {
        ReportLine(err, error);
        return kStatusFailed;
    }
    return kStatusOk;
}

int RunCollidersChecked(const Arguments& args, std::ostream& out, std::ostream& err) {
    ColliderSettings settings;
    const int early = ReadCommandLine(CollidersTable(), args, out, err, settings);
    if (early != kGoOn) {
        return early;
    }
    if (settings.operands.size() != 1) {
        return ReportUsage(err, "--colliders", "needs exactly one IN.png");
    }
    Image image;
    if (!DecodeFile(settings.operands[0], image, err)) {
        return kStatusFailed;
    }
    const FrameFeatures& features = settings.features;
    const Formats::Polygons polygons = TraceFrame(image, features);
    // The whole document is built before anything is printed.
    const std::string document =
        settings.format == "json"    ? Formats::BuildColliderJson(polygons)
        : settings.format == "godot" ? Formats::BuildColliderGodotScene(polygons, image.width, image.height)
                                     : Formats::BuildColliderText(polygons);
    out << document;
    return kStatusOk;
}

}  // namespace

std::vector<OptionHelp> NormalMapOptions() { return OptionTexts(NormalMapTable()); }
std::vector<OptionHelp> ColliderOptions() { return OptionTexts(CollidersTable()); }

int RunNormalMap(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Support::GuardMemory(err, [&]() { return RunNormalMapChecked(args, out, err); });
}

int RunColliders(const Arguments& args, std::ostream& out, std::ostream& err) {
    return Support::GuardMemory(err, [&]() { return RunCollidersChecked(args, out, err); });
}

}  // namespace Velmora::Commands
