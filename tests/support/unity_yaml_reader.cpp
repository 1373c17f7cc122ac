#include "unity_yaml_reader.h"

#include <cstdint>
#include <initializer_list>
#include <set>
#include <sstream>
#include <stdexcept>

#include "utf8.h"

namespace UnityYaml {

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// NEL, LS and PS, which a YAML 1.1 reader takes for line breaks, and the
// byte order mark: Unity's writer always escapes them.
bool HasRawBreakOrMark(const std::string& s) {
    for (const char* mark : {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xEF\xBB\xBF"}) {
        if (s.find(mark) != std::string::npos) return true;
    }
    return false;
}

// Exactly `count` hex digits at `from`, all before `end`.
bool ReadHex(const std::string& text, size_t from, size_t count, size_t end, uint32_t& value) {
    if (from + count > end) return false;
    value = 0;
    for (size_t k = 0; k < count; ++k) {
        const char c = text[from + k];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
        else return false;
        value = value * 16 + digit;
    }
    return true;
}

bool DecodePlain(const std::string& raw, std::string& out) {
    if (raw.empty()) return true;
    const char first = raw[0];
    const bool signedNumber = first == '-' && raw.size() > 1 && raw[1] >= '0' && raw[1] <= '9';
    if (first == ' ' || (std::string("-?:,[]{}#&*!|>'\"%@`").find(first) != std::string::npos && !signedNumber)) {
        return false;
    }
    if (raw.find(": ") != std::string::npos || raw.find(" #") != std::string::npos) return false;
    if (raw.back() == ' ' || raw.back() == ':') return false;
    for (const char c : raw) {
        if (IsControl(c)) return false;
    }
    out = raw;
    return true;
}

bool DecodeQuoted(const std::string& raw, std::string& out) {
    if (raw.size() < 2 || raw.back() != '"') return false;
    const size_t end = raw.size() - 1;  // the closing quote
    for (size_t i = 1; i < end; ++i) {
        const char c = raw[i];
        if (c == '"' || IsControl(c)) return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= end) return false;
        const char e = raw[i];
        switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'N': out += "\xC2\x85"; break;
            case 'L': out += "\xE2\x80\xA8"; break;
            case 'P': out += "\xE2\x80\xA9"; break;
            case 'x':
            case 'u': {
                const size_t digits = e == 'x' ? 2 : 4;
                uint32_t codePoint = 0;
                if (!ReadHex(raw, i + 1, digits, end, codePoint)) return false;
                if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return false;  // no surrogates
                VelmoraTest::AppendUtf8(out, codePoint);
                i += digits;
                break;
            }
            default: return false;
        }
    }
    return true;
}

// "{}", "[]", or a flat flow mapping "{k: v, k: v}" of plain scalars with
// distinct keys, one space after each ':' and ','.
bool CheckFlow(const std::string& v) {
    if (v == "{}" || v == "[]") return true;
    if (v.size() < 2 || v.front() != '{' || v.back() != '}') return false;
    const std::string body = v.substr(1, v.size() - 2);
    std::set<std::string> keys;
    size_t start = 0;
    while (true) {
        const size_t comma = body.find(", ", start);
        const std::string entry = body.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t colon = entry.find(": ");
        if (colon == std::string::npos) return false;
        const std::string rawKey = entry.substr(0, colon);
        const std::string rawValue = entry.substr(colon + 2);
        std::string key;
        std::string value;
        if (rawKey.empty() || rawValue.empty() || rawKey.find_first_of(",[]{}") != std::string::npos ||
            rawValue.find_first_of(",[]{}") != std::string::npos || rawKey[0] == '"' || rawValue[0] == '"' ||
            !DecodePlain(rawKey, key) || !DecodePlain(rawValue, value) || !keys.insert(key).second) {
            return false;
        }
        if (comma == std::string::npos) return true;
        start = comma + 2;
    }
}

// An open block collection: a mapping (with the keys it has so far) or a
// sequence, at its column.
struct Open {
    size_t column;
    bool sequence;
    std::set<std::string> keys;
};

}  // namespace

bool DecodeYamlScalar(const std::string& raw, std::string& out) {
    out.clear();
    return !raw.empty() && raw[0] == '"' ? DecodeQuoted(raw, out) : DecodePlain(raw, out);
}

bool CheckUnityYaml(const std::string& text, std::vector<YamlLine>& lines, std::string& error) {
    if (text.empty() || text.back() != '\n') {
        error = "no final newline";
        return false;
    }
    if (!VelmoraTest::ValidUtf8(text)) {
        error = "not well-formed UTF-8";
        return false;
    }
    std::vector<Open> open{{0, false, {}}};  // the document's mapping
    bool opener = false;                     // the last line was "key:" opening a block
    size_t openerColumn = 0;
    size_t lineNo = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t stop = text.find('\n', start);
        const std::string line = text.substr(start, stop - start);
        start = stop + 1;
        ++lineNo;
        auto bad = [&](const std::string& why) {
            error = "line " + std::to_string(lineNo);
            error += ": " + why;
            error += ": " + line;
            return false;
        };
        for (const char c : line) {
            if (IsControl(c)) return bad("tab, CR or other control character");
        }
        if (HasRawBreakOrMark(line)) return bad("unescaped NEL, LS, PS or byte order mark");
        size_t indent = 0;
        while (indent < line.size() && line[indent] == ' ') ++indent;
        if (indent % 2 != 0) return bad("odd indentation");
        std::string rest = line.substr(indent);
        YamlLine out;
        while (rest.compare(0, 2, "- ") == 0) {
            rest.erase(0, 2);
            ++out.markers;
        }
        out.indent = indent + 2 * out.markers;
        const bool item = out.markers > 0;

        // Where the line stands: under the key that opened a block, or back
        // in an open collection of its own kind (a mapping for a key, a
        // sequence for a "- " item) at its indentation.
        if (opener) {
            if (indent == openerColumn + 2 || (indent == openerColumn && item)) {
                open.push_back({indent, item, {}});
            } else {
                return bad("unexpected indentation under a block key");
            }
        } else {
            while (!open.empty() && (open.back().column > indent ||
                                     (open.back().column == indent && open.back().sequence != item))) {
                open.pop_back();
            }
            if (open.empty() || open.back().column != indent) return bad("unexpected indentation");
        }
        for (size_t k = 1; k < out.markers; ++k) {
            open.push_back({indent + 2 * k, true, {}});  // "- - ": a sequence in a sequence
        }

        bool keyed = false;
        if (rest.empty()) return bad("no content");
        if (rest[0] == '{' || rest[0] == '[') {
            if (!item) return bad("flow value without a key or '- '");
            out.value = rest;
        } else {
            size_t colon = std::string::npos;
            if (rest[0] == '"') {
                size_t close = 1;
                while (close < rest.size() && rest[close] != '"') close += rest[close] == '\\' ? 2 : 1;
                if (close >= rest.size()) return bad("unclosed quoted key");
                colon = close + 1;
                if (colon >= rest.size() || rest[colon] != ':') return bad("no ':' after quoted key");
            } else {
                colon = rest.find(':');
                if (colon == std::string::npos) return bad("no ':'");
            }
            if (colon == 0 || !DecodeYamlScalar(rest.substr(0, colon), out.key)) return bad("bad key");
            if (colon + 1 < rest.size() && rest[colon + 1] != ' ') return bad("no space after ':'");
            out.value = colon + 2 <= rest.size() ? rest.substr(colon + 2) : "";
            keyed = true;
            if (item) open.push_back({out.indent, false, {}});  // "- key:": a mapping as an item
            if (!open.back().keys.insert(out.key).second) return bad("duplicate key");
        }
        const std::string& v = out.value;
        if (!v.empty() && (v[0] == '{' || v[0] == '[')) {
            if (!CheckFlow(v)) return bad("bad flow value");
        } else if (!v.empty()) {
            std::string decoded;
            if (!DecodeYamlScalar(v, decoded)) return bad("bad scalar");
        }
        // "key:" opens a block; "key: " is an empty scalar.
        opener = keyed && v.empty() && line.back() == ':';
        openerColumn = out.indent;
        lines.push_back(out);
    }
    if (opener) {
        error = "line " + std::to_string(lineNo) + ": block key without contents at the end";
        return false;
    }
    return true;
}

UnityNames ReadUnityNames(const std::vector<YamlLine>& lines) {
    UnityNames n;
    bool inFileIdTable = false;
    for (const YamlLine& l : lines) {
        std::string decoded;
        if (l.key == "nameFileIdTable") {
            inFileIdTable = true;
            continue;
        }
        if (inFileIdTable && l.indent == 6) {
            n.fileIdKeys.push_back(l.key);
            n.fileIdValues.push_back(l.value);
            continue;
        }
        inFileIdTable = false;
        if (l.indent == 6 && l.key == "name") {
            DecodeYamlScalar(l.value, decoded);
            n.spriteNames.push_back(decoded);
        }
        if (l.indent == 6 && l.key == "internalID") n.internalIds.push_back(l.value);
        if (l.indent == 6 && l.key == "spriteID") n.spriteIds.push_back(l.value);
        if (l.indent == 4 && l.key == "second") {
            DecodeYamlScalar(l.value, decoded);
            n.tableNames.push_back(decoded);
        }
        if (l.indent == 6 && l.key == "213") n.tableIds.push_back(l.value);
    }
    return n;
}

std::string UnityValue(const std::vector<YamlLine>& lines, size_t indent, const std::string& key) {
    for (const auto& l : lines) {
        if (l.indent == indent && l.key == key) return l.value;
    }
    return "<absent>";
}

std::map<std::string, double> Flow(const std::string& value) {
    if (value.empty() || value[0] != '{' || !CheckFlow(value)) {
        throw std::invalid_argument("not a flow mapping: " + value);
    }
    std::map<std::string, double> out;
    std::istringstream in(value.substr(1, value.size() - 2));
    std::string part;
    while (std::getline(in, part, ',')) {
        const size_t colon = part.find(':');
        std::string key = part.substr(0, colon);
        key.erase(0, key.find_first_not_of(' '));
        out[key] = std::stod(part.substr(colon + 1));
    }
    return out;
}

}  // namespace UnityYaml
