// The walker on its own, with a visitor that only records what it is shown:
// where it goes, where it refuses to go, and what it holds open.

#include "platform/tree_walker.hpp"

#include "support/latency_calls.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace vellico::platform {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

// The path of `dir` below its root, "" for the root itself.
std::string relativePath(const WalkDirectory& dir)
{
    if (dir.parent == nullptr) {
        return {};
    }
    const std::string above = relativePath(*dir.parent);
    return above.empty() ? dir.name : above + "/" + dir.name;
}

std::size_t openDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

struct Failure {
    std::string where;
    WalkFailure what;
    int error;
};

// Records every entry and directory it is shown; thread-safe.
class RecordingVisitor : public WalkVisitor {
public:
    Entry entry(int dirFd, const WalkDirectory& dir, const char* name, unsigned char type,
                WalkTally& tally) override
    {
        struct stat st {};
        if (type == DT_UNKNOWN && ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode)) {
            return Entry::directory; // no d_type here: a directory after all
        }
        std::lock_guard lock(m_mutex);
        const std::string rel = relativePath(dir);
        entries.insert(rel.empty() ? name : rel + "/" + name);
        ++tally.files;
        if (onEntry) {
            onEntry(entries.size());
        }
        return Entry::done;
    }

    bool enter(WalkDirectory& child) override
    {
        std::lock_guard lock(m_mutex);
        directories.insert(relativePath(child));
        deepest = std::max(deepest, child.depth);
        if (watchDescriptors) {
            mostOpen = std::max(mostOpen, openDescriptors());
        }
        if (onEnter) {
            onEnter(child);
        }
        return true;
    }

    bool failed(const WalkDirectory& dir, const char* name, WalkFailure what, int error) override
    {
        std::lock_guard lock(m_mutex);
        failures.push_back({relativePath(dir) + "/" + name, what, error});
        return false;
    }

    std::set<std::string> entries;
    std::set<std::string> directories;
    std::vector<Failure> failures;
    int deepest = 0;
    bool watchDescriptors = false;
    std::size_t mostOpen = 0;
    std::function<void(std::size_t)> onEntry;
    std::function<void(const WalkDirectory&)> onEnter;

private:
    std::mutex m_mutex;
};

WalkRoot rootAt(const fs::path& path)
{
    WalkRoot root;
    root.fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    root.identity = identityOf(root.fd.get()).value_or(FileIdentity{});
    root.name = path.string();
    return root;
}

void walk(const fs::path& path, WalkVisitor& visitor, WalkControl control = {},
          WalkOrder order = WalkOrder::streaming)
{
    std::vector<WalkRoot> roots;
    roots.push_back(rootAt(path));
    walkTrees(std::move(roots), visitor, control, order, false);
}

// A chain of `depth` folders below `top`, a file in each.
void writeChain(const fs::path& top, int depth)
{
    fs::path at = top;
    for (int i = 0; i < depth; ++i) {
        at /= "d" + std::to_string(i);
        writeFile(at / "f");
    }
}

TEST(TreeWalker, NeverFollowsALinkAndSeesEveryFileOnce)
{
    test::TempDir tmp;
    writeFile(tmp / "outside" / "bait");
    writeFile(tmp / "root" / "a" / "one");
    writeFile(tmp / "root" / "a" / "b" / "two");
    fs::create_directory_symlink(tmp / "outside", tmp / "root" / "to-outside");
    fs::create_directory_symlink("..", tmp / "root" / "a" / "up");
    fs::create_symlink(tmp / "outside" / "bait", tmp / "root" / "a" / "to-bait");

    for (const WalkOrder order : {WalkOrder::streaming, WalkOrder::postOrder}) {
        for (const int jobs : {1, 4}) {
            RecordingVisitor visitor;
            walk(tmp / "root", visitor, {.jobs = jobs}, order);
            EXPECT_EQ(visitor.entries, (std::set<std::string>{"to-outside", "a/one", "a/up",
                                                              "a/to-bait", "a/b/two"}))
                << "jobs " << jobs;
            EXPECT_EQ(visitor.directories, (std::set<std::string>{"a", "a/b"}));
            EXPECT_TRUE(visitor.failures.empty());
        }
    }
}

// Deeper than the levels a thread keeps open: the walk climbs back through
// "..". A folder moved out of the root meanwhile leads ".." elsewhere: the
// walk notices and stops there, and never lists what lies beside the moved
// folder.
TEST(TreeWalker, ClimbsBackThroughDotDotOnlyIntoTheDirectoryItLeft)
{
    test::TempDir tmp;
    writeChain(tmp / "root", 40);
    writeFile(tmp / "elsewhere" / "bait");
    writeFile(tmp / "root" / "z-after" / "late");

    RecordingVisitor plain;
    walk(tmp / "root", plain, {.jobs = 1});
    EXPECT_EQ(plain.deepest, 40);
    EXPECT_EQ(plain.entries.size(), 41u);
    EXPECT_TRUE(plain.failures.empty());

    RecordingVisitor moved;
    moved.onEnter = [&](const WalkDirectory& dir) {
        if (dir.depth == 30) {
            fs::rename(tmp / "root" / "d0", tmp / "elsewhere" / "d0");
        }
    };
    walk(tmp / "root", moved, {.jobs = 1});
    bool noticed = false;
    for (const Failure& failure : moved.failures) {
        noticed = noticed || failure.what == WalkFailure::identityChanged;
    }
    EXPECT_TRUE(noticed);
    for (const std::string& entry : moved.entries) {
        EXPECT_EQ(entry.find("bait"), std::string::npos) << entry;
    }
}

// With few descriptors allowed, the walk still reaches every level and
// every file, and never holds more descriptors than the limit gives.
TEST(TreeWalker, StaysWithinALowDescriptorLimit)
{
    test::TempDir tmp;
    for (int branch = 0; branch < 8; ++branch) {
        writeChain(tmp / "root" / ("b" + std::to_string(branch)), 60);
    }
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlim_t limit = openDescriptors() + 48;
    rlimit low = saved;
    low.rlim_cur = limit;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    // Four threads asked for, and as many as the walk takes while every
    // request waits: the limit holds the number down.
    test::LatencyCalls slow(test::LatencyCalls::Kind::network, std::chrono::microseconds(300));
    for (const WalkControl& control : {WalkControl{.jobs = 4}, WalkControl{.calls = &slow}}) {
        RecordingVisitor visitor;
        visitor.watchDescriptors = true;
        WalkProgress progress;
        WalkControl counted = control;
        counted.progress = &progress;
        walk(tmp / "root", visitor, counted);

        EXPECT_TRUE(visitor.failures.empty())
            << visitor.failures.front().where << ": " << visitor.failures.front().error;
        EXPECT_EQ(visitor.entries.size(), 8u * 60u);
        EXPECT_EQ(visitor.deepest, 61); // b0 is level 1
        EXPECT_LT(visitor.mostOpen, limit);
        EXPECT_LE(progress.threads.load(),
                  std::max(control.jobs, std::max(walkThreads({}), static_cast<int>(limit / 16))));
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

// Asks the size of every file through the seam, as a measurement does: on a
// share, one request per file.
class SizingVisitor : public WalkVisitor {
public:
    explicit SizingVisitor(SystemCalls& calls) : m_calls(calls) {}

    Entry entry(int dirFd, const WalkDirectory&, const char* name, unsigned char,
                WalkTally& tally) override
    {
        struct statx stx {};
        if (m_calls.statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &stx) != 0) {
            return Entry::done;
        }
        if (S_ISDIR(stx.stx_mode)) {
            return Entry::directory;
        }
        ++tally.files;
        return Entry::done;
    }

private:
    SystemCalls& m_calls;
};

// `dirs` folders of `files` files each, below `root`.
void writeWideTree(const fs::path& root, int dirs, int files)
{
    for (int d = 0; d < dirs; ++d) {
        for (int f = 0; f < files; ++f) {
            writeFile(root / ("event-" + std::to_string(d)) / ("clip-" + std::to_string(f)));
        }
    }
}

struct Measured {
    std::uint64_t files = 0;
    int threads = 0;      // the most threads the walk had
    int mostInFlight = 0; // the most requests under way at once
};

Measured measure(const fs::path& root, test::LatencyCalls& calls, int jobs)
{
    SizingVisitor visitor(calls);
    WalkProgress progress;
    std::vector<WalkRoot> roots;
    roots.push_back(rootAt(root));
    walkTrees(std::move(roots), visitor, {.jobs = jobs, .progress = &progress, .calls = &calls},
              WalkOrder::streaming, false);
    return {progress.files.load(), progress.threads.load(), calls.mostInFlight()};
}

// Where each request waits on the network, and waits as long however many
// are in flight, the walk takes more threads than it starts with (one per
// core); a number asked for is kept to, exactly.
TEST(TreeWalker, TakesMoreThreadsWhileEachRequestWaitsOnTheNetwork)
{
    const int start = walkThreads({});
    if (walkThreadLimit({}) <= start) {
        GTEST_SKIP() << "the open-file limit or memory allows no more threads than cores";
    }
    test::TempDir tmp;
    writeWideTree(tmp / "root", 32, 32);
    constexpr std::chrono::milliseconds kRoundTrip{1};

    test::LatencyCalls share(test::LatencyCalls::Kind::network, kRoundTrip);
    const Measured grown = measure(tmp / "root", share, 0);
    EXPECT_EQ(grown.files, 32u * 32u);
    EXPECT_GT(grown.threads, start);
    EXPECT_GT(grown.mostInFlight, start);

    test::LatencyCalls asked(test::LatencyCalls::Kind::network, kRoundTrip);
    const Measured exact = measure(tmp / "root", asked, 3);
    EXPECT_EQ(exact.files, 32u * 32u);
    EXPECT_EQ(exact.threads, 3);
    EXPECT_LE(exact.mostInFlight, 3);
}

// Where the calls keep the processor busy, or the server answers one request
// at a time, more threads would not help: the walk keeps the threads it
// starts with, or comes back to them after a try.
TEST(TreeWalker, KeepsItsThreadsWhenMoreWouldNotHelp)
{
    const int start = walkThreads({});
    test::TempDir tmp;
    writeWideTree(tmp / "root", 16, 32);

    test::LatencyCalls busy(test::LatencyCalls::Kind::processor, std::chrono::microseconds(200));
    const Measured working = measure(tmp / "root", busy, 0);
    EXPECT_EQ(working.files, 16u * 32u);
    EXPECT_EQ(working.threads, start);

    test::LatencyCalls oneAtATime(test::LatencyCalls::Kind::oneServer,
                                  std::chrono::microseconds(500));
    const Measured queued = measure(tmp / "root", oneAtATime, 0);
    EXPECT_EQ(queued.files, 16u * 32u);
    // One try, four times the start, then back.
    EXPECT_LE(queued.threads, 4 * start) << "tried more than one step beyond the start";
}

TEST(TreeWalker, StopsSoonAfterTheTokenIsRaised)
{
    test::TempDir tmp;
    for (int dir = 0; dir < 50; ++dir) {
        for (int file = 0; file < 100; ++file) {
            writeFile(tmp / "root" / ("d" + std::to_string(dir)) / ("f" + std::to_string(file)));
        }
    }
    StopToken stop;
    RecordingVisitor visitor;
    visitor.onEntry = [&](std::size_t seen) {
        if (seen == 10) {
            stop.requestStop();
        }
    };
    walk(tmp / "root", visitor, {.jobs = 1, .stop = &stop});
    EXPECT_GE(visitor.entries.size(), 10u);
    EXPECT_LE(visitor.entries.size(), 200u) << "more than the directory in hand";
}

// A file system mounted inside the root is never entered, and said so. The
// mount is made in a mount namespace of a child process of its own.
TEST(TreeWalker, NeverEntersAnotherMount)
{
    test::TempDir tmp;
    writeFile(tmp / "root" / "here");
    fs::create_directories(tmp / "root" / "mounted");
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (tmp / "root" / "mounted").c_str(), "tmpfs", 0, nullptr) != 0) {
            ::_exit(77);
        }
        writeFile(tmp / "root" / "mounted" / "inside");
        RecordingVisitor visitor;
        walk(tmp / "root", visitor, {.jobs = 2});
        const bool refused = visitor.failures.size() == 1 &&
                             visitor.failures[0].what == WalkFailure::otherMount &&
                             visitor.failures[0].error == EXDEV;
        const bool entered = visitor.entries.count("mounted/inside") != 0;
        ::_exit(entered ? 1 : refused ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no mount namespace can be made here (needs CAP_SYS_ADMIN)";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: entered the mount; 2: not reported";
}

} // namespace
} // namespace vellico::platform
