// Text helpers shared by the document builders: the one mapping of frame
// names to valid UTF-8, string escaping for JSON, Godot and YAML, exact
// decimal formatting and the hashes behind stable ids.
#ifndef VELMORA_FORMATS_TEXT_ESCAPE_H
#define VELMORA_FORMATS_TEXT_ESCAPE_H

#include <cstdint>
#include <string>
#include <vector>

#include "formats/sheet.h"

namespace Velmora::Formats::Text {

// JSON string literal (quotes included) of valid UTF-8 text.
std::string JsonString(const std::string& utf8);

// Godot string literal (quotes included) of valid UTF-8 text. Non-ASCII
// stays raw: Godot re-decodes a string's bytes as UTF-8 after unescaping,
// so a \u escape above 0x7F would come back as a broken byte.
std::string GodotString(const std::string& utf8);

// A Godot packed array's flat "x, y, x, y" numbers (Godot reads no nested
// Vector2 there).
std::string GodotFlatPoints(const std::vector<Point2D>& points);

// A YAML scalar for a name: plain when it cannot be misread, otherwise
// double-quoted with escapes.
std::string YamlScalar(const std::string& utf8);

// num / den in decimal, at most 6 fraction digits (rounded half away from
// zero), no trailing zeros: exact and identical on every platform.
std::string Decimal(int64_t num, int64_t den);

// The frames' names as written in the documents: DocumentName of each,
// made unique by appending "~2", "~3", ... to later duplicates.
std::vector<std::string> UniqueDocumentNames(const std::vector<SheetFrame>& frames);

// 64-bit hash of a domain-separated key, well mixed; `seed` picks one of
// independent hash functions.
uint64_t Hash64(const std::string& domain, const std::string& key, uint64_t seed);

// 32 lowercase hex digits from two independent hashes.
std::string Hex128(const std::string& domain, const std::string& key);

}  // namespace Velmora::Formats::Text

#endif  // VELMORA_FORMATS_TEXT_ESCAPE_H
