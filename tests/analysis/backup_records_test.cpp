#include "analysis/backup_records.hpp"

#include "analysis/library_identity.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <map>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;

// Resolves the bookmarks it was told about: bytes -> path.
class FakeBookmarks final : public platform::BookmarkResolver {
public:
    std::map<std::vector<std::uint8_t>, fs::path> targets;
    std::optional<fs::path> resolve(std::span<const std::uint8_t> bytes) const override
    {
        const auto it = targets.find(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        return it == targets.end() ? std::nullopt : std::optional<fs::path>(it->second);
    }
    std::optional<fs::path> storedPath(std::span<const std::uint8_t> bytes) const override
    {
        return resolve(bytes);
    }
};

TEST(BackupRecords, BackupBundleNames)
{
    const struct {
        const char* name;
        bool backup;
    } cases[] = {
        {"20240315_1042_GMT+1.fcpbundle", true},    {"20240315_1042_GMT-11.fcpbundle", true},
        {"20240315_1042_GMT+123.fcpbundle", false}, {"2024031_1042_GMT+1.fcpbundle", false},
        {"20240315_1042_UTC+1.fcpbundle", false},   {"20240315_1042_GMT+1.fcpbundle.zip", false},
        {"20240315_1042_GMT+1.FCPBUNDLE", false},   {"x20240315_1042_GMT+1.fcpbundle", false},
        {"٢٠٢٤٠٣١٥_1042_GMT+1.fcpbundle", false}, // non-ASCII digits
        {"20240315_1042_GMT+.fcpbundle", false},    {"20240315_1042_GMT+12.fcpbundlex", false},
        {"20240315_1042_GMT+1 .fcpbundle", false},  {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isBackupBundleName(c.name), c.backup) << c.name;
    }
}

TEST(BackupRecords, NormalizedPathsResolveLinksAndTrimSlashes)
{
    test::TempDir tmp;
    fs::create_directories(tmp / "real/Lib.fcpbundle");
    fs::create_symlink(tmp / "real", tmp / "link");
    const std::string expected = normalizedPath(tmp / "real/Lib.fcpbundle");
    EXPECT_EQ(expected.front() == '/', false);
    EXPECT_EQ(normalizedPath(tmp / "link/Lib.fcpbundle/"), expected);
    EXPECT_EQ(normalizedPath("/does/not/exist/"), "does/not/exist");
}

TEST(BackupRecords, WhatCountsAsABackupFolder)
{
    test::TempDir tmp;
    const fs::path folder = tmp / "My Film";
    tools::writeBackupFolder(
        folder, {.backups = {"20240315_1042_GMT+1.fcpbundle", "20240316_0900_GMT+1.fcpbundle"},
                 .previousVersions = {"20230101_0000_GMT-5.fcpbundle"}});
    tools::writeFile(folder / ".DS_Store", "x"); // hidden: ignored
    EXPECT_TRUE(isBackupFolder(folder));

    tools::writeFile(folder / "Previous Versions/notes.txt", "x");
    EXPECT_FALSE(isBackupFolder(folder));
    fs::remove(folder / "Previous Versions/notes.txt");

    fs::create_directories(folder / "Other");
    EXPECT_FALSE(isBackupFolder(folder));

    fs::create_directories(tmp / "Empty");
    EXPECT_TRUE(isBackupFolder(tmp / "Empty"));
    EXPECT_FALSE(isBackupFolder(tmp / "Missing"));
}

class BackupMatching : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = tools::LibraryBuilder(tmp / "Libraries/My Film.fcpbundle").path();
        identifier = "LIB-ID";
        tools::writeLibraryDatabase(library / "CurrentVersion.flexolibrary", identifier);
    }
    test::TempDir tmp;
    fs::path library;
    std::optional<std::string> identifier;
    FakeBookmarks bookmarks;
};

TEST_F(BackupMatching, ByRecordedPathThroughALinkOrATrailingSlash)
{
    fs::create_symlink(tmp / "Libraries", tmp / "LinkToLibraries");
    tools::writeBackupFolder(tmp / "B1",
                             {.originalURL = tmp / "LinkToLibraries/My Film.fcpbundle/"});
    EXPECT_EQ(matchBackupFolder(tmp / "B1", library, std::nullopt, bookmarks), BackupMatch::byPath);
}

TEST_F(BackupMatching, ByBookmarkWhenTheURLNoLongerMatches)
{
    const std::vector<std::uint8_t> blob{'b', 'o', 'o', 'k'};
    bookmarks.targets[blob] = library;
    tools::writeBackupFolder(
        tmp / "B2", {.originalURL = "/old/place/Other.fcpbundle", .originalBookmark = blob});
    EXPECT_EQ(matchBackupFolder(tmp / "B2", library, std::nullopt, bookmarks), BackupMatch::byPath);
}

TEST_F(BackupMatching, ByIdentifierThenByNameThenNothing)
{
    // Library moved: the recorded path is stale, the backup's database has the id.
    tools::writeBackupFolder(
        tmp / "B3", {.originalURL = "/old/place/Renamed.fcpbundle", .identifier = "LIB-ID"});
    EXPECT_EQ(matchBackupFolder(tmp / "B3", library, identifier, bookmarks),
              BackupMatch::byIdentifier);
    // Same file name elsewhere, another identifier.
    tools::writeBackupFolder(
        tmp / "B4", {.originalURL = "/old/place/My Film.fcpbundle", .identifier = "OTHER"});
    EXPECT_EQ(matchBackupFolder(tmp / "B4", library, identifier, bookmarks), BackupMatch::byName);
    tools::writeBackupFolder(tmp / "B5",
                             {.originalURL = "/old/place/Other.fcpbundle", .identifier = "OTHER"});
    EXPECT_EQ(matchBackupFolder(tmp / "B5", library, identifier, bookmarks), BackupMatch::noMatch);
    // No backup bundle at all.
    fs::create_directories(tmp / "B6/Previous Versions");
    EXPECT_EQ(matchBackupFolder(tmp / "B6", library, identifier, bookmarks), BackupMatch::noMatch);
}

TEST_F(BackupMatching, UnreadableRecordMatchesByIdentifierOnly)
{
    tools::writeBackupFolder(tmp / "B7", {.originalURL = library, .identifier = "LIB-ID"});
    tools::writeFile(tmp / "B7/20240315_1042_GMT+1.fcpbundle/__BackupInfo.plist", "<plist><dict>");
    EXPECT_EQ(matchBackupFolder(tmp / "B7", library, identifier, bookmarks),
              BackupMatch::byIdentifier);
    EXPECT_EQ(matchBackupFolder(tmp / "B7", library, std::nullopt, bookmarks),
              BackupMatch::noMatch);
}

TEST_F(BackupMatching, OriginalLibraryNeedsItsSettings)
{
    const std::vector<std::uint8_t> blob{1, 2, 3};
    fs::create_directories(tmp / "NotALibrary");
    bookmarks.targets[blob] = tmp / "NotALibrary";
    formats::PlistValue::Dict record{
        {"originalBookmark", formats::PlistValue(formats::PlistValue::Data(blob))},
        {"originalURL", formats::PlistValue(tools::fileURL(library))}};
    // The bookmark's target has no Settings.plist: the URL's library is taken.
    EXPECT_EQ(originalLibraryURL(formats::PlistValue(record), bookmarks), library);
    record[1].second = formats::PlistValue(tools::fileURL(tmp / "NotALibrary"));
    EXPECT_EQ(originalLibraryURL(formats::PlistValue(record), bookmarks), std::nullopt);
    bookmarks.targets[blob] = library;
    EXPECT_EQ(originalLibraryURL(formats::PlistValue(record), bookmarks), library);
    // Wrong types count as absent.
    EXPECT_EQ(originalLibraryURL(formats::PlistValue(formats::PlistValue::Dict{
                                     {"originalURL", formats::PlistValue(std::int64_t{3})}}),
                                 bookmarks),
              std::nullopt);
}

// A record written on a Mac holds its names decomposed; the library here may
// be stored composed, and the other way round. The record leads to the
// library whichever form each side uses, also through a link that sits
// inside a folder spelled the other way.
TEST(BackupRecordNames, LeadToTheLibraryInEitherUnicodeForm)
{
    const std::string folders[] = {"Pr\u00eat", "Pre\u0302t"};
    const std::string libraries[] = {"C\u00e9r\u00e9monie.fcpbundle",
                                     "Ce\u0301re\u0301monie.fcpbundle"};
    FakeBookmarks bookmarks;
    for (int onDisk = 0; onDisk < 2; ++onDisk) {
        for (int inRecord = 0; inRecord < 2; ++inRecord) {
            SCOPED_TRACE("on disk " + libraries[onDisk] + ", in the record " + libraries[inRecord]);
            test::TempDir tmp;
            const fs::path library =
                tools::LibraryBuilder(tmp / folders[onDisk] / "real" / libraries[onDisk]).path();
            fs::create_directory_symlink("real", tmp / folders[onDisk] / "lien");
            const fs::path recorded = tmp / folders[inRecord] / "lien" / libraries[inRecord];

            const formats::PlistValue record(formats::PlistValue::Dict{
                {"originalURL", formats::PlistValue(tools::fileURL(recorded))}});
            EXPECT_EQ(originalLibraryURL(record, bookmarks),
                      tmp / folders[onDisk] / "lien" / libraries[onDisk]);

            tools::writeBackupFolder(tmp / "B", {.originalURL = recorded});
            EXPECT_EQ(matchBackupFolder(tmp / "B", library, std::nullopt, bookmarks),
                      BackupMatch::byPath);
            tools::writeBackupFolder(tmp / "Moved",
                                     {.originalURL = "/old/place" / fs::path(libraries[inRecord])});
            EXPECT_EQ(matchBackupFolder(tmp / "Moved", library, std::nullopt, bookmarks),
                      BackupMatch::byName);
        }
    }
}

// The URL text of a record is read by the one file URL reader: the host
// forms and the raw characters it accepts lead to the library.
TEST(BackupRecordNames, URLSpellingsOfTheSameLibrary)
{
    test::TempDir tmp;
    const fs::path library = tools::LibraryBuilder(tmp / "My Film.fcpbundle").path();
    const std::string escaped = tools::fileURL(library).substr(std::string("file://").size());
    const std::string texts[] = {
        "file://" + escaped,          "file://" + escaped + "/", "file://localhost" + escaped,
        "FILE://LOCALHOST" + escaped, "file:" + escaped,
        "file://" + library.string(), // a blank left unescaped
    };
    FakeBookmarks bookmarks;
    for (const std::string& text : texts) {
        const formats::PlistValue record(
            formats::PlistValue::Dict{{"originalURL", formats::PlistValue(text)}});
        const auto original = originalLibraryURL(record, bookmarks);
        ASSERT_TRUE(original.has_value()) << text;
        EXPECT_EQ(normalizedPath(*original), normalizedPath(library)) << text;
        tools::writeBackupFolder(tmp / "B", {.originalURLText = text});
        EXPECT_EQ(matchBackupFolder(tmp / "B", library, std::nullopt, bookmarks),
                  BackupMatch::byPath)
            << text;
    }
}

TEST(BackupRecordNames, RealLibraryWrittenByTheEditor)
{
    const fs::path real = test::realLibraryPath();
    if (real.empty()) {
        GTEST_SKIP() << "the real library is not on this machine";
    }
    const std::optional<std::string> identifier = libraryIdentifier(real);
    ASSERT_TRUE(identifier.has_value());
    const std::string escaped = tools::fileURL(real).substr(std::string("file://").size());
    const struct {
        std::string url;
        std::optional<std::string> backupIdentifier;
        BackupMatch match;
    } cases[] = {
        {"file://localhost" + escaped + "/", std::nullopt, BackupMatch::byPath},
        {"file:///old/place/Moved.fcpbundle", identifier, BackupMatch::byIdentifier},
        {"file:///old/place/fcp-to-json.fcpbundle", "ANOTHER", BackupMatch::byName},
        {"file:///old/place/fcp-to-json.fcpbundle%00", identifier, BackupMatch::byIdentifier},
        {"file:///old/place/Other.fcpbundle", "ANOTHER", BackupMatch::noMatch},
    };
    test::TempDir tmp;
    FakeBookmarks bookmarks;
    for (const auto& c : cases) {
        tools::writeBackupFolder(tmp / "B",
                                 {.originalURLText = c.url, .identifier = c.backupIdentifier});
        EXPECT_EQ(matchBackupFolder(tmp / "B", real, identifier, bookmarks), c.match) << c.url;
    }
    const formats::PlistValue record(formats::PlistValue::Dict{
        {"originalURL", formats::PlistValue("file://localhost" + escaped)}});
    EXPECT_EQ(originalLibraryURL(record, bookmarks), real);
}

} // namespace
} // namespace vellico::analysis
