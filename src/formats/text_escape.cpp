#include "formats/text_escape.h"

#include <set>

namespace Velmora::Formats {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char c) { return (c & 0xC0U) == 0x80U; }

// Length of the well-formed UTF-8 sequence starting at `i`, 0 if none.
size_t SequenceLength(const std::string& s, size_t i) {
    const auto c0 = static_cast<unsigned char>(s[i]);
    if (c0 < 0x80U) return 1;
    size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c0 >= 0xC2U && c0 <= 0xDFU) {
        len = 2;
    } else if (c0 >= 0xE0U && c0 <= 0xEFU) {
        len = 3;
        if (c0 == 0xE0U) lo = 0xA0;
        if (c0 == 0xEDU) hi = 0x9F;  // no UTF-16 surrogates
    } else if (c0 >= 0xF0U && c0 <= 0xF4U) {
        len = 4;
        if (c0 == 0xF0U) lo = 0x90;
        if (c0 == 0xF4U) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    const auto c1 = static_cast<unsigned char>(s[i + 1]);
    if (c1 < lo || c1 > hi) return 0;
    for (size_t k = 2; k < len; ++k) {
        if (!IsContinuation(static_cast<unsigned char>(s[i + k]))) return 0;
    }
    return len;
}

const char kHex[] = "0123456789abcdef";

void AppendHex4(std::string& out, unsigned value) {
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(value >> static_cast<unsigned>(shift)) & 0xFU];
    }
}

bool StartsWith(const std::string& s, size_t i, const char* prefix) {
    return s.compare(i, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::string DocumentName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    size_t i = 0;
    while (i < name.size()) {
        const size_t len = name[i] == '\0' ? 0 : SequenceLength(name, i);
        if (len == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(name, i, len);
            i += len;
        }
    }
    return out;
}

namespace Text {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20U || c == 0x7FU) {
                    out += "\\u";
                    AppendHex4(out, c);
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

// Godot's string escapes are a superset of the ones written here (both
// formats read \uXXXX for the other control characters), so one quoting
// serves both.
std::string GodotString(const std::string& utf8) { return JsonString(utf8); }

std::string GodotFlatPoints(const std::vector<Point2D>& points) {
    std::string out;
    for (size_t i = 0; i < points.size(); ++i) {
        if (i != 0) out += ", ";
        out += std::to_string(points[i].x) + ", " + std::to_string(points[i].y);
    }
    return out;
}

namespace {

bool IsPlainSafeChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '.' || c == '/' || c == '-' || c == '(' || c == ')' || c == ' ';
}

// Words a YAML 1.1 reader would take for a bool or null.
bool IsReservedWord(const std::string& s) {
    static const char* const kWords[] = {"true", "false", "yes", "no", "on", "off", "null", "y", "n"};
    std::string lower;
    for (const char ch : s) {
        lower += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
    }
    for (const char* word : kWords) {
        if (lower == word) return true;
    }
    return false;
}

}  // namespace

std::string YamlScalar(const std::string& utf8) {
    // Plain only for a conservative alphabet that starts with a letter or
    // '_' (so it is never read as a number, an indicator or a key), has no
    // edge spaces and no reserved word.
    bool plain = !utf8.empty() && utf8.front() != ' ' && utf8.back() != ' ' &&
                 !IsReservedWord(utf8);
    if (plain) {
        const auto first = static_cast<unsigned char>(utf8.front());
        plain = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z') || first == '_';
    }
    for (size_t i = 0; plain && i < utf8.size(); ++i) {
        plain = IsPlainSafeChar(static_cast<unsigned char>(utf8[i]));
    }
    if (plain) return utf8;

    std::string out = "\"";
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20U || c == 0x7FU) {
                    out += "\\x";
                    out += kHex[c >> 4U];
                    out += kHex[c & 0xFU];
                } else if (StartsWith(utf8, i, "\xC2\x85")) {  // NEL
                    out += "\\N";
                    ++i;
                } else if (StartsWith(utf8, i, "\xE2\x80\xA8")) {  // line separator
                    out += "\\L";
                    i += 2;
                } else if (StartsWith(utf8, i, "\xE2\x80\xA9")) {  // paragraph separator
                    out += "\\P";
                    i += 2;
                } else if (StartsWith(utf8, i, "\xEF\xBB\xBF")) {  // byte order mark
                    out += "\\uFEFF";
                    i += 2;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string Decimal(int64_t num, int64_t den) {
    constexpr int64_t kScale = 1000000;
    const bool negative = (num < 0) != (den < 0) && num != 0;
    const uint64_t n = num < 0 ? 0U - static_cast<uint64_t>(num) : static_cast<uint64_t>(num);
    const uint64_t d = den < 0 ? 0U - static_cast<uint64_t>(den) : static_cast<uint64_t>(den);
    if (d == 0) return "0";
    uint64_t whole = n / d;
    const uint64_t rem = n % d;
    // Round the scaled fraction half away from zero, in integers only.
    uint64_t frac = (rem * kScale * 2 + d) / (2 * d);
    if (frac >= static_cast<uint64_t>(kScale)) {
        whole += 1;
        frac -= static_cast<uint64_t>(kScale);
    }
    std::string out = (negative && (whole != 0 || frac != 0)) ? "-" : "";
    out += std::to_string(whole);
    if (frac != 0) {
        std::string digits = std::to_string(frac);
        digits.insert(0, 6 - digits.size(), '0');
        while (!digits.empty() && digits.back() == '0') digits.pop_back();
        out += '.';
        out += digits;
    }
    return out;
}

std::vector<std::string> UniqueDocumentNames(const std::vector<SheetFrame>& frames) {
    std::vector<std::string> names;
    names.reserve(frames.size());
    std::set<std::string> taken;
    for (const SheetFrame& frame : frames) {
        names.push_back(DocumentName(frame.name));
        taken.insert(names.back());
    }
    std::set<std::string> used;
    for (std::string& name : names) {
        if (used.insert(name).second) continue;
        for (unsigned k = 2;; ++k) {
            std::string candidate = name + "~" + std::to_string(k);
            if (taken.count(candidate) == 0 && used.count(candidate) == 0) {
                name = candidate;
                used.insert(name);
                break;
            }
        }
    }
    return names;
}

uint64_t Hash64(const std::string& domain, const std::string& key, uint64_t seed) {
    // FNV-1a over "domain NUL key", started from a seed-dependent basis,
    // then a splitmix64 finaliser so every input bit reaches every output bit.
    uint64_t h = 0xcbf29ce484222325ULL ^ (seed * 0x9e3779b97f4a7c15ULL);
    auto feed = [&h](unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ULL;
    };
    for (const char c : domain) feed(static_cast<unsigned char>(c));
    feed(0);
    for (const char c : key) feed(static_cast<unsigned char>(c));
    h ^= static_cast<uint64_t>(key.size()) + seed;
    h += 0x9e3779b97f4a7c15ULL;
    h = (h ^ (h >> 30U)) * 0xbf58476d1ce4e5b9ULL;
    h = (h ^ (h >> 27U)) * 0x94d049bb133111ebULL;
    return h ^ (h >> 31U);
}

std::string Hex128(const std::string& domain, const std::string& key) {
    std::string out;
    for (uint64_t seed : {1ULL, 2ULL}) {
        const uint64_t h = Hash64(domain, key, seed);
        for (int shift = 60; shift >= 0; shift -= 4) {
            out += kHex[(h >> static_cast<unsigned>(shift)) & 0xFU];
        }
    }
    if (out.find_first_not_of('0') == std::string::npos) out.back() = '1';
    return out;
}

}  // namespace Text
}  // namespace Velmora::Formats
