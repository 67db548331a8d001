#include "model/names.hpp"

#include "platform/file_system.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace vellico::model
