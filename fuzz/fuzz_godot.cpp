// ExportGodot4Tres on arbitrary rectangles, polygons and texture path: any
// 32-bit numbers, names and paths made of any bytes (quotes, backslashes,
// line ends and other control characters, NUL, bytes above 0x7F).
//
// The document is read back line by line: it must have exactly the lines its
// inputs call for (4 + 5 per rectangle, plus 1 + 3 per polygon when there
// are polygons), each with its fixed text, every number must read back as
// given, the quoted path must close its quotes only at its end and unescape
// to the path, and every name must come back from its comment line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "velmora_engine.h"

namespace {

using Velmora::CollisionPolygon;
using Velmora::Point2D;
using Velmora::Rect2D;
using VelmoraFuzz::Reader;

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// Consumes `literal` at `pos`.
bool Expect(const std::string& line, size_t& pos, const char* literal) {
    const std::string text(literal);
    if (line.compare(pos, text.size(), text) != 0) {
        return false;
    }
    pos += text.size();
    return true;
}

// Consumes a plain decimal integer: optional "-", no leading zeros, no "-0".
bool ReadInt(const std::string& line, size_t& pos, int64_t& value) {
    const bool negative = pos < line.size() && line[pos] == '-';
    size_t at = negative ? pos + 1 : pos;
    const size_t first = at;
    int64_t magnitude = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && at - first < 20) {
        magnitude = magnitude * 10 + (line[at] - '0');
        ++at;
    }
    const size_t digits = at - first;
    if (digits == 0 || digits > 19 || (digits > 1 && line[first] == '0') ||
        (negative && magnitude == 0)) {
        return false;
    }
    value = negative ? -magnitude : magnitude;
    pos = at;
    return true;
}

bool ExpectInt(const std::string& line, size_t& pos, int64_t expected) {
    int64_t value = 0;
    return ReadInt(line, pos, value) && value == expected;
}

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

// Decodes the escapes a control character is written as: \n, \r, \t, \u00XX.
// Only a control character may be written that way.
bool DecodeControl(const std::string& text, size_t& pos, std::string& out) {
    if (pos + 1 >= text.size()) {
        return false;
    }
    const char kind = text[pos + 1];
    if (kind == 'n' || kind == 'r' || kind == 't') {
        out += kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\t';
        pos += 2;
        return true;
    }
    if (kind != 'u' || pos + 6 > text.size() || text[pos + 2] != '0' || text[pos + 3] != '0') {
        return false;
    }
    const int high = HexValue(text[pos + 4]);
    const int low = HexValue(text[pos + 5]);
    if (high < 0 || low < 0 || !IsControl(static_cast<unsigned char>(high * 16 + low))) {
        return false;
    }
    out += static_cast<char>(high * 16 + low);
    pos += 6;
    return true;
}

// Reads the quoted path up to its closing quote, which must stand exactly at
// `end`: an unescaped quote anywhere earlier would close the string early.
bool ReadQuoted(const std::string& line, size_t pos, size_t end, std::string& out) {
    while (pos < end) {
        const char ch = line[pos];
        if (ch == '"' || IsControl(static_cast<unsigned char>(ch))) {
            return false;
        }
        if (ch != '\\') {
            out += ch;
            ++pos;
        } else if (pos + 1 < end && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
            out += line[pos + 1];
            pos += 2;
        } else if (!DecodeControl(line, pos, out) || pos > end) {
            return false;
        }
    }
    return pos == end && end < line.size() && line[end] == '"';
}

// A comment line ends at its line feed, so only control characters are
// escaped there and a backslash stays as written. A name is recovered
// exactly unless it holds a backslash that the decoder could take for the
// start of an escape; the text written must then equal the name with each
// control character replaced by its escape.
void CheckCommentName(const std::string& written, const std::string& name) {
    std::string escaped;
    for (const char ch : name) {
        const auto byte = static_cast<unsigned char>(ch);
        if (!IsControl(byte)) {
            escaped += ch;
        } else if (ch == '\n') {
            escaped += "\\n";
        } else if (ch == '\r') {
            escaped += "\\r";
        } else if (ch == '\t') {
            escaped += "\\t";
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            escaped += "\\u00";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 15];
        }
    }
    FUZZ_CHECK(written == escaped);
    if (name.find('\\') == std::string::npos) {
        std::string decoded;
        size_t pos = 0;
        while (pos < written.size()) {
            FUZZ_CHECK(!IsControl(static_cast<unsigned char>(written[pos])));
            if (written[pos] == '\\') {
                FUZZ_CHECK(DecodeControl(written, pos, decoded));
            } else {
                decoded += written[pos++];
            }
        }
        FUZZ_CHECK(decoded == name);
    }
}

void CheckComment(const std::string& line, const char* prefix, const std::string& name) {
    size_t pos = 0;
    FUZZ_CHECK(Expect(line, pos, prefix));
    CheckCommentName(line.substr(pos), name);
}

void CheckPathLine(const std::string& line, const std::string& path) {
    size_t pos = 0;
    FUZZ_CHECK(Expect(line, pos, "[ext_resource type=\"Texture2D\" path=\""));
    const std::string tail = "\" id=\"1_atlas\"]";
    FUZZ_CHECK(line.size() >= pos + tail.size());
    const size_t end = line.size() - tail.size();
    FUZZ_CHECK(line.compare(end, tail.size(), tail) == 0);
    std::string decoded;
    FUZZ_CHECK(ReadQuoted(line, pos, end, decoded));
    FUZZ_CHECK(decoded == path);
}

void CheckRegion(const std::string& line, const Rect2D& rect) {
    size_t pos = 0;
    FUZZ_CHECK(Expect(line, pos, "region = Rect2("));
    FUZZ_CHECK(ExpectInt(line, pos, rect.x) && Expect(line, pos, ", "));
    FUZZ_CHECK(ExpectInt(line, pos, rect.y) && Expect(line, pos, ", "));
    FUZZ_CHECK(ExpectInt(line, pos, rect.w) && Expect(line, pos, ", "));
    FUZZ_CHECK(ExpectInt(line, pos, rect.h) && Expect(line, pos, ")"));
    FUZZ_CHECK(pos == line.size());
}

void CheckPoints(const std::string& line, const std::vector<Point2D>& points) {
    size_t pos = 0;
    FUZZ_CHECK(Expect(line, pos, "points = PackedVector2Array("));
    for (size_t i = 0; i < points.size(); ++i) {
        FUZZ_CHECK(i == 0 || Expect(line, pos, ", "));
        FUZZ_CHECK(Expect(line, pos, "Vector2("));
        FUZZ_CHECK(ExpectInt(line, pos, points[i].x) && Expect(line, pos, ", "));
        FUZZ_CHECK(ExpectInt(line, pos, points[i].y) && Expect(line, pos, ")"));
    }
    FUZZ_CHECK(Expect(line, pos, ")"));
    FUZZ_CHECK(pos == line.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in = VelmoraFuzz::MakeReader(data, size);
    const std::string path = VelmoraFuzz::TakeText(in, 24);
    std::vector<Rect2D> rects(VelmoraFuzz::TakeCount(in, 6));
    for (Rect2D& rect : rects) {
        rect = VelmoraFuzz::TakeRect(in, 16);
    }
    std::vector<CollisionPolygon> polygons(VelmoraFuzz::TakeCount(in, 4));
    for (CollisionPolygon& polygon : polygons) {
        polygon.name = VelmoraFuzz::TakeText(in, 16);
        polygon.points.resize(VelmoraFuzz::TakeCount(in, 8));
        for (Point2D& point : polygon.points) {
            point.x = VelmoraFuzz::TakeInt32(in);
            point.y = VelmoraFuzz::TakeInt32(in);
        }
    }

    const std::string document = Velmora::ExportGodot4Tres(rects, polygons, path);
    const std::vector<std::string> lines = VelmoraFuzz::SplitLines(document);
    const size_t expectedLines =
        4 + 5 * rects.size() + (polygons.empty() ? 0 : 1 + 3 * polygons.size());
    FUZZ_CHECK(lines.size() == expectedLines);

    FUZZ_CHECK(lines[0] == "[gd_resource type=\"AtlasTexture\" load_steps=2 format=3]");
    FUZZ_CHECK(lines[1].empty());
    CheckPathLine(lines[2], path);
    FUZZ_CHECK(lines[3].empty());
    size_t at = 4;
    for (size_t k = 0; k < rects.size(); ++k) {
        CheckComment(lines[at], "# Frame: ", rects[k].name);
        FUZZ_CHECK(lines[at + 1] ==
                   "[sub_resource type=\"AtlasTexture\" id=\"frame_" + std::to_string(k) + "\"]");
        FUZZ_CHECK(lines[at + 2] == "atlas = ExtResource(\"1_atlas\")");
        CheckRegion(lines[at + 3], rects[k]);
        FUZZ_CHECK(lines[at + 4].empty());
        at += 5;
    }
    if (!polygons.empty()) {
        FUZZ_CHECK(lines[at] == "# Physics Collision Polygons");
        ++at;
        for (const CollisionPolygon& polygon : polygons) {
            CheckComment(lines[at], "# Collider: ", polygon.name);
            CheckPoints(lines[at + 1], polygon.points);
            FUZZ_CHECK(lines[at + 2].empty());
            at += 3;
        }
    }
    return 0;
}
