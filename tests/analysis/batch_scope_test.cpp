// The scope that intakes running side by side share: each identity is taken
// once, and of two turns that meet the same library the earlier one keeps
// it, whichever claims first.

#include "analysis/intake_flow.hpp"
#include "analysis/library_batch.hpp"
#include "analysis/machine_analysis.hpp"
#include "platform/walk_budget.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace vellico::analysis {
namespace {

model::FileIdentity library(std::uint64_t inode)
{
    return model::FileIdentity{1, inode, 7};
}

// Claims `id` for `scope` on a thread of its own.
std::future<bool> claimAside(BatchScope& scope, std::uint64_t inode)
{
    return std::async(std::launch::async,
                      [&scope, inode] { return scope.firstTime(library(inode)); });
}

TEST(BatchScope, EachIdentityIsTakenOnceWhateverTheThreads)
{
    BatchScope scope;
    std::atomic<int> firsts{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&scope, &firsts] {
            for (std::uint64_t inode = 0; inode < 200; ++inode) {
                firsts += scope.firstTime(library(inode)) ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(firsts.load(), 200);
}

TEST(BatchScope, TheEarlierTurnKeepsTheLibraryWhenTheLaterClaimsFirst)
{
    BatchScope scope;
    BatchScope first = scope.turn();
    BatchScope second = scope.turn();
    // The later turn gets there first: it waits for the earlier one.
    std::future<bool> later = claimAside(second, 42);
    EXPECT_EQ(later.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_TRUE(first.firstTime(library(42)));
    EXPECT_FALSE(later.get());

    // A turn that ends without a claim (a refused item) holds no one up.
    BatchScope refused = scope.turn();
    BatchScope next = scope.turn();
    std::future<bool> waiting = claimAside(next, 43);
    refused.endTurn();
    EXPECT_TRUE(waiting.get());
    // Nor does one that is destroyed.
    std::future<bool> afterDropped;
    {
        BatchScope dropped = scope.turn();
        BatchScope last = scope.turn();
        afterDropped = std::async(std::launch::async, [turn = std::move(last)]() mutable {
            return turn.firstTime(library(44));
        });
    }
    EXPECT_TRUE(afterDropped.get());
    // Without a turn, a claim never waits.
    BatchScope pending = scope.turn();
    EXPECT_FALSE(scope.firstTime(library(42)));
    EXPECT_TRUE(scope.firstTime(library(45)));
}

TEST(BatchScope, AStopEndsTheWaitForAnEarlierTurn)
{
    BatchScope scope;
    BatchScope stuck = scope.turn(); // an intake that never gets to its claim
    platform::StopToken stop;
    BatchScope waiting = scope.turn(&stop);
    std::future<bool> claim = claimAside(waiting, 1);
    stop.requestStop();
    EXPECT_FALSE(claim.get());
}

// The batch's own rule: a backup is listed as a backup.
class ListBackups final : public IntakeQuestions {
public:
    BackupAnswer backupFound(const BatchInput&, const std::filesystem::path&,
                             const std::filesystem::path&) override
    {
        return {BackupAnswer::Kind::listAsBackup, {}};
    }
};

// This machine's intake, four at a time as a batch runs it: one turn each
// (started in the order given), one scope, one set of answers, one budget.
// Every library is given by a link first and by its own path after; the
// link's intake is the one kept, however the threads run.
TEST(BatchScope, IntakesSideBySideKeepTheItemGivenFirst)
{
    namespace fs = std::filesystem;
    test::TempDir tmp;
    const MachineAnalysis machine(tmp / "home");
    std::vector<BatchInput> inputs;
    std::vector<fs::path> libraries;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "Film " + std::to_string(i);
        libraries.push_back(tools::LibraryBuilder(tmp / (name + ".fcpbundle")).path());
        const fs::path link = tmp / ("Lien vers " + name);
        fs::create_symlink(libraries.back(), link);
        inputs.push_back({link.string(), nullptr, {}, {}});
        inputs.push_back({libraries.back().string(), nullptr, {}, {}});
    }
    tools::BackupContents shape;
    shape.originalURL = libraries.front();
    tools::writeBackupFolder(tmp / "Backups", shape);
    const fs::path backup = tmp / "Backups" / shape.backups.front();
    inputs.push_back({backup.string(), nullptr, {}, {}});
    inputs.push_back(
        {(tmp / "Backups" / ".." / "Backups" / shape.backups.front()).string(), nullptr, {}, {}});

    BatchScope scope;
    ListBackups answers;
    platform::StopToken stop;
    platform::WalkBudget budget(4, 2);
    std::vector<BatchScope> turns;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        turns.push_back(scope.turn(&stop));
    }
    std::vector<IntakeOutcome> outcomes(inputs.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (std::size_t i = next++; i < inputs.size(); i = next++) {
                platform::WalkControl walk;
                walk.stop = &stop;
                walk.budget = &budget;
                outcomes[i] = takeInItem(inputs[i], machine, answers, turns[i], walk);
                turns[i].endTurn();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (std::size_t i = 0; i < libraries.size(); ++i) {
        const IntakeOutcome& byLink = outcomes[2 * i];
        ASSERT_TRUE(byLink.library) << inputs[2 * i].path;
        EXPECT_TRUE(byLink.library->isFromAlias);
        EXPECT_EQ(byLink.library->url, libraries[i]);
        EXPECT_TRUE(outcomes[2 * i + 1].repeated) << inputs[2 * i + 1].path;
    }
    const IntakeOutcome& listed = outcomes[2 * libraries.size()];
    ASSERT_TRUE(listed.backup);
    EXPECT_GT(listed.backup->size, 0);
    EXPECT_TRUE(outcomes.back().repeated);
    // The backup was measured inside the budget, which is whole again.
    EXPECT_GE(budget.peak(), 1);
    EXPECT_EQ(budget.inUse(), 0);
}

} // namespace
} // namespace vellico::analysis
