#include "model/terminal_text.hpp"

#include <utf8proc.h>

namespace vellico::model {

namespace {

void appendOctal(std::string& out, unsigned char byte)
{
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

} // namespace

bool isControlCodePoint(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F || c == 0x2028 ||
           c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string escapedForTerminal(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t pos = 0;
    while (pos < text.size()) {
        utf8proc_int32_t codePoint = -1;
        const utf8proc_ssize_t length = utf8proc_iterate(
            bytes + pos, static_cast<utf8proc_ssize_t>(text.size() - pos), &codePoint);
        if (length <= 0 || codePoint < 0) {
            appendOctal(out, bytes[pos]); // not UTF-8: this byte alone
            ++pos;
            continue;
        }
        const auto n = static_cast<std::size_t>(length);
        if (codePoint == '\\') {
            out += "\\\\";
        } else if (isControlCodePoint(static_cast<char32_t>(codePoint))) {
            for (std::size_t i = 0; i < n; ++i) {
                appendOctal(out, bytes[pos + i]);
            }
        } else {
            out.append(text.substr(pos, n));
        }
        pos += n;
    }
    return out;
}

std::size_t columnWidth(char32_t codePoint)
{
    const int width = utf8proc_charwidth(static_cast<utf8proc_int32_t>(codePoint));
    return width < 0 ? 0 : static_cast<std::size_t>(width);
}

std::size_t displayWidth(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(
            bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
        if (n <= 0) {
            ++width; // a byte that is not UTF-8
            ++at;
            continue;
        }
        width += columnWidth(static_cast<char32_t>(codePoint));
        at += static_cast<std::size_t>(n);
    }
    return width;
}

} // namespace vellico::model
