// The one strict reader of Unity .meta text (the YAML subset Unity writes
// and reads back): LF line ends, no tabs or other control characters,
// well-formed UTF-8, block indentation that returns only to an open
// mapping or sequence, no duplicate key in a mapping, plain and
// double-quoted scalars with only the escapes Unity's writer uses, and
// flat flow mappings ({x: 1, y: 2}) or empty flow collections.
#ifndef VELMORA_TESTS_SUPPORT_UNITY_YAML_READER_H
#define VELMORA_TESTS_SUPPORT_UNITY_YAML_READER_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace UnityYaml {

struct YamlLine {
    size_t indent = 0;   // column of the key after any "- " markers
    std::string key;     // decoded key; empty for a bare flow item
    std::string value;   // raw value text
    size_t markers = 0;  // "- " sequence markers before the key
};

// Decodes a plain or double-quoted scalar; false when malformed.
bool DecodeYamlScalar(const std::string& raw, std::string& out);

// Splits a Unity .meta into lines, checking it as a whole (see above);
// false with "line N: why: text" when it breaks a rule.
bool CheckUnityYaml(const std::string& text, std::vector<YamlLine>& lines, std::string& error);

// The names and ids a sprite sheet's .meta carries, in document order.
struct UnityNames {
    std::vector<std::string> spriteNames, tableNames, fileIdKeys;
    std::vector<std::string> internalIds, tableIds, fileIdValues, spriteIds;
};

UnityNames ReadUnityNames(const std::vector<YamlLine>& lines);

// The raw value of the first `key` at column `indent`; "<absent>" when none.
std::string UnityValue(const std::vector<YamlLine>& lines, size_t indent, const std::string& key);

// Flow mapping "{x: 1.5, y: -2}" -> numbers by key; throws
// std::invalid_argument when the text is not such a mapping of numbers.
std::map<std::string, double> Flow(const std::string& value);

}  // namespace UnityYaml

#endif  // VELMORA_TESTS_SUPPORT_UNITY_YAML_READER_H
