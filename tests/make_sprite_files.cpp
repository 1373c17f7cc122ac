// Writes the layered sprite files the real-client stage packs (with the
// tests' own writer): a hero whose tags cover each frame once in every
// direction, and a slime without tags whose frames last differently.
//   velmora_sprite_fixtures FOLDER
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/aseprite_writer.h"

namespace Ase = VelmoraTest::Ase;

namespace {

Ase::Bytes Sprite(const std::vector<uint16_t>& durations, const std::vector<Ase::Tag>& tags) {
    Ase::File file;
    file.width = 12;
    file.height = 10;
    for (size_t k = 0; k < durations.size(); ++k) {
        Ase::Frame frame;
        frame.duration = durations[k];
        if (k == 0) {
            frame.chunks.push_back(Ase::LayerChunk(Ase::Layer{}));
            if (!tags.empty()) frame.chunks.push_back(Ase::TagsChunk(tags));
        }
        // A box that moves and changes colour, so no two frames are alike.
        Ase::Cel cel;
        cel.x = static_cast<int16_t>(k % 6);
        cel.y = static_cast<int16_t>(k % 4);
        cel.width = 6;
        cel.height = 6;
        cel.pixels = Ase::Rgba(std::vector<uint32_t>(36, 0xFF000000U | (0x1F3D5BU * static_cast<uint32_t>(k + 1))));
        frame.chunks.push_back(Ase::CelChunk(cel));
        file.frames.push_back(frame);
    }
    return file.Build();
}

bool Write(const std::string& path, const Ase::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: velmora_sprite_fixtures FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<Ase::Tag> tags = {
        {0, 2, 0, 0, "walk"}, {3, 5, 2, 2, "jump"}, {6, 7, 1, 1, "fall"}, {8, 10, 3, 0, "spin"}, {11, 13, 2, 3, "wave"},
    };
    const bool ok = Write(folder + "/hero.aseprite",
                          Sprite({100, 150, 100, 80, 80, 160, 120, 120, 50, 70, 90, 60, 60, 120}, tags)) &&
                    Write(folder + "/slime.ase", Sprite({200, 100, 300}, {}));
    if (!ok) std::fputs("velmora_sprite_fixtures: cannot write the files\n", stderr);
    return ok ? 0 : 1;
}
