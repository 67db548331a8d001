#include "cleanup/deletion_run.hpp"

#include "i18n/translations.hpp"

#include "cleanup_test_support.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstring>
#include <locale.h>
#include <mutex>
#include <set>
#include <utility>

namespace vellico::cleanup {
namespace {

namespace fs = std::filesystem;
using test::foundFolder;

class DeletionRun : public ::testing::Test {
protected:
    fs::path bundle() const { return m_tmp / "Library.fcpbundle"; }

    model::FoundFolder makeFolder(const fs::path& rel, const std::string& name,
                                  const std::string& parentName, std::int64_t size)
    {
        test::makeMediaTree(bundle() / rel);
        return foundFolder(bundle() / rel, name, parentName, size);
    }

    test::TempDir m_tmp;
};

TEST_F(DeletionRun, CountsOnlyFoldersRemovedCompletelyAndLabelsFailures)
{
    const std::vector<model::FoundFolder> folders = {
        makeFolder("Render Files", "Render Files", "", 1000),
        makeFolder("Event B/Render Files", "Render Files", "Event B", 50),
        makeFolder("Event B/Analysis Files", "Analysis Files", "Event B", 7),
        makeFolder("Transcoded Media", "Transcoded Media", "", 20),
        makeFolder("Event C/Shared Items", "Shared Items", "Event C", 300),
    };
    fs::remove_all(folders[1].url); // gone before the run
    test::writeText(folders[4].url / "busy.mov", "in use");
    test::ScriptedSystemCalls calls;
    calls.onUnlinkat = [](int, const std::string& name, int) -> std::optional<int> {
        return name == "busy.mov" ? std::optional<int>(EBUSY) : std::nullopt;
    };
    std::vector<model::FoundFolder> run = folders;
    std::swap(run[3], run[4]); // the busy folder is not the last one

    std::vector<std::pair<std::size_t, std::int64_t>> progress;
    const DeletionResult result = performDeletion(
        bundle(), run,
        [&](std::size_t done, std::int64_t freed) { progress.emplace_back(done, freed); }, calls);

    EXPECT_EQ(result.freedSpace, 1000 + 7 + 20);
    ASSERT_EQ(result.errors.size(), 2u);
    EXPECT_EQ(result.errors[0].name, "Render Files (Event B)");
    EXPECT_EQ(result.errors[0].error, systemErrorText(ENOENT));
    EXPECT_EQ(result.errors[0].detail.errorNumber, ENOENT);
    EXPECT_EQ(result.errors[1].name, "Shared Items (Event C)");
    EXPECT_EQ(result.errors[1].error, systemErrorText(EBUSY));
    EXPECT_TRUE(fs::exists(run[3].url));  // partly removed, still there
    EXPECT_FALSE(fs::exists(run[4].url)); // the run went on after the failure

    // Folders end in any order on the walk's threads; failures count when
    // the run ends. Each call counts one more folder and never less space.
    ASSERT_EQ(progress.size(), 5u);
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].first, i + 1);
        EXPECT_GE(progress[i].second, i == 0 ? 0 : progress[i - 1].second);
    }
    EXPECT_EQ(progress.back().second, 1027);
}

// Holds the first unlink of each folder until two folders have begun, then
// asks for the stop. Its own lock, not the scripted seam's: the two threads
// must be inside unlinkat at the same time.
class TwoFoldersThenStop : public platform::SystemCalls {
public:
    platform::StopToken stop;
    std::size_t unlinksAfterStop = 0;

    int unlinkat(int dirFd, const char* name, int flags) override
    {
        {
            std::unique_lock lock(m_mutex);
            if (stop.stopRequested()) {
                ++unlinksAfterStop;
            } else {
                // Which event this directory lies in.
                const std::string dir =
                    fs::read_symlink("/proc/self/fd/" + std::to_string(dirFd)).string();
                const std::size_t at = dir.find("/Event ");
                m_events.insert(at == std::string::npos ? dir : dir.substr(at + 1, 7));
                if (m_events.size() == 2) {
                    stop.requestStop(); // both unlinks in hand still happen
                    m_bothBegun.notify_all();
                } else {
                    m_bothBegun.wait_for(lock, std::chrono::seconds(10),
                                         [&] { return m_events.size() >= 2; });
                }
            }
        }
        return SystemCalls::unlinkat(dirFd, name, flags);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_bothBegun;
    std::set<std::string> m_events;
};

// Two threads, two folders under way when the stop comes: both are named as
// left in part, the folder not begun is untouched, and nothing is removed
// after the stop.
TEST_F(DeletionRun, AStopNamesEveryFolderUnderWay)
{
    const std::vector<model::FoundFolder> folders = {
        makeFolder("Event A/Render Files", "Render Files", "Event A", 10),
        makeFolder("Event B/Render Files", "Render Files", "Event B", 20),
        makeFolder("Event C/Render Files", "Render Files", "Event C", 30),
    };
    const std::uint64_t lastBefore = test::treeDigest(folders[2].url);
    TwoFoldersThenStop calls;
    const platform::WalkControl walk{2, &calls.stop};
    const DeletionResult result = performDeletion(bundle(), folders, {}, calls, walk);

    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.foldersRemoved, 0u);
    EXPECT_EQ(result.freedSpace, 0);
    EXPECT_TRUE(result.errors.empty());
    const std::vector<std::string> underWay = {"Render Files (Event A)", "Render Files (Event B)"};
    EXPECT_EQ(result.interruptedFolders, underWay);
    EXPECT_EQ(result.interruptedFolder, underWay.front());
    EXPECT_EQ(calls.unlinksAfterStop, 0u);
    EXPECT_TRUE(fs::exists(folders[0].url));
    EXPECT_TRUE(fs::exists(folders[1].url));
    EXPECT_EQ(test::treeDigest(folders[2].url), lastBefore);
}

// A selection whose folders lie inside one another (a folder and one of its
// subfolders, or the same folder twice) is removed one folder at a time, in
// order: the first removes everything, the others find their folder gone.
// Folders side by side are all removed, whatever their number.
TEST_F(DeletionRun, NestedFoldersOneAtATimeSideBySideAllTogether)
{
    const model::FoundFolder outer = makeFolder("Render Files", "Render Files", "", 5);
    const model::FoundFolder inner =
        foundFolder(bundle() / "Render Files" / "High Quality Media", "High Quality Media", "", 3);
    const DeletionResult nested = performDeletion(bundle(), {outer, inner, outer}, {});
    EXPECT_EQ(nested.foldersRemoved, 1u);
    EXPECT_EQ(nested.freedSpace, 5);
    ASSERT_EQ(nested.errors.size(), 2u);
    EXPECT_EQ(nested.errors[0].detail.errorNumber, ENOENT);
    EXPECT_EQ(nested.errors[1].detail.errorNumber, ENOENT);
    EXPECT_FALSE(fs::exists(outer.url));

    // More folders than one walk takes at once.
    std::vector<model::FoundFolder> many;
    for (int i = 0; i < 150; ++i) {
        const std::string event = "Event " + std::to_string(i);
        test::makeMediaTree(bundle() / event / "Render Files", 1, 2);
        many.push_back(foundFolder(bundle() / event / "Render Files", "Render Files", event, 1));
    }
    test::writeText(bundle() / "Event 7" / "keep.txt", "next to a folder, never inside");
    const DeletionResult all = performDeletion(bundle(), many, {});
    EXPECT_EQ(all.foldersRemoved, many.size());
    EXPECT_EQ(all.freedSpace, 150);
    EXPECT_TRUE(all.errors.empty());
    for (const model::FoundFolder& folder : many) {
        EXPECT_FALSE(fs::exists(folder.url)) << folder.url;
        EXPECT_TRUE(fs::exists(folder.url.parent_path())) << folder.url;
    }
    EXPECT_EQ(test::readText(bundle() / "Event 7" / "keep.txt"), "next to a folder, never inside");
}

// A stop asked in the middle of a folder (a signal): the unlink in hand
// completes, nothing more is removed, and the result says how far it went.
TEST_F(DeletionRun, StopFinishesTheEntryInHandAndRemovesNothingMore)
{
    const std::vector<model::FoundFolder> folders = {
        makeFolder("Render Files", "Render Files", "", 1000),
        makeFolder("Event B/Render Files", "Render Files", "Event B", 50),
        makeFolder("Event C/Shared Items", "Shared Items", "Event C", 300),
    };
    const std::uint64_t lastBefore = test::treeDigest(folders[2].url);
    platform::StopToken stop;
    const platform::WalkControl walk{1, &stop};
    test::ScriptedSystemCalls calls;
    std::size_t unlinksAfterStop = 0;
    std::size_t unlinksInSecond = 0;
    calls.onUnlinkat = [&](int, const std::string&, int) -> std::optional<int> {
        if (stop.stopRequested()) {
            ++unlinksAfterStop;
        } else if (fs::exists(folders[0].url) == false && ++unlinksInSecond == 3) {
            stop.requestStop(); // this third unlink of the second folder still happens
        }
        return std::nullopt;
    };
    const DeletionResult result = performDeletion(bundle(), folders, {}, calls, walk);

    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.foldersRemoved, 1u);
    EXPECT_EQ(result.freedSpace, 1000);
    EXPECT_EQ(result.interruptedFolder, "Render Files (Event B)");
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(unlinksAfterStop, 0u);
    EXPECT_FALSE(fs::exists(folders[0].url));
    EXPECT_TRUE(fs::exists(folders[1].url)); // in part
    EXPECT_EQ(test::treeDigest(folders[2].url), lastBefore);

    // A stop before the run: nothing at all.
    const DeletionResult none = performDeletion(bundle(), {folders[2]}, {}, calls, walk);
    EXPECT_TRUE(none.stopped);
    EXPECT_EQ(none.interruptedFolder, std::nullopt);
    EXPECT_EQ(test::treeDigest(folders[2].url), lastBefore);
}

TEST_F(DeletionRun, LabelsAFolderWithoutParentNameByItsNameAlone)
{
    model::FoundFolder folder;
    folder.url = bundle() / "Render Files";
    folder.name = "Render Files";
    folder.identity = model::FileIdentity{1, 2, 3};
    const DeletionResult result = performDeletion(bundle(), {folder}, {});
    ASSERT_EQ(result.errors.size(), 1u);
    EXPECT_EQ(result.errors[0].name, "Render Files");
    EXPECT_EQ(result.freedSpace, 0);
}

TEST_F(DeletionRun, ListKeepsTheAnalysisOrderAndOnlySelectedFolders)
{
    model::BundleInfo info;
    for (const char* name : {"a", "b", "c", "d"}) {
        model::FoundFolder folder;
        folder.url = bundle() / name;
        folder.name = name;
        info.foundFolders.push_back(folder);
    }
    const std::set<fs::path> selection = {bundle() / "d", bundle() / "b", bundle() / "not-found"};
    const std::vector<model::FoundFolder> list = foldersToDelete(info, selection);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "b");
    EXPECT_EQ(list[1].name, "d");
    EXPECT_TRUE(foldersToDelete(info, {}).empty());
}

// The texts come from our catalogues, so they follow the chosen language on
// a machine without any generated locale (as in CI).
TEST(RemovalErrorText, FollowsTheUsersLanguage)
{
    const std::string system = systemErrorText(ENOENT); // no translations installed
    const struct {
        i18n::Language language;
        const char* noEntry;
        const char* busy;
    } cases[] = {
        {i18n::Language::french, "Aucun fichier ou dossier de ce type",
         "Périphérique ou ressource occupé"},
        {i18n::Language::english, "No such file or directory", "Device or resource busy"},
        {i18n::Language::german, "Datei oder Verzeichnis nicht gefunden",
         "Das Gerät oder die Ressource ist belegt"},
    };
    for (const auto& c : cases) {
        i18n::install(i18n::loadTranslations(c.language, i18n::catalogueDirectories()));
        EXPECT_EQ(systemErrorText(ENOENT), c.noEntry);
        EXPECT_EQ(systemErrorText(EBUSY), c.busy);
        RemovalError error;
        error.errorNumber = EACCES;
        EXPECT_EQ(describe(error), i18n::text("erreur système - EACCES"));
        EXPECT_NE(describe(error), "erreur système - EACCES");
    }
    // An error outside the table keeps the system's text.
    char buffer[256];
    EXPECT_EQ(systemErrorText(EOVERFLOW), ::strerror_r(EOVERFLOW, buffer, sizeof buffer));
    i18n::install(i18n::Translations());
    EXPECT_EQ(systemErrorText(ENOENT), system);
}

} // namespace
} // namespace vellico::cleanup
