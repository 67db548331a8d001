#include "analysis/backup_locator.hpp"

#include "analysis/external_cache_locator.hpp"
#include "analysis/folder_size.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cleanup/deletion_run.hpp"
#include "formats/bookmark_writer.hpp"
#include "formats/linux/linux_bookmark_resolver.hpp"
#include "model/editing_preset.hpp"
#include "platform/walk_budget.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"
#include "support/tree_digest.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

// Bookmark data for a path on a Mac volume: /Volumes/<volume>/<components…>.
std::vector<std::uint8_t> macBookmark(const std::string& volume,
                                      std::vector<std::string> components)
{
    formats::BookmarkTarget shape;
    shape.pathComponents = {"Volumes", volume};
    shape.pathComponents.insert(shape.pathComponents.end(), components.begin(), components.end());
    shape.volumePath = "/Volumes/" + volume;
    shape.volumeName = volume;
    return formats::makeBookmarkData(shape);
}

class FakeIndex final : public platform::BackupIndex {
public:
    std::vector<fs::path> results;
    mutable std::string askedFor;
    std::vector<fs::path> searchBackupFolders(const std::string& folderName,
                                              std::chrono::milliseconds) const override
    {
        askedFor = folderName;
        return results;
    }
};

// A home with Movies, a mounted volume "Archive", and a library "My Film".
class BackupSearch : public ::testing::Test {
protected:
    BackupSearch()
        : home(tmp / "home/ana"), volume(tmp / "media/ana/Archive"),
          mounts(std::make_shared<platform::FixedMountTable>(std::vector<fs::path>{volume})),
          bookmarks(mounts), library(tmp / "Libraries/My Film.fcpbundle")
    {
        fs::create_directories(volume);
        fs::create_directories(home / "Movies");
        library.settings({{"backupFolderName", formats::PlistValue("My Film")}});
    }

    struct Result {
        model::BundleInfo info;
        std::vector<std::string> statuses;
    };

    Result analyse()
    {
        LibraryBackupLocator backups({home, home / "Movies"}, bookmarks, index, *mounts);
        LibraryCacheLocator cache(bookmarks);
        Result result;
        result.info =
            analyzeBundle(library.path(), false, {&backups, &cache},
                          [&](const StatusText& s) { result.statuses.push_back(s.formatted()); });
        return result;
    }

    tools::BackupContents backupOf(const fs::path& original)
    {
        tools::BackupContents shape;
        shape.originalURL = original;
        return shape;
    }

    std::vector<std::string> locations(const model::BundleInfo& info)
    {
        std::vector<std::string> out;
        for (const model::FoundFolder& f : info.foundFolders) {
            if (f.name == "Final Cut Backups") {
                // Each measured like any folder; the backup bundles are not empty.
                out.push_back(f.parentName +
                              (f.size > 1000 && f.size == folderSize(f.url) ? "" : " (size?)"));
            }
        }
        return out;
    }

    test::TempDir tmp;
    fs::path home;
    fs::path volume;
    std::shared_ptr<platform::FixedMountTable> mounts;
    platform::LinuxBookmarkResolver bookmarks;
    FakeIndex index;
    tools::LibraryBuilder library;
};

TEST_F(BackupSearch, FindsMoviesVolumeAndCustomLocationsOnceEach)
{
    tools::BackupContents shape = backupOf(library.path());
    shape.bytesEach = 1000;
    tools::writeBackupFolder(home / "Movies/Final Cut Backups.localized/My Film", shape);
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film 2", shape);
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film2", shape); // not a candidate
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/my film", shape);  // not a candidate
    tools::writeBackupFolder(volume / "Final Cut Backups/My Film", shape);
    tools::writeBackupFolder(volume / "Custom/My Film", shape);
    // The index returns the volume's folder, and the same folder again through a link.
    fs::create_symlink(volume / "Final Cut Backups", tmp / "link");
    index.results = {volume / "Final Cut Backups/My Film", tmp / "link/My Film"};
    library.settings({{"backupFolderName", formats::PlistValue("My Film")},
                      {"backupLocation", formats::PlistValue(macBookmark("Archive", {"Custom"}))}});

    const Result result = analyse();
    EXPECT_EQ(index.askedFor, "My Film");
    EXPECT_THAT(locations(result.info),
                UnorderedElementsAre("~/Movies/Final Cut Backups", "~/Movies/Final Cut Backups",
                                     "Archive/Final Cut Backups", "Archive/Custom"));
    // Backups lead the list.
    ASSERT_GE(result.info.foundFolders.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(result.info.foundFolders[i].name, "Final Cut Backups");
    }
    EXPECT_THAT(result.statuses, ::testing::Contains("Recherche Spotlight des sauvegardes\u2026"));
}

TEST_F(BackupSearch, SkipsOtherLibrariesBundlesAndDisabledSearches)
{
    tools::BackupContents other = backupOf("/elsewhere/Other.fcpbundle");
    other.identifier = "SOMEONE-ELSE";
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film", other);
    // Named like the backup folder, but inside a library and a cache bundle.
    tools::writeBackupFolder(tmp / "x.fcpbundle/My Film", backupOf(library.path()));
    tools::writeBackupFolder(tmp / "y.fcpcache/My Film", backupOf(library.path()));
    index.results = {tmp / "x.fcpbundle/My Film", tmp / "y.fcpcache/My Film"};
    EXPECT_TRUE(locations(analyse().info).empty());

    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film 3", backupOf(library.path()));
    EXPECT_EQ(locations(analyse().info).size(), 1u);
    library.settings({{"backupFolderName", formats::PlistValue("My Film")},
                      {"backupsEnabled", formats::PlistValue(false)}});
    const Result disabled = analyse();
    EXPECT_TRUE(locations(disabled.info).empty());
    EXPECT_THAT(disabled.statuses, ::testing::Contains("Recherche des sauvegardes\u2026"));
    EXPECT_THAT(disabled.statuses,
                ::testing::Not(::testing::Contains("Recherche Spotlight des sauvegardes\u2026")));
}

TEST_F(BackupSearch, SameFileNameElsewhereMatchesByName)
{
    tools::BackupContents shape = backupOf("/Volumes/Old/My Film.fcpbundle");
    shape.identifier = "ANOTHER";
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film", shape);
    EXPECT_EQ(locations(analyse().info).size(), 1u);
}

TEST_F(BackupSearch, ExternalCacheOnAMountedVolume)
{
    tools::writeSparseFile(volume / "Caches/My Film.fcpcache/Render Files/a", 4000);
    tools::writeSparseFile(volume / "Caches/My Film.fcpcache/.hidden", 4000);
    library.settings({{"cacheFolderName", formats::PlistValue("My Film.fcpcache")},
                      {"cacheLocation", formats::PlistValue(macBookmark("Archive", {"Caches"}))},
                      {"backupsEnabled", formats::PlistValue(false)}});
    Result result = analyse();
    ASSERT_TRUE(result.info.cacheURL.has_value());
    EXPECT_EQ(*result.info.cacheURL, volume / "Caches/My Film.fcpcache");
    EXPECT_EQ(result.info.cacheTotalSize, 4000);
    EXPECT_THAT(result.statuses, ::testing::IsSupersetOf({"Recherche du cache externe\u2026",
                                                          "Calcul de la taille du cache\u2026"}));

    // The volume is not mounted: no cache, size 0.
    mounts = std::make_shared<platform::FixedMountTable>(std::vector<fs::path>{});
    bookmarks = platform::LinuxBookmarkResolver(mounts);
    result = analyse();
    EXPECT_EQ(result.info.cacheURL, std::nullopt);
    EXPECT_EQ(result.info.cacheTotalSize, 0);

    // A name without a location: no search at all.
    library.settings({{"cacheFolderName", formats::PlistValue("My Film.fcpcache")}});
    result = analyse();
    EXPECT_THAT(result.statuses,
                ::testing::Not(::testing::Contains("Recherche du cache externe\u2026")));
}

// In a batch the backups and the cache are measured inside the batch's
// thread budget, and a stopped analysis measures nothing more.
TEST_F(BackupSearch, BackupsAndCacheAreMeasuredWithTheAnalysisWalk)
{
    tools::BackupContents shape = backupOf(library.path());
    shape.bytesEach = 1000;
    tools::writeBackupFolder(home / "Movies/Final Cut Backups/My Film", shape);
    tools::writeSparseFile(volume / "Caches/My Film.fcpcache/Render Files/a", 4000);
    formats::PlistValue::Dict entries;
    entries.emplace_back("backupFolderName", formats::PlistValue("My Film"));
    entries.emplace_back("cacheFolderName", formats::PlistValue("My Film.fcpcache"));
    entries.emplace_back("cacheLocation", formats::PlistValue(macBookmark("Archive", {"Caches"})));
    const formats::PlistValue settings(entries);
    LibraryBackupLocator backups({home, home / "Movies"}, bookmarks, index, *mounts);
    LibraryCacheLocator cache(bookmarks);

    platform::WalkBudget budget(4, 2);
    platform::WalkControl walk;
    walk.budget = &budget;
    std::vector<model::FoundFolder> found;
    backups.findBackups(settings, library.path(), found, {}, walk);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].size, folderSize(found[0].url));
    EXPECT_GE(budget.peak(), 1);
    EXPECT_EQ(budget.inUse(), 0);

    platform::WalkBudget cacheBudget(4, 2);
    walk.budget = &cacheBudget;
    EXPECT_EQ(cache.findExternalCache(settings, {}, walk).size, 4000);
    EXPECT_GE(cacheBudget.peak(), 1);

    platform::StopToken stop;
    stop.requestStop();
    walk.stop = &stop;
    found.clear();
    backups.findBackups(settings, library.path(), found, {}, walk);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(cache.findExternalCache(settings, {}, walk).size, 0);
}

// Names read from the settings meet folders spelled in the other Unicode
// form (a Mac disk holds them decomposed, a name typed here is composed).
// The Movies candidate, the custom location and the external cache are found
// whichever form each side uses, and the intake's missing-cache check agrees
// with the analysis.
TEST_F(BackupSearch, SettingsNamesFindFoldersInEitherUnicodeForm)
{
    const std::string forms[] = {"C\u00e9r\u00e9monie", "Ce\u0301re\u0301monie"};
    for (const std::string& inSettings : forms) {
        for (const std::string& onDisk : forms) {
            SCOPED_TRACE("settings " + inSettings + ", disk " + onDisk);
            library.settings(
                {{"backupFolderName", formats::PlistValue(inSettings)},
                 {"backupLocation", formats::PlistValue(macBookmark("Archive", {"Custom"}))},
                 {"cacheFolderName", formats::PlistValue(inSettings + ".fcpcache")},
                 {"cacheLocation", formats::PlistValue(macBookmark("Archive", {"Caches"}))}});
            tools::writeBackupFolder(home / "Movies/Final Cut Backups" / onDisk,
                                     backupOf(library.path()));
            tools::writeBackupFolder(volume / "Custom" / onDisk, backupOf(library.path()));
            const fs::path cache = volume / "Caches" / (onDisk + ".fcpcache");
            tools::writeSparseFile(cache / "Render Files/a", 4000);

            Result result = analyse();
            EXPECT_THAT(locations(result.info),
                        UnorderedElementsAre("~/Movies/Final Cut Backups", "Archive/Custom"));
            EXPECT_EQ(result.info.cacheURL, cache);
            EXPECT_EQ(result.info.cacheTotalSize, 4000);
            EXPECT_EQ(missingExternalCache(library.path(), bookmarks), std::nullopt);

            // Gone: both say so, with the name as the settings hold it.
            fs::remove_all(cache);
            result = analyse();
            EXPECT_EQ(result.info.cacheURL, std::nullopt);
            EXPECT_EQ(missingExternalCache(library.path(), bookmarks),
                      (volume / "Caches" / (inSettings + ".fcpcache")).string());

            fs::remove_all(home / "Movies/Final Cut Backups");
            fs::remove_all(volume / "Custom");
        }
    }
}

// The backup folder's name alone, or followed by a blank and whatever comes
// after it, nothing included ("My Film ").
TEST_F(BackupSearch, MoviesCandidatesByName)
{
    const struct {
        std::string entry;
        bool candidate;
    } cases[] = {
        {"My Film", true},   {"My Film ", true},  {"My Film 2", true},
        {"My Film2", false}, {"my film", false},  {"My Film\t", false},
        {"My Fil", false},   {" My Film", false}, {"My Film\u00a0", false},
    };
    for (const auto& c : cases) {
        tools::writeBackupFolder(home / "Movies/Final Cut Backups" / c.entry,
                                 backupOf(library.path()));
        EXPECT_EQ(locations(analyse().info).size(), c.candidate ? 1u : 0u) << '"' << c.entry << '"';
        fs::remove_all(home / "Movies/Final Cut Backups");
    }
}

// A candidate that is a symbolic link is skipped wherever it is met: its
// target lies outside the places searched, and the deletion could never
// remove it. The folder it points to still counts when reached directly.
TEST_F(BackupSearch, BackupFolderThatIsALinkIsNeitherListedNorSelected)
{
    const fs::path real = tmp / "elsewhere/My Film";
    tools::writeBackupFolder(real, backupOf(library.path()));
    fs::create_directories(home / "Movies/Final Cut Backups");
    fs::create_directory_symlink(real, home / "Movies/Final Cut Backups/My Film");
    fs::create_directories(volume / "Custom");
    fs::create_directory_symlink(real, volume / "Custom/My Film");
    fs::create_directories(volume / "Final Cut Backups");
    fs::create_directory_symlink(real, volume / "Final Cut Backups/My Film");
    index.results = {volume / "Final Cut Backups/My Film"};
    library.settings({{"backupFolderName", formats::PlistValue("My Film")},
                      {"backupLocation", formats::PlistValue(macBookmark("Archive", {"Custom"}))}});

    model::BundleInfo info = analyse().info;
    EXPECT_TRUE(locations(info).empty());
    for (const model::FoundFolder& folder : info.foundFolders) {
        EXPECT_FALSE(folder.url.string().starts_with(volume.string())) << folder.url;
        EXPECT_FALSE(folder.url.string().starts_with((home / "Movies").string())) << folder.url;
    }

    index.results.push_back(real);
    info = analyse().info;
    ASSERT_EQ(locations(info), std::vector<std::string>{"elsewhere"});
    const model::FolderSelection selected =
        model::presetSelection(model::EditingPreset::done, info.foundFolders);
    EXPECT_EQ(selected.count(real), 1u);
    const cleanup::DeletionResult result =
        cleanup::performDeletion(library.path(), cleanup::foldersToDelete(info, selected), {});
    EXPECT_TRUE(result.errors.empty());
    EXPECT_FALSE(fs::exists(real));
}

// A backup folder moved to a mounted volume and linked back into the Movies
// folder is listed once, as the folder itself: by its own path and identity,
// so that the deletion removes the folder and leaves the link alone.
TEST_F(BackupSearch, LinkToAFolderOnASearchedVolumeListsTheFolderOnce)
{
    tools::BackupContents shape = backupOf(library.path());
    shape.bytesEach = 1000;
    const fs::path real = volume / "Moved/My Film";
    tools::writeBackupFolder(real, shape);
    const fs::path link = home / "Movies/Final Cut Backups/My Film";
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(real, link);
    // The index finds the folder itself too: still one entry.
    index.results = {real};

    const model::BundleInfo info = analyse().info;
    ASSERT_EQ(locations(info), std::vector<std::string>{"Archive/Moved"});
    const auto backup = std::find_if(info.foundFolders.begin(), info.foundFolders.end(),
                                     [](const auto& f) { return f.name == "Final Cut Backups"; });
    EXPECT_EQ(backup->url, fs::canonical(real));
    ASSERT_TRUE(backup->identity);

    const model::FolderSelection selected =
        model::presetSelection(model::EditingPreset::done, info.foundFolders);
    const cleanup::DeletionResult result =
        cleanup::performDeletion(library.path(), cleanup::foldersToDelete(info, selected), {});
    EXPECT_TRUE(result.errors.empty());
    EXPECT_FALSE(fs::exists(real));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link))) << "the link itself is left";
    EXPECT_TRUE(fs::exists(volume / "Moved")) << "nothing above the folder is removed";
}

// A resolver that runs `duringCheck` the first time the backup's record is
// looked at: the moment between checking a candidate and acting on it.
class HookedResolver final : public platform::BookmarkResolver {
public:
    mutable std::function<void()> duringCheck;
    std::optional<fs::path> resolve(std::span<const std::uint8_t>) const override
    {
        if (duringCheck) {
            std::exchange(duringCheck, nullptr)();
        }
        return std::nullopt;
    }
    std::optional<fs::path> storedPath(std::span<const std::uint8_t>) const override
    {
        return std::nullopt;
    }
};

// Another user who can write at the top of a volume plants a backup folder
// matching by name, and while it is being checked renames the container
// away and puts a link to someone else's folder in its place. The deletion
// must not reach that folder.
TEST_F(BackupSearch, ContainerSwappedDuringTheChecksLeavesTheOtherFolderAlone)
{
    tools::BackupContents planted = backupOf("/Volumes/Old/My Film.fcpbundle");
    planted.originalBookmark = std::vector<std::uint8_t>{1, 2, 3};
    tools::writeBackupFolder(volume / "Final Cut Backups/My Film", planted);
    index.results = {volume / "Final Cut Backups/My Film"};
    // Someone else's folder, named like the backup folder in another place.
    const fs::path victim = tmp / "victim";
    tools::writeFile(victim / "My Film/thesis.tex", "years of work");
    tools::writeFile(victim / "My Film/20240315_1042_GMT+1.fcpbundle/keep", "keep");
    const std::uint64_t victimBefore = test::treeDigest(victim);

    HookedResolver resolver;
    resolver.duringCheck = [&] {
        fs::rename(volume / "Final Cut Backups", volume / "moved away");
        fs::create_directory_symlink(victim, volume / "Final Cut Backups");
    };
    LibraryBackupLocator backups({home, home / "Movies"}, resolver, index, *mounts);
    const model::BundleInfo info = analyzeBundle(library.path(), false, {&backups, nullptr}, {});
    ASSERT_EQ(locations(info).size(), 1u) << "the planted folder matches by name";
    EXPECT_FALSE(resolver.duringCheck) << "the swap ran during the checks";

    const cleanup::DeletionResult result =
        cleanup::performDeletion(library.path(), info.foundFolders, {});
    EXPECT_EQ(test::treeDigest(victim), victimBefore);
    EXPECT_EQ(result.foldersRemoved, 0u);
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_EQ(result.errors[0].detail.problem, cleanup::RemovalProblem::identityChanged);
}

// Names read from the settings are joined to folders' paths: one that is not
// a single folder name is ignored (and said so), never followed.
TEST_F(BackupSearch, SettingsNamesThatLeaveTheirFolderAreIgnored)
{
    tools::writeSparseFile(volume / "Caches/My Film.fcpcache/a", 10);
    tools::writeSparseFile(volume / "secret/b", 4000);
    tools::writeBackupFolder(volume / "secret/My Film", backupOf(library.path()));
    for (const std::string name :
         {"/usr", "../secret", "../../../../../../usr", "/", "..", "Caches/../secret", "."}) {
        SCOPED_TRACE(name);
        library.settings(
            {{"cacheFolderName", formats::PlistValue(name)},
             {"cacheLocation", formats::PlistValue(macBookmark("Archive", {"Caches"}))},
             {"backupFolderName", formats::PlistValue(name)},
             {"backupLocation", formats::PlistValue(macBookmark("Archive", {"Caches"}))}});
        const Result result = analyse();
        EXPECT_EQ(result.info.cacheURL, std::nullopt);
        EXPECT_EQ(result.info.cacheTotalSize, 0);
        EXPECT_TRUE(locations(result.info).empty());
        EXPECT_EQ(index.askedFor, "") << "the index is never asked for such a name";
        const std::vector<model::AnalysisNotice> expected = {
            {model::AnalysisNotice::Kind::unsafeName, "backupFolderName", name},
            {model::AnalysisNotice::Kind::unsafeName, "cacheFolderName", name}};
        EXPECT_EQ(result.info.notices, expected);
    }
}

TEST(DisplayLocation, HomeVolumesAndElsewhere)
{
    const std::vector<fs::path> volumes{"/media/ana/Archive", "/mnt/Backup Disk"};
    const struct {
        const char* folder;
        const char* home;
        const char* text;
    } cases[] = {
        {"/home/ana/Movies/Final Cut Backups.localized/My Film", "/home/ana",
         "~/Movies/Final Cut Backups"},
        {"/home/ana/My Film", "/home/ana", "~"},
        {"/home/anabel/Movies/My Film", "/home/ana", "Movies"}, // not inside /home/ana
        {"/Users/ana/Movies/My Film", "/Users/ana/Library/Containers/app.vellico/Data", "~/Movies"},
        {"/Volumes/Archive/Final Cut Backups.localized/My Film", "/home/ana",
         "Archive/Final Cut Backups"},
        {"/media/ana/Archive/Final Cut Backups/My Film", "/home/ana", "Archive/Final Cut Backups"},
        {"/mnt/Backup Disk/My Film", "/home/ana", "Backup Disk"},
        {"/srv/share/Backups/My Film", "/home/ana", "Backups"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(displayLocation(c.folder, c.home, volumes), c.text) << c.folder;
    }
}

} // namespace
} // namespace vellico::analysis
