#include "model/utf8.hpp"

#include <utf8proc.h>

namespace vellico::model {

bool isValidUtf8(std::string_view text)
{
    auto* at = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t n =
            utf8proc_iterate(at, static_cast<utf8proc_ssize_t>(left), &codePoint);
        if (n <= 0 || codePoint < 0) {
            return false;
        }
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

void appendUtf8(std::string& out, char32_t codePoint)
{
    auto value = static_cast<utf8proc_int32_t>(codePoint);
    if (codePoint > 0x10FFFF || !utf8proc_codepoint_valid(value)) {
        value = 0xFFFD;
    }
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t n = utf8proc_encode_char(value, buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

} // namespace vellico::model
