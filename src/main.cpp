// velmora2d: command dispatcher, usage text, pack report, export pipelines.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#endif

#include "velmora_engine.h"
#include "velmora_gui.h"

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
                 "  Velmora 2D Studio - Commercial Edition v2.4.0\n"
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

// Runs the one command named by argument 1 and returns the exit status.
int Dispatch(int argc, char** argv) {
    const char* programName = argc > 0 ? argv[0] : nullptr;
    if (argc > 1 && std::strcmp(argv[1], "--gui") != 0) {
        const char* command = argv[1];
        if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
            PrintUsage(programName);
            return 0;
        }
        if (std::strcmp(command, "--pack-sample") == 0) {
            return RunPackSample();
        }
        if (std::strcmp(command, "--export-godot") == 0) {
            return RunExportGodot();
        }
        if (std::strcmp(command, "--export-unity") == 0) {
            return RunExportUnity();
        }
        PrintUsage(programName);
        return 1;
    }
    if (!VelmoraGUI::RunGUI(argc, argv)) {
        PrintUsage(programName);
    }
    return 0;
}

#ifndef VELMORA_NO_MAIN
int main(int argc, char** argv) {
#ifdef _WIN32
    // Bare line feeds on every platform: no CRLF translation.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return Dispatch(argc, argv);
}
#endif
