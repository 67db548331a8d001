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

std::optional<std::string> utf8FromUtf16(std::span<const std::uint8_t> bytes, bool bigEndian)
{
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    const auto unitAt = [&](std::size_t i) -> char32_t {
        return bigEndian ? (char32_t(bytes[i]) << 8) | bytes[i + 1]
                         : (char32_t(bytes[i + 1]) << 8) | bytes[i];
    };
    std::string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        char32_t c = unitAt(at);
        if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt; // a low surrogate alone
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (at + 4 > bytes.size()) {
                return std::nullopt;
            }
            const char32_t low = unitAt(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) {
                return std::nullopt;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        }
        appendUtf8(out, c);
    }
    return out;
}

} // namespace vellico::model
