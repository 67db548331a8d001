#include "analysis/folder_size.hpp"

#include "platform/file_system.hpp"
#include "sample_library.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"
#include "support/thread_recording_calls.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vellico::analysis {
namespace {

namespace fs = std::filesystem;
using tools::writeSparseFile;

TEST(FolderSize, CountsLogicalSizesOfVisibleRegularFilesOnly)
{
    test::TempDir tmp;
    const fs::path root = tmp / "root";
    writeSparseFile(root / "a.mov", 5'000'000'000); // sparse: logical size, not blocks
    writeSparseFile(root / "sub/b", 300);
    writeSparseFile(root / "sub/deeper/c", 7);
    writeSparseFile(root / ".hidden", 1000);      // hidden file: not counted
    writeSparseFile(root / ".hiddenDir/d", 1000); // hidden folder: not entered
    writeSparseFile(tmp / "outside/e", 1'000'000);
    fs::create_symlink(tmp / "outside", root / "linkToDir"); // not followed
    fs::create_symlink(tmp / "outside/e", root / "linkToFile");
    fs::create_symlink(".", root / "loop");                // the editor's .fcpcache trick, visible
    ASSERT_EQ(::mkfifo((root / "fifo").c_str(), 0644), 0); // never opened
    EXPECT_EQ(folderSize(root), 5'000'000'307);
}

TEST(FolderSize, EmptyMissingAndFileOnlyFolders)
{
    test::TempDir tmp;
    fs::create_directories(tmp / "empty/only/dirs");
    writeSparseFile(tmp / "file", 10);
    EXPECT_EQ(folderSize(tmp / "empty"), 0);
    EXPECT_EQ(folderSize(tmp / "missing"), 0);
    EXPECT_EQ(folderSize(tmp / "file"), 0);
}

// Failures met below the folder, injected through the system-call seam so
// that they happen as root too: each failing part counts 0 and the rest is
// still measured.
TEST(FolderSize, UnreadablePartsCountZeroAndTheWalkGoesOn)
{
    test::TempDir tmp;
    const fs::path root = tmp / "root";
    writeSparseFile(root / "open/y", 20);
    writeSparseFile(root / "denied/x", 100);
    writeSparseFile(root / "broken/x", 100);
    writeSparseFile(root / "crowded/x", 100);
    writeSparseFile(root / "vanishing", 1000);
    for (int i = 0; i < 5; ++i) {
        writeSparseFile(root / "halfRead" / ("f" + std::to_string(i)), 3);
    }
    test::ScriptedSystemCalls calls;
    calls.onOpenat = [](int, const std::string& name, int) -> std::optional<int> {
        if (name == "denied") {
            return EACCES;
        }
        if (name == "crowded") {
            return EMFILE;
        }
        return std::nullopt;
    };
    calls.onStatx = [](const std::string& name, struct statx&) -> std::optional<int> {
        if (name == "vanishing") {
            return ENOENT; // listed, then gone before it was measured
        }
        if (name == "broken") {
            return EIO;
        }
        return std::nullopt;
    };
    calls.failListing = {{"halfRead", EIO}};
    for (const int jobs : {1, 4}) {
        SCOPED_TRACE(jobs);
        platform::WalkProgress progress;
        const std::int64_t size = folderSize(root, {jobs, nullptr, &progress, &calls});
        // halfRead: its first record only, whichever file that is.
        EXPECT_EQ(size, 20 + 3);
        EXPECT_EQ(progress.files.load(), 2U);
        EXPECT_EQ(progress.bytes.load(), 23U);
        // What could not be read is named, once, relative to the root; what
        // vanished is not.
        const TreeSizes sizes = measureTree(platform::openDirectoryPath(root.string()), {},
                                            {jobs, nullptr, nullptr, &calls});
        // Each with the error that made it unreadable, for the user to see.
        EXPECT_EQ(
            sizes.unreadable,
            (std::vector<UnreadableEntry>{
                {"broken", EIO}, {"crowded", EMFILE}, {"denied", EACCES}, {"halfRead", EIO}}));
    }
}

// The same tree measured by one thread and by several gives the same sizes
// and counts every file once, however the work was shared.
TEST(FolderSize, SeveralThreadsCountEveryFileOnce)
{
    test::TempDir tmp;
    const fs::path root = tmp / "wide";
    std::int64_t expected = 0;
    std::uint64_t files = 0;
    for (int a = 0; a < 40; ++a) {
        for (int b = 0; b < 8; ++b) {
            const fs::path dir = root / ("a" + std::to_string(a)) / ("b" + std::to_string(b));
            for (int f = 0; f <= (a * 7 + b) % 5; ++f) {
                const std::int64_t length = 1 + a * 100 + b * 10 + f;
                writeSparseFile(dir / ("f" + std::to_string(f)), length);
                expected += length;
                ++files;
            }
        }
    }
    for (const int jobs : {1, 2, 8}) {
        SCOPED_TRACE(jobs);
        platform::WalkProgress progress;
        EXPECT_EQ(folderSize(root, {jobs, nullptr, &progress, nullptr}), expected);
        EXPECT_EQ(progress.files.load(), files);
        EXPECT_EQ(progress.bytes.load(), static_cast<std::uint64_t>(expected));
    }
}

// One directory of many files: its files are shared between the threads,
// and each is still counted once.
TEST(FolderSize, TheFilesOfOneLargeDirectoryAreSharedBetweenThreads)
{
    test::TempDir tmp;
    const fs::path root = tmp / "flat";
    std::int64_t expected = 0;
    constexpr int kFiles = 3000;
    for (int f = 0; f < kFiles; ++f) {
        writeSparseFile(root / ("clip-" + std::to_string(f) + ".mov"), 1000 + f);
        expected += 1000 + f;
    }
    for (const int jobs : {2, 4}) {
        SCOPED_TRACE(jobs);
        test::ThreadRecordingCalls calls;
        platform::WalkProgress progress;
        EXPECT_EQ(folderSize(root, {jobs, nullptr, &progress, &calls}), expected);
        EXPECT_EQ(progress.files.load(), static_cast<std::uint64_t>(kFiles));
        EXPECT_GE(calls.threadsSeen(), 2u);
    }
}

// Threads that wait on the disk rather than work are joined by others, up
// to the limit; a number of threads asked for is kept to.
TEST(FolderSize, MoreThreadsJoinWhileTheDiskKeepsThemWaiting)
{
    const int start = platform::walkThreads({});
    const int limit = platform::walkThreadLimit({});
    if (start + 2 > limit) {
        GTEST_SKIP() << "as many cores as threads the walk may grow to";
    }
    test::TempDir tmp;
    const fs::path root = tmp / "slow";
    std::int64_t expected = 0;
    for (int d = 0; d < 64; ++d) {
        for (int f = 0; f < 16; ++f) {
            writeSparseFile(root / ("event-" + std::to_string(d)) / ("clip-" + std::to_string(f)),
                            f);
            expected += f;
        }
    }
    constexpr std::chrono::microseconds kDiskWait{300};
    {
        test::ThreadRecordingCalls calls(kDiskWait);
        EXPECT_EQ(folderSize(root, {0, nullptr, nullptr, &calls}), expected);
        EXPECT_GE(calls.threadsSeen(), static_cast<std::size_t>(start + 2));
        EXPECT_LE(calls.threadsSeen(), static_cast<std::size_t>(limit));
    }
    {
        test::ThreadRecordingCalls calls(kDiskWait);
        EXPECT_EQ(folderSize(root, {2, nullptr, nullptr, &calls}), expected);
        EXPECT_LE(calls.threadsSeen(), 2U);
    }
}

// A directory on another mount is neither entered nor counted. The mount is
// simulated through the seam: the directory reports another mount id.
TEST(FolderSize, NeverEntersAnotherMount)
{
    test::TempDir tmp;
    const fs::path root = tmp / "root";
    writeSparseFile(root / "here/a", 5);
    writeSparseFile(root / "mounted/b", 700);
    test::ScriptedSystemCalls calls;
    calls.onStatx = [](const std::string& name, struct statx& out) -> std::optional<int> {
        if (name == "mounted") {
            out.stx_mnt_id += 1000;
        }
        return std::nullopt;
    };
    EXPECT_EQ(folderSize(root, {1, nullptr, nullptr, &calls}), 5);
    EXPECT_EQ(calls.count(calls.opened, "b"), 0);
}

// A stop requested during the walk: no directory is entered after it but
// the one another thread may be opening at that moment.
TEST(FolderSize, StopsWhenAsked)
{
    test::TempDir tmp;
    const fs::path root = tmp / "root";
    for (int i = 0; i < 30; ++i) {
        writeSparseFile(root / ("d" + std::to_string(i)) / "sub/f", 1);
    }
    platform::StopToken stop;
    test::ScriptedSystemCalls calls;
    int opensAfterStop = 0;
    calls.onOpenat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (stop.stopRequested()) {
            ++opensAfterStop;
        }
        if (name == "d7") {
            stop.requestStop();
        }
        return std::nullopt;
    };
    const std::int64_t size = folderSize(root, {2, &stop, nullptr, &calls});
    EXPECT_LT(size, 30);
    EXPECT_LE(opensAfterStop, 1);
}

TEST(FolderSize, MeasureTreeGivesTheTotalAndEachSubfolderInOneWalk)
{
    test::TempDir tmp;
    const fs::path root = tmp / "lib";
    writeSparseFile(root / "Ev/Render Files/x", 100);
    writeSparseFile(root / "Ev/Render Files/Ev/Render Files/v", 50); // inside a listed one
    writeSparseFile(root / "Ev/Other/y", 20);
    writeSparseFile(root / "VideoSegmentationFiles/z", 3);
    writeSparseFile(root / "Ev2/Render Files/Ev/Render Files/w", 4000); // deeper: not listed
    const TreeSizes sizes =
        measureTree(platform::openDirectoryPath(root),
                    {"Ev/Render Files", "VideoSegmentationFiles", "Ev/Missing"}, {});
    ASSERT_EQ(sizes.subfolders.size(), 3U);
    EXPECT_EQ(sizes.subfolders[0].size, 150);
    EXPECT_EQ(sizes.subfolders[1].size, 3);
    EXPECT_EQ(sizes.subfolders[2].size, 0);
    EXPECT_EQ(sizes.total, 4173);
    EXPECT_EQ(sizes.total, folderSize(root));
    EXPECT_EQ(sizes.subfolders[0].identity,
              platform::identityAt(AT_FDCWD, (root / "Ev/Render Files").c_str()));
    EXPECT_FALSE(sizes.subfolders[2].identity);
}

// Deeper than the open-file limit allows if one descriptor per level were kept.
TEST(FolderSize, DeepTreesUnderALowDescriptorLimit)
{
    test::TempDir tmp;
    constexpr int depth = 3000;
    {
        // Built with fd-relative calls: the path would exceed PATH_MAX.
        int fd = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < depth; ++i) {
            ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
            const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(f, 0);
            ASSERT_EQ(::ftruncate(f, 2), 0);
            ::close(f);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            ASSERT_GE(fd, 0);
        }
        ::close(fd);
    }
    for (const int jobs : {1, 8}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{64, 64};
            ::setrlimit(RLIMIT_NOFILE, &limit);
            ::_exit(folderSize(tmp.path(), {jobs, nullptr, nullptr, nullptr}) == 2 * depth ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "wrong size under a 64-descriptor limit, " << jobs;
    }
    EXPECT_EQ(folderSize(tmp.path()), 2 * depth);
}

TEST(FolderSize, AWalkStoppedByAMovedFolderIsNamedNotPassedOffAsComplete)
{
    // Deeper than the descriptors a thread keeps open, so that the walk goes
    // back up through "..", and finds that the directory above is no longer
    // the one it came from.
    test::TempDir tmp;
    fs::path deep = tmp / "Render Files";
    for (int i = 0; i < 40; ++i) {
        deep /= "d";
        tools::writeFile(deep / "f", "12");
    }
    test::ScriptedSystemCalls calls;
    int parents = 0;
    calls.onOpenat = [&](int, const std::string& name, int) -> std::optional<int> {
        return name == ".." && ++parents == 1 ? std::optional<int>(ENOENT) : std::nullopt;
    };
    const TreeSizes sizes = measureTree(platform::openDirectoryPath(tmp.path().string()),
                                        {"Render Files"}, {1, nullptr, nullptr, &calls});
    ASSERT_GE(parents, 1) << "the walk never went back up";
    EXPECT_FALSE(sizes.unreadable.empty()) << "a stopped walk passed for a whole one";
}

} // namespace
} // namespace vellico::analysis
