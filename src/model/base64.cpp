#include "model/base64.hpp"

namespace vellico::model {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::optional<unsigned> valueOf(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned>(c - 'A');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned>(c - 'a') + 26;
    }
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0') + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return std::nullopt;
}

} // namespace

std::string encodeBase64(std::span<const std::uint8_t> bytes)
{
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) |
                                    (left > 1 ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (left > 2 ? std::uint32_t{bytes[i + 2]} : 0);
        encoded.push_back(kAlphabet[(group >> 18) & 0x3F]);
        encoded.push_back(kAlphabet[(group >> 12) & 0x3F]);
        encoded.push_back(left > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        encoded.push_back(left > 2 ? kAlphabet[group & 0x3F] : '=');
    }
    return encoded;
}

std::string encodeBase64(std::string_view bytes)
{
    return encodeBase64(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text)
{
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t accumulator = 0;
    unsigned bits = 0;
    std::size_t symbols = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            continue;
        }
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding > 0) {
            return std::nullopt; // data after the padding
        }
        const std::optional<unsigned> v = valueOf(c);
        if (!v) {
            return std::nullopt;
        }
        ++symbols;
        accumulator = (accumulator << 6) | *v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((accumulator >> bits) & 0xFF));
        }
    }
    if (symbols % 4 == 1 || padding > 2 || (padding > 0 && (symbols + padding) % 4 != 0)) {
        return std::nullopt;
    }
    return out;
}

} // namespace vellico::model
