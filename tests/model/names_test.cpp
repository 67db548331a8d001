#include "model/names.hpp"
#include "model/terminal_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vellico::model {
namespace {

TEST(Names, OnlySinglePathComponentsAreFolderNames)
{
    using namespace std::string_literals;
    const struct {
        std::string name;
        bool single;
    } cases[] = {
        {"My Film", true}, {"Évènement ..", true}, {"..hidden", true},
        {"", false},       {".", false},           {"..", false},
        {"/", false},      {"/usr", false},        {"../../../../usr", false},
        {"a/b", false},    {"trailing/", false},   {"nul\0byte"s, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isSinglePathComponent(c.name), c.single) << c.name;
    }
}

TEST(TerminalText, ControlsAndInvalidBytesAreEscapedAsLsDoes)
{
    using namespace std::string_literals;
    const struct {
        std::string raw;
        std::string shown;
    } cases[] = {
        {"Render Files", "Render Files"},
        {"Évènement été", "Évènement été"},
        // Clear screen, window title, cursor moves: nothing reaches the terminal raw.
        {"\033[2J\033]0;pwned\007Film", "\\033[2J\\033]0;pwned\\007Film"},
        {"a\nforged line\r", "a\\012forged line\\015"},
        {"tab\there\x7f", "tab\\011here\\177"},
        {"nul\0"s, "nul\\000"},
        // C1 CSI (U+009B) and a right-to-left override (U+202E).
        {"x\xc2\x9b"
         "2J",
         "x\\302\\2332J"},
        {"abc\xe2\x80\xaetxt.exe", "abc\\342\\200\\256txt.exe"},
        // Invalid UTF-8: each stray byte alone; a backslash doubled.
        {"bad\xff\xfe", "bad\\377\\376"},
        {"\xe2\x82", "\\342\\202"},
        {"back\\slash", "back\\\\slash"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapedForTerminal(c.raw), c.shown) << c.shown;
        for (const unsigned char byte : escapedForTerminal(c.raw)) {
            EXPECT_TRUE(byte >= 0x20 && byte != 0x7f) << c.shown;
        }
    }
}

} // namespace
} // namespace vellico::model
