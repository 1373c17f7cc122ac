// PNG files made byte by byte, for tests that need one our encoder would
// never write: odd headers, damaged chunks, image data that stops short.
// Checksums are computed here (no zlib), so a file is damaged only where a
// test damages it.
#ifndef VELMORA_TESTS_PNG_BYTES_H
#define VELMORA_TESTS_PNG_BYTES_H

#include <algorithm>
#include <cstdint>
#include <string>

namespace PngBytes {

inline const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

inline void PutU32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// CRC-32 as PNG and zlib define it (reflected, polynomial 0xEDB88320).
inline uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

// Length, type, data and the checksum of type and data.
inline std::string Chunk(const std::string& type, const std::string& data) {
    std::string chunk;
    PutU32(chunk, static_cast<uint32_t>(data.size()));
    chunk += type + data;
    PutU32(chunk, Crc32(type + data));
    return chunk;
}

// IHDR's 13 bytes: compression and filter method 0 unless damaged later.
inline std::string Header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colour, uint8_t interlace = 0) {
    std::string data;
    PutU32(data, width);
    PutU32(data, height);
    data += static_cast<char>(depth);
    data += static_cast<char>(colour);
    data += '\0';
    data += '\0';
    data += static_cast<char>(interlace);
    return Chunk("IHDR", data);
}

// `raw` as a zlib stream of stored (uncompressed) blocks.
inline std::string StoredZlib(const std::string& raw) {
    std::string out = "\x78\x01";
    size_t at = 0;
    do {
        const size_t length = std::min<size_t>(raw.size() - at, 65535);
        const bool last = at + length == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(length & 0xFF);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(~length & 0xFF);
        out += static_cast<char>((~length >> 8) & 0xFF);
        out += raw.substr(at, length);
        at += length;
    } while (at < raw.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (const char c : raw) {
        a = (a + static_cast<uint8_t>(c)) % 65521;
        b = (b + a) % 65521;
    }
    PutU32(out, b << 16 | a);
    return out;
}

inline std::string End() { return Chunk("IEND", ""); }

}  // namespace PngBytes

#endif  // VELMORA_TESTS_PNG_BYTES_H
