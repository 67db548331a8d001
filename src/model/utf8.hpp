#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The program's one UTF-8 check and encoder (on utf8proc): names, property
// lists, bookmark data and help files all go through these.
namespace vellico::model {

// True when `text` is well-formed UTF-8: no overlong form, no surrogate, no
// code point above U+10FFFF, no sequence cut short. Empty text is valid.
bool isValidUtf8(std::string_view text);

// Appends the UTF-8 form of `codePoint`. Something that is not a Unicode
// scalar value (a surrogate, a value above U+10FFFF) is written as U+FFFD,
// so the output is always well-formed.
void appendUtf8(std::string& out, char32_t codePoint);

// The UTF-8 form of UTF-16 text stored as bytes, two to a code unit, in the
// given byte order (no byte-order mark is read): a high surrogate followed
// by a low one makes one code point. None when the byte count is odd or a
// surrogate stands without its other half: the program's one rule for
// UTF-16, in property lists and help files alike.
std::optional<std::string> utf8FromUtf16(std::span<const std::uint8_t> bytes, bool bigEndian);

} // namespace vellico::model
