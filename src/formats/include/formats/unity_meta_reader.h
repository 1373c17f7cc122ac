// The reader of an existing Unity .png.meta: the one parser of a user's
// file on disk among the document builders. It takes back the ids the last
// write gave (the asset guid, and each sprite's internalID and spriteID) so
// that re-packing keeps the references scenes and prefabs hold. Text in,
// records out: no files.
#ifndef VELMORA_FORMATS_UNITY_META_READER_H
#define VELMORA_FORMATS_UNITY_META_READER_H

#include <cstdint>
#include <map>
#include <string>

namespace Velmora::Formats {

// Unity ids kept from an existing .meta file.
struct UnityKeptIds {
    std::string guid;  // empty when none could be read
    struct SpriteIds {
        int64_t internalId = 0;
        std::string spriteId;
    };
    std::map<std::string, SpriteIds> sprites;  // by sprite name
};

// Reads the guid and the per-sprite ids from an existing .png.meta text.
// Never fails: anything unreadable is simply not kept. What it keeps is
// always usable: a guid or spriteId is empty or IsUnityHexId, and a kept
// sprite has a nonzero internalId or a spriteId (or both).
UnityKeptIds ReadUnityKeptIds(const std::string& metaText);

// An asset guid or a spriteID as this tool writes them and keeps them:
// 32 lowercase hex digits, not all zero.
bool IsUnityHexId(const std::string& text);

}  // namespace Velmora::Formats

#endif  // VELMORA_FORMATS_UNITY_META_READER_H
