// ExportUnityJson on arbitrary rectangles and atlas sizes: any 32-bit
// numbers and names made of any bytes (quotes, backslashes, control
// characters, NUL, bytes above 0x7F).
//
// The document is parsed by a strict JSON reader (RFC 8259 grammar: no
// trailing commas, no raw control characters in strings, only the standard
// escapes, paired surrogates) and its values are compared with the inputs:
// every name must come back byte for byte, every number as given.
//
// The reader is written here rather than taken from a library because names
// are arbitrary bytes and the exporter writes bytes above 0x7F unchanged:
// the reader treats them as opaque string content, where common JSON
// libraries reject invalid UTF-8, and it also rejects what lenient ones
// accept (duplicate keys, leading zeros, raw tabs in strings).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.h"
#include "velmora_engine.h"

namespace {

using Velmora::Rect2D;
using VelmoraFuzz::Reader;

enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

struct Value {
    Kind kind = Kind::kNull;
    std::string text;  // string contents, number lexeme, "true" or "false"
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;
};

struct Parser {
    const std::string& doc;
    size_t pos;
    int depth;
};

bool AtEnd(const Parser& p) {
    return p.pos >= p.doc.size();
}

void SkipSpace(Parser& p) {
    while (!AtEnd(p) && (p.doc[p.pos] == ' ' || p.doc[p.pos] == '\n' || p.doc[p.pos] == '\r' ||
                         p.doc[p.pos] == '\t')) {
        ++p.pos;
    }
}

bool Consume(Parser& p, char ch) {
    if (AtEnd(p) || p.doc[p.pos] != ch) {
        return false;
    }
    ++p.pos;
    return true;
}

bool ConsumeWord(Parser& p, const std::string& word) {
    if (p.doc.compare(p.pos, word.size(), word) != 0) {
        return false;
    }
    p.pos += word.size();
    return true;
}

bool ReadHex4(Parser& p, uint32_t& unit) {
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        if (AtEnd(p)) {
            return false;
        }
        const char ch = p.doc[p.pos++];
        uint32_t digit = 0;
        if (ch >= '0' && ch <= '9') {
            digit = static_cast<uint32_t>(ch - '0');
        } else if (ch >= 'a' && ch <= 'f') {
            digit = static_cast<uint32_t>(ch - 'a' + 10);
        } else if (ch >= 'A' && ch <= 'F') {
            digit = static_cast<uint32_t>(ch - 'A' + 10);
        } else {
            return false;
        }
        unit = unit * 16 + digit;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool ReadUnicodeEscape(Parser& p, std::string& out) {
    uint32_t unit = 0;
    if (!ReadHex4(p, unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) {
        return false;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        uint32_t low = 0;
        if (!ConsumeWord(p, "\\u") || !ReadHex4(p, low) || low < 0xDC00 || low > 0xDFFF) {
            return false;
        }
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, unit);
    return true;
}

bool ReadString(Parser& p, std::string& out) {
    if (!Consume(p, '"')) {
        return false;
    }
    while (!AtEnd(p)) {
        const char ch = p.doc[p.pos++];
        if (ch == '"') {
            return true;
        }
        if (static_cast<unsigned char>(ch) < 0x20) {
            return false;
        }
        if (ch != '\\') {
            out += ch;  // bytes above 0x7F are opaque content
            continue;
        }
        if (AtEnd(p)) {
            return false;
        }
        const char kind = p.doc[p.pos++];
        switch (kind) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u':
                if (!ReadUnicodeEscape(p, out)) {
                    return false;
                }
                break;
            default: return false;
        }
    }
    return false;
}

bool IsDigit(const Parser& p) {
    return !AtEnd(p) && p.doc[p.pos] >= '0' && p.doc[p.pos] <= '9';
}

bool ReadNumber(Parser& p, std::string& lexeme) {
    const size_t start = p.pos;
    Consume(p, '-');
    if (Consume(p, '0')) {
        // no leading zeros
    } else if (IsDigit(p)) {
        while (IsDigit(p)) ++p.pos;
    } else {
        return false;
    }
    if (Consume(p, '.')) {
        if (!IsDigit(p)) return false;
        while (IsDigit(p)) ++p.pos;
    }
    if (Consume(p, 'e') || Consume(p, 'E')) {
        if (!Consume(p, '+')) Consume(p, '-');
        if (!IsDigit(p)) return false;
        while (IsDigit(p)) ++p.pos;
    }
    lexeme = p.doc.substr(start, p.pos - start);
    return true;
}

bool ReadValue(Parser& p, Value& value);

bool ReadArray(Parser& p, Value& value) {
    value.kind = Kind::kArray;
    SkipSpace(p);
    if (Consume(p, ']')) {
        return true;
    }
    do {
        value.items.emplace_back();
        if (!ReadValue(p, value.items.back())) {
            return false;
        }
        SkipSpace(p);
    } while (Consume(p, ','));
    return Consume(p, ']');
}

bool ReadObject(Parser& p, Value& value) {
    value.kind = Kind::kObject;
    SkipSpace(p);
    if (Consume(p, '}')) {
        return true;
    }
    do {
        SkipSpace(p);
        std::string key;
        if (!ReadString(p, key)) {
            return false;
        }
        for (const auto& member : value.members) {
            if (member.first == key) {
                return false;
            }
        }
        SkipSpace(p);
        if (!Consume(p, ':')) {
            return false;
        }
        value.members.emplace_back(key, Value{});
        if (!ReadValue(p, value.members.back().second)) {
            return false;
        }
        SkipSpace(p);
    } while (Consume(p, ','));
    return Consume(p, '}');
}

bool ReadValue(Parser& p, Value& value) {
    SkipSpace(p);
    if (AtEnd(p) || p.depth > 16) {
        return false;
    }
    const char ch = p.doc[p.pos];
    if (ch == '{' || ch == '[') {
        ++p.pos;
        ++p.depth;
        const bool ok = ch == '{' ? ReadObject(p, value) : ReadArray(p, value);
        --p.depth;
        return ok;
    }
    if (ch == '"') {
        value.kind = Kind::kString;
        return ReadString(p, value.text);
    }
    for (const char* word : {"true", "false"}) {
        if (ConsumeWord(p, word)) {
            value.kind = Kind::kBool;
            value.text = word;
            return true;
        }
    }
    if (ConsumeWord(p, "null")) {
        value.kind = Kind::kNull;
        return true;
    }
    value.kind = Kind::kNumber;
    return ReadNumber(p, value.text);
}

// The members of `object`, which must carry exactly `keys`, in this order.
const Value& Member(const Value& object, size_t index, const char* key) {
    FUZZ_CHECK(object.kind == Kind::kObject);
    FUZZ_CHECK(index < object.members.size());
    FUZZ_CHECK(object.members[index].first == key);
    return object.members[index].second;
}

void CheckInteger(const Value& value, int32_t expected) {
    FUZZ_CHECK(value.kind == Kind::kNumber);
    FUZZ_CHECK(value.text == std::to_string(expected));
}

void CheckFalse(const Value& value) {
    FUZZ_CHECK(value.kind == Kind::kBool && value.text == "false");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const int32_t atlasWidth = VelmoraFuzz::TakeInt32(in);
    const int32_t atlasHeight = VelmoraFuzz::TakeInt32(in);
    std::vector<Rect2D> rects(VelmoraFuzz::TakeCount(in, 6));
    for (Rect2D& rect : rects) {
        rect = VelmoraFuzz::TakeRect(in, 24);
    }

    const std::string document = Velmora::ExportUnityJson(rects, atlasWidth, atlasHeight);

    // No name may add or remove a line, and line ends are bare line feeds.
    size_t lineFeeds = 0;
    for (const char ch : document) {
        FUZZ_CHECK(ch != '\r' && ch != '\t');
        lineFeeds += ch == '\n' ? 1 : 0;
    }
    FUZZ_CHECK(lineFeeds == 8 + 6 * rects.size());
    FUZZ_CHECK(document.size() >= 2 && document.compare(document.size() - 2, 2, "}\n") == 0);

    Parser parser{document, 0, 0};
    Value root;
    FUZZ_CHECK(ReadValue(parser, root));
    SkipSpace(parser);
    FUZZ_CHECK(AtEnd(parser));

    FUZZ_CHECK(root.members.size() == 2);
    const Value& frames = Member(root, 0, "frames");
    FUZZ_CHECK(frames.kind == Kind::kArray);
    FUZZ_CHECK(frames.items.size() == rects.size());
    for (size_t k = 0; k < rects.size(); ++k) {
        const Value& frame = frames.items[k];
        FUZZ_CHECK(frame.members.size() == 4);
        const Value& filename = Member(frame, 0, "filename");
        FUZZ_CHECK(filename.kind == Kind::kString);
        FUZZ_CHECK(filename.text == rects[k].name);
        const Value& box = Member(frame, 1, "frame");
        FUZZ_CHECK(box.members.size() == 4);
        CheckInteger(Member(box, 0, "x"), rects[k].x);
        CheckInteger(Member(box, 1, "y"), rects[k].y);
        CheckInteger(Member(box, 2, "w"), rects[k].w);
        CheckInteger(Member(box, 3, "h"), rects[k].h);
        CheckFalse(Member(frame, 2, "rotated"));
        CheckFalse(Member(frame, 3, "trimmed"));
    }
    const Value& meta = Member(root, 1, "meta");
    FUZZ_CHECK(meta.members.size() == 2);
    const Value& app = Member(meta, 0, "app");
    FUZZ_CHECK(app.kind == Kind::kString && app.text == "Velmora 2D Studio");
    const Value& atlasSize = Member(meta, 1, "size");
    FUZZ_CHECK(atlasSize.members.size() == 2);
    CheckInteger(Member(atlasSize, 0, "w"), atlasWidth);
    CheckInteger(Member(atlasSize, 1, "h"), atlasHeight);
    return 0;
}
