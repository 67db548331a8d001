#pragma once

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

} // namespace vellico::model
