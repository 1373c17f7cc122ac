// ReadUnityKeptIds, the one reader of a file the user has on disk (the
// .png.meta an earlier run wrote, possibly rewritten by Unity), and its
// round trip with BuildUnityMeta. Each input is used twice:
//
// 1. As text, read as it is: the reader never crashes or hangs, and what it
//    keeps is usable (a guid or spriteID is empty or 32 lowercase hex
//    digits, not all zero; every kept sprite has an id).
// 2. As the recipe of a sheet: frame names of any bytes (quotes, '#', ':',
//    line ends, NUL, invalid UTF-8, names that only differ before their
//    mapping to UTF-8 or that clash with the "~2" suffixes), geometry from
//    the whole 32-bit range, polygons, and kept ids: those read in step 1
//    plus more from the input (valid, invalid, zero, clashing, for names in
//    the sheet and not). BuildUnityMeta writes it; the ids it decided are
//    taken from the document's lines here, without the reader (the layout
//    is fixed: per sprite, in frame order, one "      spriteID: " and one
//    "      internalID: " line), and ReadUnityKeptIds must give back exactly
//    those under each frame's document name, and the guid as written.
//    Kept ids that no other frame claims must have been used, and writing
//    again with what was read must give the same bytes: a re-pack that
//    changes nothing changes no reference.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "formats/sheet.h"
#include "formats/text_escape.h"
#include "formats/unity_meta_reader.h"
#include "fuzz_input.h"
#include "velmora_engine.h"

namespace {

namespace Formats = Velmora::Formats;
using VelmoraFuzz::Reader;

// Checked here rather than with the library's IsUnityHexId, so a wrong
// definition there does not pass unnoticed.
bool IsHexId(const std::string& text) {
    if (text.size() != 32) {
        return false;
    }
    bool nonZero = false;
    for (const char ch : text) {
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) {
            return false;
        }
        nonZero = nonZero || ch != '0';
    }
    return nonZero;
}

void CheckKept(const Formats::UnityKeptIds& kept) {
    FUZZ_CHECK(kept.guid.empty() || IsHexId(kept.guid));
    for (const auto& sprite : kept.sprites) {
        FUZZ_CHECK(sprite.second.internalId != 0 || !sprite.second.spriteId.empty());
        FUZZ_CHECK(sprite.second.spriteId.empty() || IsHexId(sprite.second.spriteId));
    }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A decimal integer exactly as std::to_string writes it.
int64_t ParseId(const std::string& text) {
    int64_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    FUZZ_CHECK(result.ec == std::errc() && result.ptr == text.data() + text.size());
    FUZZ_CHECK(std::to_string(value) == text);
    return value;
}

// The ids a written .meta gives its sprites, in frame order, from the three
// places it lists them.
struct WrittenIds {
    std::string guid;
    std::vector<std::string> spriteIds;       // spriteSheet.sprites[].spriteID
    std::vector<int64_t> internalIds;         // spriteSheet.sprites[].internalID
    std::vector<int64_t> tableIds;            // internalIDToNameTable[].first.213
    std::vector<int64_t> fileIds;             // nameFileIdTable values
};

WrittenIds ReadWritten(const std::string& meta) {
    const std::vector<std::string> lines = VelmoraFuzz::SplitLines(meta);
    FUZZ_CHECK(lines.size() > 2 && lines[0] == "fileFormatVersion: 2" && StartsWith(lines[1], "guid: ") &&
               lines[2] == "TextureImporter:");
    WrittenIds ids;
    ids.guid = lines[1].substr(6);
    bool inFileIds = false;
    for (const std::string& line : lines) {
        // First: a frame named "spriteID" has the line "      spriteID: ID" here.
        if (inFileIds && StartsWith(line, "      ")) {
            // NAME: ID, NAME a YAML scalar that may hold ": " itself.
            const size_t colon = line.rfind(": ");
            FUZZ_CHECK(colon != std::string::npos);
            ids.fileIds.push_back(ParseId(line.substr(colon + 2)));
            continue;
        }
        inFileIds = line == "    nameFileIdTable:";
        if (StartsWith(line, "      spriteID: ")) {
            ids.spriteIds.push_back(line.substr(16));
        } else if (StartsWith(line, "      internalID: ")) {
            ids.internalIds.push_back(ParseId(line.substr(18)));
        } else if (StartsWith(line, "      213: ")) {
            ids.tableIds.push_back(ParseId(line.substr(11)));
        }
    }
    return ids;
}

// 32 hex digits from 16 input bytes; `upper` writes A-F, which a kept id
// must not have.
std::string TakeHexId(Reader& in, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 16; ++i) {
        const uint8_t byte = VelmoraFuzz::TakeByte(in);
        id += digits[byte >> 4];
        id += digits[byte & 15];
    }
    return id;
}

int64_t TakeInt64(Reader& in) {
    const uint64_t low = VelmoraFuzz::TakeU32(in);
    const uint64_t high = VelmoraFuzz::TakeU32(in);
    return static_cast<int64_t>((high << 32) | low);
}

Formats::Sheet TakeSheet(Reader& in, bool colliders) {
    Formats::Sheet sheet;
    sheet.imageFile = "atlas.png";
    sheet.width = VelmoraFuzz::TakeInt32(in);
    sheet.height = VelmoraFuzz::TakeInt32(in);
    sheet.colliders = colliders;
    sheet.frames.resize(VelmoraFuzz::TakeCount(in, 24));
    std::string previous;
    for (Formats::SheetFrame& frame : sheet.frames) {
        const uint8_t how = VelmoraFuzz::TakeByte(in);
        switch (how & 3) {
            case 0: frame.name = VelmoraFuzz::TakeText(in, 16); break;
            case 1: frame.name = previous; break;  // the same name twice
            case 2: frame.name = previous + "~" + std::to_string((how >> 2) % 4 + 1); break;
            default: frame.name = Formats::DocumentName(previous); break;  // same after the mapping
        }
        previous = frame.name;
        frame.x = VelmoraFuzz::TakeInt32(in);
        frame.y = VelmoraFuzz::TakeInt32(in);
        frame.w = VelmoraFuzz::TakeInt32(in);
        frame.h = VelmoraFuzz::TakeInt32(in);
        frame.trimmed = (how & 4) != 0;
        if ((how & 8) != 0) {
            frame.sourceW = VelmoraFuzz::TakeInt32(in);
            frame.sourceH = VelmoraFuzz::TakeInt32(in);
            frame.offsetX = VelmoraFuzz::TakeInt32(in);
            frame.offsetY = VelmoraFuzz::TakeInt32(in);
        } else {
            frame.sourceW = frame.w;
            frame.sourceH = frame.h;
        }
        if (colliders) {
            frame.polygons.resize(VelmoraFuzz::TakeCount(in, 2));
            for (auto& polygon : frame.polygons) {
                polygon.resize(VelmoraFuzz::TakeCount(in, 4));
                for (Velmora::Point2D& point : polygon) {
                    point.x = VelmoraFuzz::TakeInt32(in);
                    point.y = VelmoraFuzz::TakeInt32(in);
                }
            }
        }
    }
    // As the callers give them: in bytewise name order.
    std::stable_sort(sheet.frames.begin(), sheet.frames.end(),
                     [](const Formats::SheetFrame& a, const Formats::SheetFrame& b) { return a.name < b.name; });
    return sheet;
}

// Adds kept ids for names in the sheet (as written, raw, or near them) and
// others, some of them invalid and some claimed by two names.
void TakeKept(Reader& in, const Formats::Sheet& sheet, const std::vector<std::string>& names,
              Formats::UnityKeptIds& kept) {
    const size_t count = VelmoraFuzz::TakeCount(in, 16);
    Formats::UnityKeptIds::SpriteIds last;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t how = VelmoraFuzz::TakeByte(in);
        const size_t frame = names.empty() ? 0 : VelmoraFuzz::TakeByte(in) % names.size();
        std::string name;
        switch (names.empty() ? 2 : how & 3) {
            case 0: name = names[frame]; break;
            case 1: name = sheet.frames[frame].name; break;
            case 2: name = VelmoraFuzz::TakeText(in, 16); break;
            default: name = names[frame] + "~2"; break;
        }
        Formats::UnityKeptIds::SpriteIds ids;
        switch ((how >> 2) & 3) {
            case 0: ids.internalId = 0; break;
            case 1: ids.internalId = VelmoraFuzz::TakeInt32(in); break;
            case 2: ids.internalId = TakeInt64(in); break;
            default: ids.internalId = last.internalId; break;  // a clash
        }
        switch ((how >> 4) & 3) {
            case 0: ids.spriteId = (how & 64) != 0 ? "" : VelmoraFuzz::TakeText(in, 40); break;
            case 1: ids.spriteId = TakeHexId(in, false); break;  // all zero when the input runs out
            case 2: ids.spriteId = TakeHexId(in, (how & 64) != 0); break;
            default: ids.spriteId = last.spriteId; break;  // a clash
        }
        kept.sprites[name] = ids;
        last = ids;
    }
}

void CheckRoundTrip(Reader& in, const Formats::UnityKeptIds& fromText) {
    const uint8_t flags = VelmoraFuzz::TakeByte(in);
    const Formats::Sheet sheet = TakeSheet(in, (flags & 1) != 0);
    const std::vector<std::string> names = Formats::Text::UniqueDocumentNames(sheet.frames);
    FUZZ_CHECK(names.size() == sheet.frames.size());

    Formats::UnityKeptIds kept = (flags & 2) != 0 ? fromText : Formats::UnityKeptIds();
    if ((flags & 4) != 0) {
        kept.guid = TakeHexId(in, false);
        if (!IsHexId(kept.guid)) {
            kept.guid.clear();
        }
    }
    TakeKept(in, sheet, names, kept);
    // As the atlas command chooses them.
    const std::string guid = kept.guid.empty() ? Formats::UnityGuidFor(VelmoraFuzz::TakeText(in, 16)) : kept.guid;
    const std::string normalGuid = (flags & 8) != 0 ? Formats::UnityGuidFor(VelmoraFuzz::TakeText(in, 16)) : "";
    FUZZ_CHECK(IsHexId(guid) && (normalGuid.empty() || IsHexId(normalGuid)));

    const std::string meta = Formats::BuildUnityMeta(sheet, guid, kept, normalGuid);
    const WrittenIds written = ReadWritten(meta);
    FUZZ_CHECK(written.guid == guid);
    FUZZ_CHECK(written.spriteIds.size() == names.size());
    FUZZ_CHECK(written.internalIds.size() == names.size());
    FUZZ_CHECK(written.tableIds == written.internalIds);
    FUZZ_CHECK(written.fileIds == written.internalIds);

    // What the writer decided: valid ids, one per sprite, each used once.
    std::set<std::string> spriteIds;
    std::set<int64_t> internalIds;
    for (size_t i = 0; i < names.size(); ++i) {
        FUZZ_CHECK(IsHexId(written.spriteIds[i]));
        FUZZ_CHECK(written.internalIds[i] != 0);
        FUZZ_CHECK(spriteIds.insert(written.spriteIds[i]).second);
        FUZZ_CHECK(internalIds.insert(written.internalIds[i]).second);
    }
    // A kept id that no other frame of the sheet claims is the one written.
    for (size_t i = 0; i < names.size(); ++i) {
        const auto mine = kept.sprites.find(names[i]);
        if (mine == kept.sprites.end()) {
            continue;
        }
        bool internalClaimed = mine->second.internalId == 0;
        bool spriteClaimed = !IsHexId(mine->second.spriteId);
        for (size_t j = 0; j < names.size(); ++j) {
            const auto other = kept.sprites.find(names[j]);
            if (j == i || other == kept.sprites.end()) {
                continue;
            }
            internalClaimed = internalClaimed || other->second.internalId == mine->second.internalId;
            spriteClaimed = spriteClaimed || other->second.spriteId == mine->second.spriteId;
        }
        FUZZ_CHECK(internalClaimed || written.internalIds[i] == mine->second.internalId);
        FUZZ_CHECK(spriteClaimed || written.spriteIds[i] == mine->second.spriteId);
    }

    // Read back: exactly what was written.
    const Formats::UnityKeptIds read = Formats::ReadUnityKeptIds(meta);
    CheckKept(read);
    FUZZ_CHECK(read.guid == written.guid);
    FUZZ_CHECK(read.sprites.size() == names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const auto it = read.sprites.find(names[i]);
        FUZZ_CHECK(it != read.sprites.end());
        FUZZ_CHECK(it->second.internalId == written.internalIds[i]);
        FUZZ_CHECK(it->second.spriteId == written.spriteIds[i]);
    }
    // Re-packing the same sheet keeps every id, so every byte.
    FUZZ_CHECK(Formats::BuildUnityMeta(sheet, read.guid, read, normalGuid) == meta);

    if (!normalGuid.empty()) {
        const Formats::UnityKeptIds normal = Formats::ReadUnityKeptIds(Formats::BuildUnityNormalMapMeta(normalGuid));
        FUZZ_CHECK(normal.guid == normalGuid && normal.sprites.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Formats::UnityKeptIds fromText = Formats::ReadUnityKeptIds(text);
    CheckKept(fromText);

    Reader in = VelmoraFuzz::MakeReader(data, size);
    CheckRoundTrip(in, fromText);
    return 0;
}
