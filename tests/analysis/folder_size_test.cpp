#include "analysis/folder_size.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include "platform/file_system.hpp"

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

TEST(FolderSize, UnreadablePartsCountZeroAndTheWalkGoesOn)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every folder";
    }
    test::TempDir tmp;
    writeSparseFile(tmp / "root/closed/x", 100);
    writeSparseFile(tmp / "root/open/y", 20);
    fs::permissions(tmp / "root/closed", fs::perms::none);
    EXPECT_EQ(folderSize(tmp / "root"), 20);
}

TEST(FolderSize, ExcludedSubtreesAddUpToTheWhole)
{
    test::TempDir tmp;
    const fs::path root = tmp / "lib";
    writeSparseFile(root / "Ev/Render Files/x", 100);
    writeSparseFile(root / "Ev/Other/y", 20);
    writeSparseFile(root / "VideoSegmentationFiles/z", 3);
    writeSparseFile(root / "Ev2/Render Files/Ev/Render Files/w",
                    4000); // deeper: never excluded by name
    const std::int64_t rest = folderSizeExcluding(platform::openDirectoryPath(root),
                                                  {"Ev/Render Files", "VideoSegmentationFiles"});
    EXPECT_EQ(rest, 4020);
    EXPECT_EQ(folderSize(root), 4123);
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
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::_exit(folderSize(tmp.path()) == 2 * depth ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "wrong size under a 64-descriptor limit";
    EXPECT_EQ(folderSize(tmp.path()), 2 * depth);
}

} // namespace
} // namespace vellico::analysis
