// velmora2d: command dispatcher, usage text, pack report, export pipelines.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>
#endif

#include "commands/commands.h"
#include "velmora_engine.h"
#include "velmora_gui.h"
#include "velmora_version.h"


namespace {

constexpr int32_t kSampleMaxWidth = 128;
constexpr uint8_t kColliderAlphaThreshold = 10;
constexpr int32_t kColliderStep = 2;
constexpr const char* kTexturePath = "res://spritesheet.png";
constexpr const char* kColliderName = "hero_walk_0";

struct PackedSample {
    std::vector<Velmora::SpriteFrame> frames;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Velmora::Rect2D> rects;
    std::vector<uint32_t> atlasPixels;
};

// Every command starts from a fresh sample set packed at 128 pixels; the
// packer cannot fail on it, so its result is not examined.
PackedSample PackSample() {
    PackedSample sample;
    sample.frames = Velmora::CreateSampleSprites();
    Velmora::PackSprites(sample.frames, kSampleMaxWidth, sample.width, sample.height, sample.rects,
                         sample.atlasPixels);
    return sample;
}

int RunPackSample() {
    const PackedSample sample = PackSample();
    std::cout << "Successfully packed " << sample.frames.size() << " frames into " << sample.width
              << "x" << sample.height << " atlas.\n";
    for (const Velmora::Rect2D& rect : sample.rects) {
        std::cout << "  - " << rect.name << " at (" << rect.x << "," << rect.y << ") size "
                  << rect.w << "x" << rect.h << "\n";
    }
    return 0;
}

int RunExportGodot() {
    const PackedSample sample = PackSample();
    const Velmora::SpriteFrame& first = sample.frames.front();
    const std::vector<Velmora::CollisionPolygon> polygons{
        {kColliderName,
         Velmora::GenerateCollisionHull(first.pixels, first.width, first.height,
                                        kColliderAlphaThreshold, kColliderStep)}};
    std::cout << Velmora::ExportGodot4Tres(sample.rects, polygons, kTexturePath);
    return 0;
}

int RunExportUnity() {
    const PackedSample sample = PackSample();
    std::cout << Velmora::ExportUnityJson(sample.rects, sample.width, sample.height);
    return 0;
}

}  // namespace

void PrintUsage(const char* programName) {
    std::cout << "========================================================\n"
                 "  Velmora 2D Studio - Commercial Edition v" VELMORA_VERSION "\n"
                 "  2D Sprite Packing, Normal Mapping & Collider Workstation\n"
                 "========================================================\n\n"
                 "Usage:\n"
                 "  ";
    if (programName == nullptr) {
        // No name to show: the stream stays failed and the rest is dropped.
        std::cout.setstate(std::ios::badbit);
        return;
    }
    std::cout << programName
              << " [options]\n\n"
                 "Options:\n"
                 "  --gui                     Launch native graphical user interface (Default if no args)\n"
                 "  --pack-sample             Generate procedural sprite set & pack atlas\n"
                 "  --export-godot <path>     Export packed atlas to Godot 4 .tres\n"
                 "  --export-unity <path>     Export packed atlas to Unity sprite JSON\n"
                 "  --normalmap               Compute 2D normal map for dynamic lighting\n"
                 "  --colliders               Trace polygon collision hulls\n\n";
}

namespace {

int RunVersion() {
    std::cout << "velmora2d " VELMORA_VERSION "\n";
    return 0;
}

// The fixed commands read nothing after their command word.
struct FixedCommand {
    const char* name;
    int (*run)();
};
constexpr FixedCommand kFixedCommands[] = {
    {"--pack-sample", RunPackSample},
    {"--export-godot", RunExportGodot},
    {"--export-unity", RunExportUnity},
    {"--version", RunVersion},
};

// The file commands take their operands; `bareIsUsage` keeps the usage text
// (status 1) for the command word alone, as the usage text has always listed
// --normalmap and --colliders without operands.
struct FileCommand {
    const char* name;
    int (*run)(const Velmora::Commands::Arguments&, std::ostream&, std::ostream&);
    bool bareIsUsage;
};
constexpr FileCommand kFileCommands[] = {
    {"--atlas", Velmora::Commands::RunAtlas, false},
    {"--normalmap", Velmora::Commands::RunNormalMap, true},
    {"--colliders", Velmora::Commands::RunColliders, true},
};

}  // namespace

// Runs the one command named by argument 1 and returns the exit status.
// `utf8Args`, when given, holds the same arguments as UTF-8 (Windows passes
// `argv` in the ANSI code page, which cannot hold every file name).
int Dispatch(int argc, char** argv, const std::vector<std::string>* utf8Args) {
    const char* programName = argc > 0 ? argv[0] : nullptr;
    if (argc > 1 && std::strcmp(argv[1], "--gui") != 0) {
        const char* command = argv[1];
        if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
            PrintUsage(programName);
            return 0;
        }
        for (const FixedCommand& fixed : kFixedCommands) {
            if (std::strcmp(command, fixed.name) == 0) {
                return fixed.run();
            }
        }
        for (const FileCommand& file : kFileCommands) {
            if (std::strcmp(command, file.name) != 0) {
                continue;
            }
            if (argc == 2 && file.bareIsUsage) {
                break;
            }
            Velmora::Commands::Arguments args;
            for (int i = 2; i < argc; ++i) {
                const bool haveUtf8 = utf8Args != nullptr && utf8Args->size() == static_cast<size_t>(argc);
                args.emplace_back(haveUtf8 ? (*utf8Args)[static_cast<size_t>(i)] : std::string(argv[i]));
            }
            return file.run(args, std::cout, std::cerr);
        }
        PrintUsage(programName);
        return 1;
    }
    if (!VelmoraGUI::RunGUI(argc, argv)) {
        PrintUsage(programName);
    }
    return 0;
}

int Dispatch(int argc, char** argv) { return Dispatch(argc, argv, nullptr); }

#ifndef VELMORA_NO_MAIN
#ifdef _WIN32
namespace {
// The command line as UTF-8, so file names outside the ANSI code page
// reach the file commands intact.
std::vector<std::string> Utf8Arguments() {
    std::vector<std::string> result;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return result;
    }
    for (int i = 0; i < count; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(bytes > 0 ? static_cast<size_t>(bytes) : 1U, '\0');
        if (bytes > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), bytes, nullptr, nullptr);
        }
        arg.pop_back();
        result.push_back(arg);
    }
    LocalFree(static_cast<HLOCAL>(wide));
    return result;
}
}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Bare line feeds on every platform: no CRLF translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const std::vector<std::string> utf8Args = Utf8Arguments();
    return Dispatch(argc, argv, &utf8Args);
#else
    return Dispatch(argc, argv, nullptr);
#endif
}
#endif
