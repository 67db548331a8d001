#include "formats/linux/linux_bookmark_resolver.hpp"
#include "platform/linux/proc_mount_table.hpp"

#include "formats/bookmark_writer.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace vellico::platform {
namespace {

namespace fs = std::filesystem;
using formats::BookmarkTarget;

const std::string nfcArchive = "Archiv\xC3\xA9";          // "Archivé", composed
const std::string nfdArchive = "Archiv\x65\xCC\x81";      // the same, decomposed
const std::string nfcEvent = "\xC3\x89v\xC3\xA8nement";   // "Évènement", composed
const std::string nfdEvent = "E\xCC\x81ve\xCC\x80nement"; // the same, decomposed

BookmarkTarget onVolume(const std::string& volume, std::vector<std::string> rest)
{
    BookmarkTarget shape;
    shape.pathComponents = {"Volumes", volume};
    shape.pathComponents.insert(shape.pathComponents.end(), rest.begin(), rest.end());
    shape.volumePath = "/Volumes/" + volume;
    shape.volumeName = volume;
    return shape;
}

class LinuxBookmarkResolverTest : public ::testing::Test {
protected:
    fs::path makeDir(const fs::path& rel)
    {
        fs::create_directories(m_tmp / rel);
        return m_tmp / rel;
    }

    // Resolves with the given directories (relative to the temp dir) as the
    // mounted volumes.
    std::optional<fs::path> resolve(const BookmarkTarget& shape, std::vector<fs::path> mounts) const
    {
        for (fs::path& m : mounts) {
            m = m_tmp / m;
        }
        const LinuxBookmarkResolver resolver(std::make_shared<FixedMountTable>(mounts));
        return resolver.resolve(formats::makeBookmarkData(shape));
    }

    test::TempDir m_tmp;
};

TEST_F(LinuxBookmarkResolverTest, MapsAMacVolumeOntoTheMountWithItsLabel)
{
    const fs::path cache = makeDir("media/user/Archive/Caches/Lib.fcpcache");
    makeDir("media/user/Other/Caches/Lib.fcpcache");
    for (const auto form : {formats::BookmarkForm::data, formats::BookmarkForm::file}) {
        BookmarkTarget shape = onVolume("Archive", {"Caches", "Lib.fcpcache"});
        shape.form = form;
        EXPECT_EQ(resolve(shape, {"media/user/Other", "media/user/Archive"}), cache);
    }
}

TEST_F(LinuxBookmarkResolverTest, ResolvesTheVolumeRootItself)
{
    const fs::path root = makeDir("run/media/user/Archive");
    EXPECT_EQ(resolve(onVolume("Archive", {}), {"run/media/user/Archive"}), root);
}

TEST_F(LinuxBookmarkResolverTest, ComparesVolumeAndFolderNamesAfterNormalisation)
{
    struct Case {
        const char* name;
        std::string diskVolume, diskFolder;     // as the mount shows them
        std::string storedVolume, storedFolder; // as the bookmark holds them
    };
    const Case cases[] = {
        {"NFD bookmark, NFC disk", nfcArchive, nfcEvent, nfdArchive, nfdEvent},
        {"NFC bookmark, NFD disk", nfdArchive, nfdEvent, nfcArchive, nfcEvent},
        {"same form", nfdArchive, nfdEvent, nfdArchive, nfdEvent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_tmp / "mnt");
        const fs::path target =
            makeDir(fs::path("mnt") / c.diskVolume / c.diskFolder / "Render Files");
        EXPECT_EQ(resolve(onVolume(c.storedVolume, {c.storedFolder, "Render Files"}),
                          {fs::path("mnt") / c.diskVolume}),
                  target);
    }
}

TEST_F(LinuxBookmarkResolverTest, MatchesTheMountPointNameWhenTheVolumeNameDiffers)
{
    // The Mac mounted a second "Archive" as /Volumes/Archive 1.
    const fs::path target = makeDir("media/user/Archive 1/Lib.fcpbundle");
    makeDir("media/user/Archive");
    BookmarkTarget shape = onVolume("Archive 1", {"Lib.fcpbundle"});
    shape.volumeName = "Archive";
    EXPECT_EQ(resolve(shape, {"media/user/Archive", "media/user/Archive 1"}), target);
}

TEST_F(LinuxBookmarkResolverTest, TriesEveryMountCarryingTheLabel)
{
    makeDir("mnt/Archive");
    const fs::path target = makeDir("media/user/Archive/Backups");
    EXPECT_EQ(resolve(onVolume("Archive", {"Backups"}), {"mnt/Archive", "media/user/Archive"}),
              target);
}

TEST_F(LinuxBookmarkResolverTest, WithoutAVolumePathUsesThePathsVolumeComponent)
{
    const fs::path target = makeDir("media/Archive/x");
    makeDir("media/Wrong/x");
    BookmarkTarget shape = onVolume("Archive", {"x"});
    shape.volumePath.reset();
    shape.volumeName = "Wrong"; // not trusted without a volume path to tie it to the target
    EXPECT_EQ(resolve(shape, {"media/Wrong", "media/Archive"}), target);
}

TEST_F(LinuxBookmarkResolverTest, WhatCannotBeFoundDoesNotResolve)
{
    makeDir("media/user/Archive/Other");
    makeDir("media/user/Macintosh HD/Users/jo/Movies");

    BookmarkTarget startupDisk;
    startupDisk.pathComponents = {"Users", "jo", "Movies"};
    startupDisk.volumePath = "/";
    startupDisk.volumeName = "Macintosh HD";

    struct Case {
        const char* name;
        BookmarkTarget shape;
    };
    const Case cases[] = {
        {"volume not mounted", onVolume("Elsewhere", {"Other"})},
        {"target missing on the volume", onVolume("Archive", {"Caches"})},
        {"target on the Mac's startup disk", startupDisk},
        {"unsafe path", onVolume("Archive", {"..", "..", "..", "etc"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(resolve(c.shape, {"media/user/Archive", "media/user/Macintosh HD"}),
                  std::nullopt);
    }
}

TEST_F(LinuxBookmarkResolverTest, AnExistingStoredPathResolvesAsItIs)
{
    const fs::path library = makeDir("Movies/Lib.fcpbundle");
    BookmarkTarget shape;
    for (const auto& part : library.relative_path()) {
        shape.pathComponents.push_back(part.string());
    }
    shape.volumePath = "/";
    EXPECT_EQ(resolve(shape, {}), library);
}

TEST_F(LinuxBookmarkResolverTest, StoredPathIsTheTargetAsWritten)
{
    const LinuxBookmarkResolver resolver(
        std::make_shared<FixedMountTable>(std::vector<fs::path>{}));
    const auto bookmark = formats::makeBookmarkData(onVolume("Archive", {nfdEvent}));
    EXPECT_EQ(resolver.storedPath(bookmark), fs::path("/Volumes/Archive/" + nfdEvent));
    EXPECT_EQ(resolver.resolve(bookmark), std::nullopt);

    const std::vector<std::uint8_t> notABookmark = {'b', 'p', 'l', 'i', 's', 't'};
    EXPECT_EQ(resolver.storedPath(notABookmark), std::nullopt);
    EXPECT_EQ(resolver.resolve(notABookmark), std::nullopt);
}

TEST(ProcMountTable, ListsMountPointsDirectlyInAVolumeRoot)
{
    const std::string mountInfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/jo/Archive\\0401 rw,nosuid shared:2 - hfsplus /dev/sdb1 rw\n"
        "41 22 8:33 / /run/media/jo/Back\\134up rw - exfat /dev/sdc1 rw\n"
        "42 22 8:49 / /mnt/Disk rw - ext4 /dev/sdd1 rw\n"
        "43 22 8:50 / /mnt/deep/Disk rw - ext4 /dev/sdd2 rw\n"
        "44 22 8:65 / /media/Stick rw - vfat /dev/sde1 rw\n"
        "45 22 0:40 / /home/jo rw - ext4 /dev/sda2 rw\n"
        "46 40 8:17 / /media/jo/Archive\\0401 rw - hfsplus /dev/sdb1 rw\n"
        "47 22 0:41 / /run/user/1000 rw - tmpfs tmpfs rw\n"
        "garbage\n";
    const std::vector<fs::path> expected = {"/media/jo/Archive 1", "/run/media/jo/Back\\up",
                                            "/mnt/Disk", "/media/Stick"};
    EXPECT_EQ(ProcMountTable::parse(mountInfo), expected);

    const test::TempDir tmp;
    std::ofstream(tmp / "mountinfo") << mountInfo;
    EXPECT_EQ(ProcMountTable(tmp / "mountinfo").volumeDirectories(), expected);
    EXPECT_TRUE(ProcMountTable(tmp / "missing").volumeDirectories().empty());
}

} // namespace
} // namespace vellico::platform
