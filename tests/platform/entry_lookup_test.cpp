#include "platform/entry_lookup.hpp"

#include "platform/file_system.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellico::platform {
namespace {

namespace fs = std::filesystem;

TEST(EntryLookup, JoinedNamesFindTheEntryOnDiskByCanonicalEquivalence)
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

TEST(EntryLookup, PathsAreSpelledAsOnDiskAsFarAsTheyLead)
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

// Two entries that differ only in their Unicode form: the answer is the same
// whatever order the directory lists them in (the smallest name), for the
// analysis and the bookmark resolver alike.
TEST(EntryLookup, OfSeveralSpellingsTheSmallestNameIsFound)
{
    const std::string decomposed = "Ce\u0301re\u0301monie";
    const std::string mixed = "C\u00e9re\u0301monie";
    const std::string composed = "C\u00e9r\u00e9monie";
    for (const bool decomposedFirst : {true, false}) {
        test::TempDir tmp;
        for (const std::string& name :
             decomposedFirst ? std::vector{decomposed, mixed} : std::vector{mixed, decomposed}) {
            fs::create_directories(tmp / "d" / name);
        }
        const UniqueFd dir = openDirectoryPath((tmp / "d").string());
        EXPECT_EQ(matchingEntryName(dir.get(), composed), decomposed);
        EXPECT_EQ(findDirectoryEntry(tmp / "d", composed, EntryWanted::directory),
                  tmp / "d" / decomposed);
    }
}

} // namespace
} // namespace vellico::platform
