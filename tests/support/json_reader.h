// The one strict JSON reader of the tests and fuzz targets (RFC 8259: no
// trailing commas, no leading zeros, only the standard escapes, paired
// surrogates, no raw control characters in strings, well-formed UTF-8),
// which also refuses duplicate keys in an object and any text after the
// value.
#ifndef VELMORA_TESTS_SUPPORT_JSON_READER_H
#define VELMORA_TESTS_SUPPORT_JSON_READER_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace StrictJson {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;  // a string's contents, or a number as written
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;  // in document order

    // The member named `key`; nullptr when absent (or not an object).
    const Value* Get(const std::string& key) const;
    // Number of a member, NaN-free: throws when absent or not a number.
    double Num(const std::string& key) const;
};

// What the bytes above 0x7F in a string may be.
enum class Bytes {
    Utf8,    // well-formed UTF-8 only, as RFC 8259 asks of a document
    Opaque,  // any bytes, kept as written: for a writer that passes names
             // through unchanged (the engine's legacy Unity export)
};

// Nesting deeper than this many arrays and objects is refused.
constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string text, Bytes bytes = Bytes::Utf8);

    // Parses the whole text; on failure returns false with a reason
    // ("at byte N: why").
    bool Parse(Value& out, std::string& error) const;

private:
    std::string text_;
    Bytes bytes_;
};

// The same in one call.
bool Parse(const std::string& text, Value& out, std::string& error, Bytes bytes = Bytes::Utf8);

}  // namespace StrictJson

#endif  // VELMORA_TESTS_SUPPORT_JSON_READER_H
