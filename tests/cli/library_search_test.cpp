#include "cli/clean_command.hpp"
#include "cli/library_batch.hpp"

#include "sample_library.hpp"
#include "support/mount_namespace.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sstream>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

class Yes final : public Confirmation {
public:
    std::optional<bool> ask(const std::string&) override { return true; }
};

// A folder searched with -r, and a library beside it that no run over the
// folder may touch.
class Search : public ::testing::Test {
protected:
    Search()
    {
        tools::LibraryBuilder(searched() / "a" / "Alpha.fcpbundle").file("E/Render Files/r", 10);
        tools::LibraryBuilder(beside()).file("E/Render Files/r", 1000);
    }

    fs::path searched() const { return tmp / "libs"; }
    fs::path beside() const { return tmp / "beside" / "Victim.fcpbundle"; }
    bool victimIntact() const { return fs::exists(beside() / "E/Render Files/r"); }

    // `clean --yes -r --json` over the searched folder.
    nlohmann::json clean(std::vector<std::string> paths, bool original = false)
    {
        CommandLine options;
        options.command = Command::clean;
        options.json = true;
        options.yes = true;
        options.recursive = true;
        options.original = original;
        options.preset = model::EditingPreset::done;
        options.home = tmp / "home";
        options.paths = std::move(paths);
        Yes yes;
        std::ostringstream out, err;
        runClean(options, yes, out, err);
        return nlohmann::json::parse(out.str());
    }

    test::TempDir tmp;
};

TEST_F(Search, AFoundLibraryReplacedByALinkBeforeItsTurnIsNotFollowed)
{
    const Inputs inputs = collectInputs({searched().string()}, true);
    ASSERT_EQ(inputs.libraries.size(), 1u);
    // After the search, before the library's turn: the found library becomes
    // a link to the one beside.
    fs::rename(searched() / "a" / "Alpha.fcpbundle", tmp / "alpha-moved.fcpbundle");
    fs::create_directory_symlink(beside(), searched() / "a" / "Alpha.fcpbundle");

    CommandLine options;
    options.recursive = true;
    options.home = tmp / "home";
    const analysis::MachineAnalysis machine(options.home);
    ProgressLine progress(false);
    BatchScope scope(&inputs.bounds);
    const TakenIn taken =
        takeIn(inputs.libraries[0], options, machine, {}, progress, {1, 1}, scope);
    EXPECT_FALSE(taken.library) << "analysed through the link: " << taken.library->info.url;
    ASSERT_TRUE(taken.error);
    EXPECT_NE(taken.error->message.find("a changé depuis la recherche"), std::string::npos)
        << taken.error->message;
    EXPECT_TRUE(victimIntact());
}

TEST_F(Search, EachLibraryFoundIsHandedOverAsTheSearchMeetsIt)
{
    tools::LibraryBuilder(searched() / "b" / "c" / "Gamma.fcpbundle");
    tools::LibraryBuilder(searched() / "Beta.fcpbundle");
    const Inputs sorted = collectInputs({searched().string()}, true);

    // Handed over one by one, from the walker's threads: the same libraries,
    // each reachable again from the search's folder, and none left in the
    // result.
    std::mutex mutex;
    std::vector<Input> handed;
    std::atomic<std::uint64_t> count{0};
    const Inputs inputs = collectInputs({searched().string()}, true, {}, &count, [&](Input input) {
        const std::lock_guard lock(mutex);
        EXPECT_GE(count.load(), handed.size() + 1); // counted before it is handed over
        handed.push_back(std::move(input));
    });
    EXPECT_TRUE(inputs.libraries.empty());
    EXPECT_EQ(inputs.bounds.size(), 1u);
    ASSERT_EQ(handed.size(), 3u);
    std::sort(handed.begin(), handed.end(),
              [](const Input& a, const Input& b) { return a.path < b.path; });
    for (std::size_t i = 0; i < handed.size(); ++i) {
        EXPECT_EQ(handed[i].path, sorted.libraries[i].path);
        EXPECT_EQ(handed[i].components, sorted.libraries[i].components);
        EXPECT_TRUE(analysis::reopenFound(handed[i])) << handed[i].path;
    }
}

TEST_F(Search, AFolderSwappedForALinkDuringTheSearchIsNotSearched)
{
    // Listed as a folder, a link to the library's folder beside by the time
    // it is opened: the search does not go there.
    tools::LibraryBuilder(searched() / "b" / "Beta.fcpbundle");
    test::ScriptedSystemCalls calls;
    calls.onOpenat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (name == "b" && fs::is_directory(fs::symlink_status(searched() / "b"))) {
            fs::rename(searched() / "b", tmp / "b-moved");
            fs::create_directory_symlink(beside().parent_path(), searched() / "b");
        }
        return std::nullopt;
    };
    platform::WalkControl walk;
    walk.calls = &calls;
    const Inputs inputs = collectInputs({searched().string()}, true, walk);
    ASSERT_TRUE(fs::is_symlink(searched() / "b")) << "the folder was never opened";
    for (const Input& input : inputs.libraries) {
        EXPECT_EQ(input.path.find("Victim"), std::string::npos) << input.path;
    }
    EXPECT_EQ(inputs.libraries.size(), 1u);
}

TEST_F(Search, APlantedBackupRecordNeverLeadsOutOfTheSearchedFolders)
{
    // Three small files anyone who can write in the folder can plant: a
    // backup bundle whose record names the library beside as its original.
    tools::BackupContents shape;
    shape.originalURL = beside();
    tools::writeBackupFolder(searched() / "planted", shape);
    const nlohmann::json doc = clean({searched().string()}, /*original=*/true);
    EXPECT_TRUE(victimIntact()) << doc;
    bool named = false;
    for (const auto& error : doc["errors"]) {
        named = named || error["message"].get<std::string>().find("hors des dossiers parcourus") !=
                             std::string::npos;
    }
    EXPECT_TRUE(named) << doc["errors"];
    // The original is taken when it lies inside the folders given.
    const nlohmann::json both = clean({searched().string(), beside().parent_path().string()}, true);
    EXPECT_FALSE(fs::exists(beside() / "E/Render Files")) << both;
}

TEST_F(Search, BackupFoldersOutsideTheSearchedFoldersAreLeftAlone)
{
    // The Movies folder's backups of a library found under -r lie outside
    // the folder given: listed, not deleted.
    const fs::path alpha = searched() / "a" / "Alpha.fcpbundle";
    tools::LibraryBuilder(alpha)
        .settings({{"backupFolderName", formats::PlistValue("Alpha")}})
        .file("E/Render Files/r", 10);
    const fs::path backups = tmp / "home" / "Movies" / "Final Cut Backups" / "Alpha";
    tools::BackupContents shape;
    shape.originalURL = alpha;
    tools::writeBackupFolder(backups, shape);
    const nlohmann::json doc = clean({searched().string()});
    ASSERT_NE(doc.dump().find("Final Cut Backups"), std::string::npos) << "not found: " << doc;
    EXPECT_TRUE(fs::exists(backups / shape.backups[0])) << doc;
    EXPECT_FALSE(fs::exists(searched() / "a" / "Alpha.fcpbundle" / "E/Render Files"));
}

TEST_F(Search, ABindMountInsideTheFolderIsNotEntered)
{
    // A bind mount shares the device number of the folder it shows: the
    // search tells mounts apart by mount id, as the walker does.
    const int status = test::runInChild([&] {
        if (!test::enterPrivateMountNamespace()) {
            return test::kCannotSetUp;
        }
        fs::create_directories(searched() / "bind");
        if (::mount(beside().parent_path().c_str(), (searched() / "bind").c_str(), nullptr, MS_BIND,
                    nullptr) != 0) {
            return test::kCannotSetUp;
        }
        const Inputs inputs = collectInputs({searched().string()}, true);
        return inputs.libraries.size() == 1 ? 0 : 1;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot make a mount namespace here";
    }
    EXPECT_EQ(status, 0) << "the search went through the bind mount";
}

TEST_F(Search, OneLibraryUnderSeveralPathsIsTakenOnce)
{
    const fs::path alpha = searched() / "a" / "Alpha.fcpbundle";
    fs::create_directory_symlink(alpha, tmp / "link.fcpbundle");
    CommandLine options;
    options.command = Command::analyze;
    options.home = tmp / "home";
    const Inputs inputs = collectInputs({alpha.string(), alpha.string() + "/",
                                         (searched() / "a" / "." / "Alpha.fcpbundle").string(),
                                         (tmp / "link.fcpbundle").string()},
                                        false);
    const analysis::MachineAnalysis machine(options.home);
    ProgressLine progress(false);
    BatchScope scope;
    int taken = 0;
    int repeated = 0;
    for (const Input& input : inputs.libraries) {
        const TakenIn result = takeIn(input, options, machine, {}, progress, {1, 1}, scope);
        taken += result.library ? 1 : 0;
        repeated += result.repeated ? 1 : 0;
    }
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(repeated, 3);
}

} // namespace
} // namespace vellico::cli
