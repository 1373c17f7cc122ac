// UTF-8 for the readers of tests/support: one well-formedness rule (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF) and one encoder.
#ifndef VELMORA_TESTS_SUPPORT_UTF8_H
#define VELMORA_TESTS_SUPPORT_UTF8_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace VelmoraTest {

// Length of the well-formed UTF-8 sequence starting at `at` (1 to 4), or 0
// when the bytes there are not one. `at` must be inside `text`.
size_t Utf8SequenceLength(const std::string& text, size_t at);

// Whether all of `text` is well-formed UTF-8.
bool ValidUtf8(const std::string& text);

// Appends the UTF-8 encoding of a Unicode scalar value (not a surrogate,
// at most U+10FFFF).
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace VelmoraTest

#endif  // VELMORA_TESTS_SUPPORT_UTF8_H
