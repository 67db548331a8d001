#include "model/utf8.hpp"

#include "model/base64.hpp"
#include "model/terminal_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellico::model {
namespace {

TEST(Utf8, WellFormedTextOnly)
{
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"Cérémonie", true},
        {"\xE6\x97\xA5\xE6\x9C\xAC", true}, // 日本
        {"\xF0\x9F\x8E\xAC", true},         // U+1F3AC, four bytes
        {"\xF4\x8F\xBF\xBF", true},         // U+10FFFF, the last one
        {std::string("a\0b", 3), true},     // NUL is a character; callers refuse it
        {"\xC0\xAF", false},                // overlong "/"
        {"\xE0\x80\xAF", false},            // overlong "/", three bytes
        {"\xED\xA0\x80", false},            // a surrogate
        {"\xF4\x90\x80\x80", false},        // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", false},    // five-byte form
        {"\xC3", false},                    // cut short at the end
        {"\xE6\x97", false},                // cut short at the end
        {"\x80", false},                    // a lone continuation byte
        {"caf\xE9", false},                 // Latin-1
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, EncodesScalarValuesAndReplacesTheRest)
{
    struct Case {
        char32_t codePoint;
        std::string bytes;
    };
    const Case cases[] = {
        {U'A', "A"},
        {0xE9, "\xC3\xA9"},
        {0x65E5, "\xE6\x97\xA5"},
        {0x1F3AC, "\xF0\x9F\x8E\xAC"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0xD800, "\xEF\xBF\xBD"}, // a surrogate: U+FFFD
        {0xDFFF, "\xEF\xBF\xBD"},
        {0x110000, "\xEF\xBF\xBD"},   // past the last code point
        {0xFFFFFFFF, "\xEF\xBF\xBD"}, // would be negative as a signed value
    };
    for (const Case& c : cases) {
        std::string out = "x";
        appendUtf8(out, c.codePoint);
        EXPECT_EQ(out, "x" + c.bytes) << static_cast<unsigned>(c.codePoint);
        EXPECT_TRUE(isValidUtf8(out));
    }
}

// One rule for UTF-16 wherever it is read: pairs join, a lone surrogate or
// an odd byte refuses the whole text.
TEST(Utf16, PairsJoinAndALoneSurrogateRefusesTheText)
{
    const auto decode = [](std::vector<std::uint8_t> bytes, bool bigEndian) {
        return utf8FromUtf16(bytes, bigEndian);
    };
    EXPECT_EQ(decode({0x00, 0xE9, 0x00, 'a'}, true), std::optional<std::string>("\u00e9a"));
    EXPECT_EQ(decode({0xE9, 0x00, 'a', 0x00}, false), std::optional<std::string>("\u00e9a"));
    // U+1F3AC as a surrogate pair.
    EXPECT_EQ(decode({0xD8, 0x3C, 0xDF, 0xAC}, true),
              std::optional<std::string>("\xF0\x9F\x8E\xAC"));
    EXPECT_EQ(decode({}, true), std::optional<std::string>(""));
    EXPECT_FALSE(decode({0xD8, 0x3C}, true));             // high half at the end
    EXPECT_FALSE(decode({0xD8, 0x3C, 0x00, 'a'}, true));  // high half, then no low one
    EXPECT_FALSE(decode({0xDF, 0xAC, 0xD8, 0x3C}, true)); // low half first
    EXPECT_FALSE(decode({0x00, 'a', 0x00}, true));        // an odd byte
}

TEST(Base64, RoundTripsAndRefusesWhatIsNotBase64)
{
    const std::string all = [] {
        std::string bytes;
        for (int i = 0; i < 256; ++i) {
            bytes.push_back(static_cast<char>(i));
        }
        return bytes;
    }();
    for (std::size_t length = 0; length <= 5; ++length) {
        const std::string part = all.substr(250, length);
        const auto back = decodeBase64(encodeBase64(part));
        ASSERT_TRUE(back) << length;
        EXPECT_EQ(std::string(back->begin(), back->end()), part);
    }
    EXPECT_EQ(encodeBase64(std::string_view("Film")), "RmlsbQ==");
    const auto wrapped = decodeBase64("  Rmls\n\tbQ==\r\n");
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(std::string(wrapped->begin(), wrapped->end()), "Film");
    EXPECT_TRUE(decodeBase64("RmlsbQ"));   // padding left out
    EXPECT_FALSE(decodeBase64("RmlsbQ=")); // padding that does not complete the group
    EXPECT_FALSE(decodeBase64("Rm=lsbQ=="));
    EXPECT_FALSE(decodeBase64("Rmls*Q=="));
    EXPECT_FALSE(decodeBase64("R"));
}

TEST(DisplayWidth, WideCharactersTakeTwoColumnsAndMarksNone)
{
    EXPECT_EQ(displayWidth(""), 0u);
    EXPECT_EQ(displayWidth("Film"), 4u);
    EXPECT_EQ(displayWidth("\xE6\x97\xA5\xE6\x9C\xAC"), 4u); // 日本
    EXPECT_EQ(displayWidth("e\xCC\x81"), 1u);                // e + combining acute
    EXPECT_EQ(displayWidth("a\xFF\xFE"), 3u);                // bytes that are not UTF-8
}

} // namespace
} // namespace vellico::model
