// Walks that share one budget of threads: together they stay within it,
// each within its share, and one that finds the budget taken waits for a
// thread or for its stop token.

#include "platform/tree_walker.hpp"
#include "platform/walk_budget.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

namespace vellico::platform {
namespace {

namespace fs = std::filesystem;

// Counts files and the threads it is called on; `onFile` runs for each.
class ThreadCounter : public WalkVisitor {
public:
    Entry entry(int /*dirFd*/, const WalkDirectory& /*dir*/, const char* /*name*/,
                unsigned char type, WalkTally& /*tally*/) override
    {
        if (type == DT_DIR) {
            return Entry::directory;
        }
        {
            const std::lock_guard lock(m_mutex);
            threads.insert(std::this_thread::get_id());
        }
        files.fetch_add(1);
        if (onFile) {
            onFile();
        }
        return Entry::done;
    }

    std::atomic<int> files{0};
    std::set<std::thread::id> threads;
    std::function<void()> onFile;

private:
    std::mutex m_mutex;
};

// `dirs` folders of `files` files each below `top`.
void writeTree(const fs::path& top, int dirs, int files)
{
    for (int d = 0; d < dirs; ++d) {
        const fs::path dir = top / ("d" + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < files; ++f) {
            std::ofstream(dir / ("f" + std::to_string(f))) << "x";
        }
    }
}

void walkAt(const fs::path& path, WalkVisitor& visitor, const WalkControl& control)
{
    std::vector<WalkRoot> roots(1);
    roots[0].fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    roots[0].identity = identityOf(roots[0].fd.get()).value_or(FileIdentity{});
    roots[0].name = path.string();
    walkTrees(std::move(roots), visitor, control, WalkOrder::streaming, false);
}

TEST(WalkBudget, WalksSideBySideStayWithinTheBudgetAndTheirShare)
{
    test::TempDir tmp;
    writeTree(tmp / "a", 40, 30);
    writeTree(tmp / "b", 40, 30);
    WalkBudget budget(4, 2);
    ThreadCounter first, second;
    // Slow files keep both walks running at the same time, each thread busy.
    first.onFile =
        second.onFile = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    std::thread other([&] { walkAt(tmp / "b", second, {.jobs = 8, .budget = &budget}); });
    walkAt(tmp / "a", first, {.jobs = 8, .budget = &budget});
    other.join();

    EXPECT_EQ(first.files.load(), 40 * 30);
    EXPECT_EQ(second.files.load(), 40 * 30);
    EXPECT_LE(first.threads.size(), 2u);
    EXPECT_LE(second.threads.size(), 2u);
    EXPECT_LE(budget.peak(), 4);
    EXPECT_EQ(budget.inUse(), 0); // every thread given back
}

TEST(WalkBudget, AWalkWaitsForAThreadAndGivesUpAtItsStop)
{
    test::TempDir tmp;
    writeTree(tmp / "a", 2, 5);
    WalkBudget budget(2, 2);
    ASSERT_EQ(budget.acquire(2, nullptr), 2); // another walk holds them all

    // Freed while it waits: it runs.
    ThreadCounter waiting;
    std::thread freer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        budget.release(2);
    });
    walkAt(tmp / "a", waiting, {.budget = &budget});
    freer.join();
    EXPECT_EQ(waiting.files.load(), 10);

    // Never freed: its stop ends the wait, and nothing is walked.
    ASSERT_EQ(budget.acquire(2, nullptr), 2);
    StopToken stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.requestStop();
    });
    ThreadCounter stopped;
    walkAt(tmp / "a", stopped, {.stop = &stop, .budget = &budget});
    stopper.join();
    EXPECT_EQ(stopped.files.load(), 0);
    EXPECT_EQ(budget.inUse(), 2);
}

TEST(WalkBudget, AWalkInsideAWalkOnTheSameThreadDoesNotWaitForItself)
{
    test::TempDir tmp;
    writeTree(tmp / "a", 1, 3);
    writeTree(tmp / "b", 1, 3);
    WalkBudget budget(1, 1);
    ThreadCounter inner, outer;
    outer.onFile = [&] {
        if (inner.files.load() == 0) {
            walkAt(tmp / "b", inner, {.budget = &budget});
        }
    };
    walkAt(tmp / "a", outer, {.budget = &budget});
    EXPECT_EQ(outer.files.load(), 3);
    EXPECT_EQ(inner.files.load(), 3);
    EXPECT_EQ(budget.inUse(), 0);
}

} // namespace
} // namespace vellico::platform
