#include "model/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
} // namespace vellico::model
