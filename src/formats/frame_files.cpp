#include "formats/frame_files.h"

#include <cstddef>

namespace Velmora::Formats {

namespace {

constexpr char kEscape = '+';

void AppendEscaped(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += kEscape;
    out += kHex[c >> 4U];
    out += kHex[c & 0xFU];
}

// Bytes some system refuses in a file name or Godot reads as path syntax
// ('\' is a separator there, ':' starts "::" sub-resource paths, '%' is
// refused by its editor), the escape itself, and '/', which a part holds
// only where it could not separate.
bool AlwaysEscaped(unsigned char c) {
    switch (c) {
        case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        case '%': case kEscape: case '/':
            return true;
        default:
            return c < 0x20U || c == 0x7FU;
    }
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(const std::string& text, size_t from, size_t length, const char* word) {
    const std::string w(word);
    if (length != w.size()) return false;
    for (size_t i = 0; i < length; ++i) {
        if (AsciiUpper(text[from + i]) != w[i]) return false;
    }
    return true;
}

// Windows opens a device instead of a file for these names, with any
// extension after them and spaces before it.
bool IsDeviceName(const std::string& part) {
    size_t stem = part.find('.');
    if (stem == std::string::npos) stem = part.size();
    while (stem > 0 && part[stem - 1] == ' ') --stem;
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsUpper(part, 0, stem, device)) return true;
    }
    if (stem < 4 || !(EqualsUpper(part, 0, 3, "COM") || EqualsUpper(part, 0, 3, "LPT"))) return false;
    const std::string number = part.substr(3, stem - 3);
    // Digits, or superscript one, two, three (U+00B9, U+00B2, U+00B3).
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

// The '.' of a ".tres" or ".tscn" ending `part`, or npos.
size_t FrameFileExtensionDot(const std::string& part) {
    constexpr size_t kLength = 5;  // ".tres", ".tscn"
    if (part.size() < kLength) return std::string::npos;
    const size_t dot = part.size() - kLength;
    const bool frameFile = EqualsUpper(part, dot, kLength, ".TRES") || EqualsUpper(part, dot, kLength, ".TSCN");
    return frameFile ? dot : std::string::npos;
}

std::string SafePart(const std::string& part, bool folder) {
    const bool device = IsDeviceName(part);
    const size_t folderDot = folder ? FrameFileExtensionDot(part) : std::string::npos;
    std::string out;
    out.reserve(part.size());
    for (size_t i = 0; i < part.size(); ++i) {
        const auto c = static_cast<unsigned char>(part[i]);
        const bool edge = (i == 0 || i + 1 == part.size()) && (c == '.' || c == ' ');
        if (AlwaysEscaped(c) || edge || (i == 0 && device) || i == folderDot) {
            AppendEscaped(out, c);
        } else {
            out += part[i];
        }
    }
    return out;
}

}  // namespace

std::string FrameFilePath(const std::string& documentName) {
    if (documentName.empty()) return std::string(1, kEscape);
    std::string path;
    std::string part;
    for (size_t i = 0; i < documentName.size(); ++i) {
        // A '/' separates only a part that has begun from one that follows;
        // anywhere else it stays in the part, escaped.
        if (documentName[i] == '/' && !part.empty() && i + 1 < documentName.size()) {
            path += SafePart(part, true);
            path += '/';
            part.clear();
        } else {
            part += documentName[i];
        }
    }
    path += SafePart(part, false);
    return path;
}

}  // namespace Velmora::Formats
