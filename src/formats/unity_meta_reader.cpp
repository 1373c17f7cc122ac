// Reading ids back from an existing Unity .png.meta (the layout
// unity_meta.cpp writes, and the one Unity rewrites it to): the asset guid
// and, per entry of spriteSheet.sprites, the name, internalID and spriteID.
// A small line-based YAML reader for just those keys: block structure by
// indentation, plain, single- and double-quoted scalars (with YAML's line
// folding and escapes). Anything else is skipped; nothing fails.
#include "formats/unity_meta_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velmora::Formats {

namespace {

size_t Indent(std::string_view line) {
    size_t n = 0;
    while (n < line.size() && line[n] == ' ') ++n;
    return n;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp >= 0xD800U && cp <= 0xDFFFU) cp = 0xFFFDU;
    if (cp > 0x10FFFFU) cp = 0xFFFDU;
    if (cp < 0x80U) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800U) {
        out += static_cast<char>(0xC0U | (cp >> 6U));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else if (cp < 0x10000U) {
        out += static_cast<char>(0xE0U | (cp >> 12U));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
        out += static_cast<char>(0xF0U | (cp >> 18U));
        out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
        out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
        out += static_cast<char>(0x80U | (cp & 0x3FU));
    }
}

// A YAML scalar that starts at `text[pos]` and may continue on the
// following lines (quoted scalars that Unity folds). Returns false when it
// cannot be read.
bool ReadScalar(const std::vector<std::string_view>& lines, size_t& lineIndex, size_t pos, std::string& value) {
    const std::string_view first = lines[lineIndex];
    value.clear();
    if (pos >= first.size()) return true;
    const char quote = first[pos];
    if (quote != '"' && quote != '\'') {
        std::string_view plain = first.substr(pos);
        plain = plain.substr(0, plain.find(" #"));
        value = std::string(TrimRight(plain));
        return true;
    }
    // Quoted: walk characters across lines, folding each line break into
    // one space (an empty line into a newline), as YAML does.
    size_t li = lineIndex;
    size_t i = pos + 1;
    // How the next line break folds: into a space, into nothing (after an
    // escaped line end), or into nothing more (a blank line gave a '\n').
    enum class Fold { Space, Nothing, AfterBlank } fold = Fold::Space;
    while (li < lines.size() && li < lineIndex + 64) {
        const std::string_view line = lines[li];
        while (i < line.size()) {
            const char c = line[i];
            if (c == quote) {
                if (quote == '\'' && i + 1 < line.size() && line[i + 1] == '\'') {
                    value += '\'';
                    i += 2;
                    continue;
                }
                lineIndex = li;
                return true;
            }
            if (quote == '"' && c == '\\') {
                if (i + 1 >= line.size()) {  // escaped line break: no space
                    fold = Fold::Nothing;
                    break;
                }
                const char e = line[i + 1];
                i += 2;
                int digits = 0;
                switch (e) {
                    case 'n': value += '\n'; break;
                    case 't': value += '\t'; break;
                    case 'r': value += '\r'; break;
                    case '0': value += '\0'; break;
                    case 'a': value += '\a'; break;
                    case 'b': value += '\b'; break;
                    case 'v': value += '\v'; break;
                    case 'f': value += '\f'; break;
                    case 'e': value += '\x1b'; break;
                    case ' ': value += ' '; break;
                    case 'N': AppendUtf8(value, 0x85U); break;
                    case '_': AppendUtf8(value, 0xA0U); break;
                    case 'L': AppendUtf8(value, 0x2028U); break;
                    case 'P': AppendUtf8(value, 0x2029U); break;
                    case 'x': digits = 2; break;
                    case 'u': digits = 4; break;
                    case 'U': digits = 8; break;
                    default: value += e; break;
                }
                if (digits > 0) {
                    uint32_t cp = 0;
                    for (int k = 0; k < digits; ++k, ++i) {
                        const int v = i < line.size() ? HexValue(line[i]) : -1;
                        if (v < 0) return false;
                        cp = (cp << 4U) | static_cast<uint32_t>(v);
                    }
                    AppendUtf8(value, cp);
                }
                continue;
            }
            value += c;
            ++i;
        }
        // Line break inside the quotes.
        if (fold != Fold::Nothing) {
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        }
        ++li;
        if (li >= lines.size()) return false;
        const std::string_view next = lines[li];
        i = 0;
        while (i < next.size() && (next[i] == ' ' || next[i] == '\t')) ++i;
        if (i >= next.size() && fold != Fold::Nothing) {
            value += '\n';
            fold = Fold::AfterBlank;
            continue;
        }
        if (fold == Fold::Space) value += ' ';
        fold = Fold::Space;
    }
    return false;
}

bool ParseInt64(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) i = 1;
    if (i >= text.size()) return false;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const auto digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    out = negative ? static_cast<int64_t>(0U - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

std::string LowerHex32(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const int v = HexValue(c);
        if (v < 0) return "";
        out += "0123456789abcdef"[v];
    }
    return IsUnityHexId(out) ? out : "";
}

struct PendingSprite {
    bool hasName = false;
    std::string name;
    UnityKeptIds::SpriteIds ids;
};

void Keep(UnityKeptIds& kept, const PendingSprite& sprite) {
    // A name seen twice is ambiguous: keep the first, as it is listed first.
    if (sprite.hasName && (sprite.ids.internalId != 0 || !sprite.ids.spriteId.empty())) {
        kept.sprites.emplace(sprite.name, sprite.ids);
    }
}

}  // namespace

bool IsUnityHexId(const std::string& text) {
    if (text.size() != 32) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return text.find_first_not_of('0') != std::string::npos;
}

UnityKeptIds ReadUnityKeptIds(const std::string& metaText) {
    UnityKeptIds kept;
    // Views into the text, not copies: a file of short lines would
    // otherwise take dozens of times its size.
    constexpr size_t kMaxLines = 10000000;
    const std::string_view text(metaText);
    std::vector<std::string_view> lines;
    lines.reserve(std::min<size_t>(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1, kMaxLines));
    size_t start = 0;
    while (start <= text.size() && lines.size() < kMaxLines) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(TrimRight(text.substr(start)));
            break;
        }
        lines.push_back(TrimRight(text.substr(start, end - start)));
        start = end + 1;
    }
    if (!lines.empty() && lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) lines[0].remove_prefix(3);

    size_t sheetIndent = std::string::npos;    // indent of "spriteSheet:"
    size_t spritesIndent = std::string::npos;  // indent of "sprites:"
    size_t itemIndent = std::string::npos;     // column of the items' "- "
    PendingSprite sprite;
    bool inSprite = false;
    for (size_t li = 0; li < lines.size(); ++li) {
        const std::string_view line = lines[li];
        const size_t indent = Indent(line);
        if (indent >= line.size() || line[indent] == '#') continue;
        std::string_view content = line.substr(indent);

        if (indent == 0 && content.compare(0, 5, "guid:") == 0 && kept.guid.empty()) {
            std::string value;
            size_t at = li;
            const size_t valuePos = line.find_first_not_of(' ', 5);
            if (ReadScalar(lines, at, valuePos == std::string_view::npos ? line.size() : valuePos, value)) {
                kept.guid = LowerHex32(value);
            }
            continue;
        }
        // Leaving a block closes what it held.
        if (sheetIndent != std::string::npos && indent <= sheetIndent) {
            if (inSprite) Keep(kept, sprite);
            inSprite = false;
            sheetIndent = spritesIndent = itemIndent = std::string::npos;
        }
        if (spritesIndent != std::string::npos &&
            (indent < spritesIndent || (indent == spritesIndent && content.compare(0, 2, "- ") != 0))) {
            if (inSprite) Keep(kept, sprite);
            inSprite = false;
            spritesIndent = itemIndent = std::string::npos;
        }
        if (sheetIndent == std::string::npos) {
            if (content == "spriteSheet:") sheetIndent = indent;
            continue;
        }
        if (spritesIndent == std::string::npos) {
            if (content == "sprites:") spritesIndent = indent;
            continue;
        }
        // Inside the sprite list.
        size_t keyIndent = indent;
        if (content.compare(0, 2, "- ") == 0 && (itemIndent == std::string::npos || indent == itemIndent)) {
            if (inSprite) Keep(kept, sprite);
            sprite = PendingSprite();
            inSprite = true;
            itemIndent = indent;
            // "- " and any further spaces before the first key, dropped at
            // once (one erase per space was quadratic in a long run of them).
            size_t skip = 2;
            while (skip < content.size() && content[skip] == ' ') ++skip;
            content.remove_prefix(skip);
            keyIndent = indent + skip;
        }
        if (!inSprite || keyIndent != itemIndent + 2) continue;
        const size_t colon = content.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = content.substr(0, colon);
        size_t valuePos = line.size() - content.size() + colon + 1;
        while (valuePos < line.size() && line[valuePos] == ' ') ++valuePos;
        std::string value;
        size_t at = li;
        if (!ReadScalar(lines, at, valuePos, value)) continue;
        if (key == "name") {
            sprite.hasName = true;
            sprite.name = value;
            li = at;
        } else if (key == "internalID") {
            int64_t id = 0;
            if (ParseInt64(value, id)) sprite.ids.internalId = id;
        } else if (key == "spriteID") {
            sprite.ids.spriteId = LowerHex32(value);
        }
    }
    if (inSprite) Keep(kept, sprite);
    return kept;
}

}  // namespace Velmora::Formats
