#include "analysis/library_scan.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/machine_analysis.hpp"
#include "cleanup/deletion_run.hpp"
#include "model/target_folder_rule.hpp"
#include "sample_library.hpp"
#include "support/mount_namespace.hpp"
#include "support/temp_dir.hpp"
#include "support/tree_digest.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using tools::LibraryBuilder;

struct Scan {
    model::BundleInfo info;
    std::vector<std::string> statuses;
};

Scan scan(const fs::path& bundle, const AnalysisServices& services = {})
{
    Scan result;
    result.info = analyzeBundle(bundle, false, services, [&](const StatusText& status) {
        result.statuses.push_back(status.formatted());
    });
    return result;
}

// "parent/name size" per found folder, in order.
std::vector<std::string> listing(const model::BundleInfo& info)
{
    std::vector<std::string> out;
    for (const model::FoundFolder& f : info.foundFolders) {
        out.push_back(f.parentName + "/" + f.name + " " + std::to_string(f.size));
    }
    return out;
}

// The walk's threads enter the rule folders in any order; the texts come
// out in the order of the found folders, one each, between the total's text
// and the backups' text.
TEST(LibraryScan, FolderStatusesFollowTheListingOrder)
{
    test::TempDir tmp;
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    for (int i = 0; i < 24; ++i) {
        // Uneven sizes, so that threads finish their folders at other times.
        lib.file("Event " + std::to_string(i) + "/Render Files/a", 10 + 997 * (i % 5));
        lib.file("Event " + std::to_string(i) + "/Render Files/sub/b", 1);
    }
    AnalysisServices services;
    services.walk.jobs = 4;
    for (int round = 0; round < 5; ++round) {
        const Scan result = scan(lib.path(), services);
        std::vector<std::string> expected{"Calcul de la taille totale\u2026"};
        for (const model::FoundFolder& f : result.info.foundFolders) {
            expected.push_back("Analyse de " + f.name + " dans " + f.parentName + "\u2026");
        }
        expected.push_back("Recherche des sauvegardes\u2026");
        ASSERT_EQ(result.info.foundFolders.size(), 24u);
        EXPECT_EQ(result.statuses, expected);
    }
}

TEST(LibraryScan, FindsEventAndTopLevelRuleFoldersWithStatuses)
{
    test::TempDir tmp;
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Wedding/Render Files/a", 100)
        .file("Wedding/Shared Items/b", 20)
        .file("Wedding/Original Media/clip.mov", 5000)
        .file("VideoSegmentationFiles/c", 3);
    const Scan result = scan(lib.path());

    // Discovery order depends on the file system's listing; compare as sets
    // of lines and check the statuses' shape.
    EXPECT_THAT(listing(result.info), ::testing::UnorderedElementsAre("Wedding/Render Files 100",
                                                                      "Wedding/Shared Items 20",
                                                                      "/VideoSegmentationFiles 3"));
    EXPECT_EQ(result.info.name, "Film");
    EXPECT_EQ(result.statuses.front(), "Calcul de la taille totale\u2026");
    EXPECT_THAT(result.statuses, ::testing::Contains("Analyse de Render Files dans Wedding\u2026"));
    EXPECT_THAT(result.statuses, ::testing::Contains("Analyse de VideoSegmentationFiles\u2026"));
    EXPECT_EQ(result.statuses.back(), "Recherche des sauvegardes\u2026");
    for (const model::FoundFolder& f : result.info.foundFolders) {
        EXPECT_TRUE(f.identity.has_value()) << f.name;
        EXPECT_EQ(f.url.parent_path().parent_path() == lib.path(), !f.parentName.empty());
    }
}

TEST(LibraryScan, TotalEqualsSeparateMeasurements)
{
    test::TempDir tmp;
    tools::writeSyntheticLibrary(tmp / "Big.fcpbundle",
                                 {.fileCount = 3000, .filesPerStore = 16, .seed = 7});
    const Scan result = scan(tmp / "Big.fcpbundle");
    EXPECT_EQ(result.info.totalSize, folderSize(tmp / "Big.fcpbundle"));
    ASSERT_FALSE(result.info.foundFolders.empty());
    for (const model::FoundFolder& f : result.info.foundFolders) {
        EXPECT_EQ(f.size, folderSize(f.url)) << f.url;
    }
}

TEST(LibraryScan, ReservedFoldersFilesAndCaseVariantsAreNotRuleFolders)
{
    test::TempDir tmp;
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("__Temp/Render Files/x", 10)
        .file("__Sync__/Render Files/x", 10)
        .file("Render Files", 10) // a top-level file
        .file("Analysis Files/Render Files/y",
              7)                                // top-level dir named like an event rule: an event
        .file("Analysis Files/Shared Items", 3) // a file in an event: not a folder
        .file("Ev/render files/z", 5)           // case differs
        .file("Ev/Sub/Render Files/deep", 5);   // too deep
    const Scan result = scan(lib.path());
    EXPECT_THAT(listing(result.info), ElementsAre("Analysis Files/Render Files 7"));
}

TEST(LibraryScan, DecomposedNamesFromAMacDiskMatch)
{
    test::TempDir tmp;
    const std::string nfdEvent = "Ce\xCC\x81re\xCC\x81monie"; // "Cérémonie" as HFS+ stores it
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file(nfdEvent + "/Render Files/a", 9);
    const Scan result = scan(lib.path());
    ASSERT_EQ(result.info.foundFolders.size(), 1u);
    EXPECT_EQ(result.info.foundFolders[0].parentName, nfdEvent); // bytes kept for the path
}

TEST(LibraryScan, LinksAreNeverFoldersOfTheLibrary)
{
    test::TempDir tmp;
    tools::writeSparseFile(tmp / "elsewhere/Render Files/precious", 1000);
    tools::writeSparseFile(tmp / "elsewhere/big", 1'000'000);
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Ev/Render Files/a", 1)
        .link("Ev2/Render Files", tmp / "elsewhere/Render Files")
        .link("LinkedEvent", tmp / "elsewhere")
        .link("VideoSegmentationFiles", tmp / "elsewhere")
        .link(".fcpcache", ".");
    const Scan result = scan(lib.path());
    EXPECT_THAT(listing(result.info), ElementsAre("Ev/Render Files 1"));
    EXPECT_EQ(result.info.totalSize, folderSize(lib.path()));
    EXPECT_LT(result.info.totalSize, 1'000'000);
}

TEST(LibraryScan, HiddenEntriesAreNeitherListedNorCounted)
{
    test::TempDir tmp;
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file(".Ev/Render Files/a", 1000)
        .file("Ev/.Render Files/b", 1000)
        .file("Ev/Render Files/.c", 1000);
    const Scan result = scan(lib.path());
    ASSERT_EQ(result.info.foundFolders.size(), 1u);
    EXPECT_EQ(result.info.foundFolders[0].size, 0);
    // Only the library's own visible files count.
    std::int64_t visible = 0;
    for (const char* name :
         {"Settings.plist", "CurrentVersion.flexolibrary", "CurrentVersion.plist"}) {
        visible += static_cast<std::int64_t>(fs::file_size(lib.path() / name));
    }
    EXPECT_EQ(result.info.totalSize, visible);
}

TEST(LibraryScan, UnlistableBundleGivesNothingAndNoBackupStatus)
{
    test::TempDir tmp;
    const Scan result = scan(tmp / "Missing.fcpbundle");
    EXPECT_TRUE(result.info.foundFolders.empty());
    EXPECT_EQ(result.info.totalSize, 0);
    EXPECT_THAT(result.statuses, ElementsAre("Calcul de la taille totale\u2026"));
}

class RecordingBackups final : public BackupLocator {
public:
    void findBackups(const formats::PlistValue& settings, const fs::path&,
                     std::vector<model::FoundFolder>& into, const ProgressSink&,
                     const platform::WalkControl&) const override
    {
        calledWith = settings.stringFor("backupFolderName");
        model::FoundFolder backup;
        backup.name = "Final Cut Backups";
        backup.url = "/backups/Film";
        into.push_back(backup);
    }
    mutable std::optional<std::string> calledWith;
};

TEST(LibraryScan, BackupsLeadAndNeedReadableSettings)
{
    test::TempDir tmp;
    LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Ev/Render Files/a", 1)
        .settings({{"backupFolderName", formats::PlistValue("Film")}}, tools::PlistFormat::binary);
    RecordingBackups backups;
    Scan result = scan(lib.path(), {&backups, nullptr});
    EXPECT_EQ(backups.calledWith, "Film");
    EXPECT_THAT(listing(result.info), ElementsAre("/Final Cut Backups 0", "Ev/Render Files 1"));

    // Garbage settings: no settings, no backup search (the status is still shown).
    tools::writeFile(lib.path() / "Settings.plist", "bplist00 garbage");
    backups.calledWith.reset();
    result = scan(lib.path(), {&backups, nullptr});
    EXPECT_EQ(backups.calledWith, std::nullopt);
    EXPECT_EQ(result.statuses.back(), "Recherche des sauvegardes\u2026");
}

TEST(LibraryScan, RealLibraryWrittenByTheEditor)
{
    const fs::path real = test::realLibraryPath();
    if (real.empty()) {
        GTEST_SKIP() << "the real library is not on this machine";
    }
    const Scan result = scan(real);
    EXPECT_EQ(result.info.name, "fcp-to-json");
    ASSERT_EQ(result.info.foundFolders.size(), 1u);
    const model::FoundFolder& render = result.info.foundFolders[0];
    EXPECT_EQ(render.name, "Render Files");
    EXPECT_EQ(render.parentName, "11-30-25");
    EXPECT_GT(render.size, 0);
    EXPECT_EQ(render.size, folderSize(real / "11-30-25" / "Render Files"));
    EXPECT_EQ(result.info.totalSize, folderSize(real));
}

} // namespace
} // namespace vellico::analysis

namespace vellico::analysis {
namespace {

// Another file system at a folder's place, or below it: a tmpfs, or a bind
// mount of a folder outside the library (same device, another mount). The
// analysis neither lists nor measures it, a deletion of everything listed
// leaves it as it was, and the analysis says what it left out.
TEST(LibraryScan, MountPointsAreNeitherListedMeasuredNorDeleted)
{
    const struct {
        const char* name;
        const char* mountAt; // inside the bundle
        bool bindCanary;     // otherwise a tmpfs with a file of its own
        std::int64_t bytesLeftOut;
        bool noticed;                 // told as a mount point
        std::set<std::string> listed; // what the analysis still lists
    } cases[] = {
        {"bind mount as a rule folder in an event",
         "Wedding/Render Files",
         true,
         5,
         true,
         {"Wedding/Shared Items 7", "/flexo.apple.com 0"}},
        {"tmpfs as a rule folder in an event",
         "Wedding/Shared Items",
         false,
         7,
         true,
         {"Wedding/Render Files 5", "/flexo.apple.com 0"}},
        {"bind mount as an event", "Wedding", true, 12, true, {"/flexo.apple.com 0"}},
        {"bind mount as a top-level rule folder",
         "flexo.apple.com",
         true,
         0,
         true,
         {"Wedding/Render Files 5", "Wedding/Shared Items 7"}},
        {"tmpfs inside a selected folder",
         "Wedding/Render Files/segment",
         false,
         0,
         false,
         {"Wedding/Render Files 5", "Wedding/Shared Items 7", "/flexo.apple.com 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir tmp;
        LibraryBuilder lib(tmp / "Film.fcpbundle");
        lib.file("Wedding/Render Files/a", 5)
            .folder("Wedding/Render Files/segment")
            .file("Wedding/Shared Items/c", 7)
            .folder("flexo.apple.com");
        // The canary looks like a library's contents, so that nothing but
        // the mount check keeps it out.
        const fs::path canary = tmp / "canary";
        tools::writeFile(canary / "Render Files/thesis.tex", "years of work");
        tools::writeFile(canary / "notes.txt", "notes");
        const std::uint64_t canaryBefore = test::treeDigest(canary);
        const std::int64_t totalBefore = analyzeBundle(lib.path(), false, {}, {}).totalSize;

        const int status = test::runInChild([&]() -> int {
            const fs::path at = lib.path() / c.mountAt;
            if (!test::enterPrivateMountNamespace()) {
                return test::kCannotSetUp;
            }
            if (c.bindCanary ? ::mount(canary.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0
                             : ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") != 0) {
                return test::kCannotSetUp;
            }
            if (!c.bindCanary) {
                tools::writeFile(at / "Render Files/inside", "kept");
            }
            const std::uint64_t mountedBefore = test::treeDigest(at);
            const model::BundleInfo info = analyzeBundle(lib.path(), false, {}, {});
            const std::vector<std::string> found = listing(info);
            if (std::set<std::string>(found.begin(), found.end()) != c.listed) {
                for (const std::string& line : found) {
                    std::fprintf(stderr, "listed: %s\n", line.c_str());
                }
                return 1;
            }
            if (info.totalSize != totalBefore - c.bytesLeftOut) {
                std::fprintf(stderr, "total %lld\n", static_cast<long long>(info.totalSize));
                return 2;
            }
            const std::vector<model::AnalysisNotice> notice{
                {model::AnalysisNotice::Kind::mountPoint, at.string(), {}}};
            if (info.notices != (c.noticed ? notice : std::vector<model::AnalysisNotice>{})) {
                return 3;
            }
            cleanup::performDeletion(lib.path(), info.foundFolders, {});
            return test::treeDigest(at) == mountedBefore ? 0 : 4;
        });
        if (status == test::kCannotSetUp) {
            GTEST_SKIP() << "cannot mount in a namespace of our own here";
        }
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::treeDigest(canary), canaryBefore);
    }
}

TEST(LibraryScan, ABackupFolderHoldingTheLibraryIsNeitherListedNorSelected)
{
    // A library kept in the very backups folder its settings name, found
    // through a Movies folder that is a link to a media disk: the paths do
    // not show that the folder holds the library; identities do.
    test::TempDir tmp;
    const fs::path container = tmp / "media" / "Movies" / "Final Cut Backups" / "Film";
    LibraryBuilder library(container / "20240315_1042_GMT+1.fcpbundle");
    library.settings({{"backupFolderName", formats::PlistValue("Film")}})
        .file("E/Render Files/r", 10);
    fs::create_directories(tmp / "home");
    fs::create_directory_symlink(tmp / "media" / "Movies", tmp / "home" / "Movies");
    const MachineAnalysis machine(tmp / "home");
    const model::BundleInfo info = analyzeBundle(library.path(), false, machine.services(), {});
    for (const model::FoundFolder& folder : info.foundFolders) {
        EXPECT_NE(folder.name, model::backupsFolderName) << folder.url;
    }
    ASSERT_EQ(info.notices.size(), 1u);
    EXPECT_EQ(info.notices[0].kind, model::AnalysisNotice::Kind::holdsLibrary);
    EXPECT_EQ(info.notices[0].subject, (tmp / "home/Movies/Final Cut Backups/Film").string());
}

} // namespace
} // namespace vellico::analysis
