#include "model/names.hpp"
#include "model/terminal_text.hpp"

#include "platform/file_system.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vellico::model {
namespace {

namespace fs = std::filesystem;

TEST(Names, JoinedNamesFindTheEntryOnDiskByCanonicalEquivalence)
{
    test::TempDir tmp;
    const std::string decomposed = "Ce\u0301re\u0301monie.fcpcache";
    const std::string composed = "C\u00e9r\u00e9monie.fcpcache";
    fs::create_directories(tmp / "d" / decomposed);
    fs::create_directories(tmp / "d" / "Film");
    fs::create_directories(tmp / "d" / "film 2");
    tools::writeFile(tmp / "d" / "\u00e9t\u00e9.txt", "x");
    fs::create_directory_symlink(tmp / "d" / "Film", tmp / "d" / "Lien");

    const struct {
        std::string name;
        std::optional<std::string> onDisk; // as the directory holds it
        bool isDirectory;                  // links followed
    } cases[] = {
        {composed, decomposed, true},
        {decomposed, decomposed, true},
        {"Film", "Film", true},
        {"film", std::nullopt, false}, // case matters
        {"Film 2", std::nullopt, false},
        {"e\u0301te\u0301.txt", "\u00e9t\u00e9.txt", false},
        {"Lien", "Lien", true},
        {"", std::nullopt, false}, // not one component
        {"..", std::nullopt, false},
        {"d/Film", std::nullopt, false},
        {std::string("Film\0x", 6), std::nullopt, false},
    };
    const platform::UniqueFd dir = platform::openDirectoryPath((tmp / "d").string());
    for (const auto& c : cases) {
        EXPECT_EQ(matchingEntryName(dir.get(), c.name), c.onDisk) << c.name;
        const auto asDirectory = findDirectoryEntry(tmp / "d", c.name, EntryWanted::directory);
        EXPECT_EQ(asDirectory.has_value(), c.isDirectory) << c.name;
        if (asDirectory) {
            EXPECT_EQ(*asDirectory, tmp / "d" / *c.onDisk);
        }
    }
}

TEST(Names, PathsAreSpelledAsOnDiskAsFarAsTheyLead)
{
    test::TempDir tmp;
    const std::string pretD = "Pre\u0302t", pretC = "Pr\u00eat";
    const std::string eteD = "e\u0301te\u0301", eteC = "\u00e9t\u00e9";
    fs::create_directories(tmp / pretD / "real" / eteC);
    fs::create_directory_symlink("real", tmp / pretD / "lien");

    const struct {
        fs::path given;
        fs::path spelled;
    } cases[] = {
        {tmp / pretC / "real" / eteD, tmp / pretD / "real" / eteC},
        {tmp / pretD / "real" / eteC, tmp / pretD / "real" / eteC},
        // Through a link inside a folder spelled the other way.
        {tmp / pretC / "lien" / eteD, tmp / pretD / "lien" / eteC},
        {tmp / pretC / "lien" / ".." / "real" / eteD, tmp / pretD / "lien" / ".." / "real" / eteC},
        // From the first name that matches nothing, the rest stays as given.
        {tmp / pretC / "absent" / eteD, tmp / pretD / "absent" / eteD},
        {tmp / pretC / "real" / eteD / "", tmp / pretD / "real" / eteC / ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(spellingOnDisk(c.given).string(), c.spelled.string()) << c.given;
    }
}

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
