#include "analysis/folder_size.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include "platform/file_system.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

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

// Runs `check` in a child process without privileges (nobody when the test
// runs as root), so that permissions apply; its exit status is returned.
int statusUnprivileged(const test::TempDir& tmp, const std::function<int()>& check)
{
    ::chmod(tmp.path().c_str(), 0755);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0)) {
            ::_exit(99);
        }
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FolderSize, UnreadablePartsCountZeroAreNamedAndTheWalkGoesOn)
{
    test::TempDir tmp;
    writeSparseFile(tmp / "root/closed/x", 100); // cannot be opened
    writeSparseFile(tmp / "root/open/y", 20);
    writeSparseFile(tmp / "root/open/listOnly/z", 3);     // listed, not searchable
    writeSparseFile(tmp / "root/open/listOnly/sub/w", 4); // not reached
    writeSparseFile(tmp / "root/.hidden/v", 5);           // hidden: neither entered nor named
    fs::permissions(tmp / "root/closed", fs::perms::none);
    fs::permissions(tmp / "root/open/listOnly",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(tmp / "root/.hidden", fs::perms::none);
    const int status = statusUnprivileged(tmp, [&] {
        std::vector<std::string> unreadable;
        const std::int64_t size = folderSize(platform::openDirectoryPath((tmp / "root").string()),
                                             {nullptr, &unreadable});
        std::sort(unreadable.begin(), unreadable.end());
        if (size != 20) {
            return 1;
        }
        return unreadable == std::vector<std::string>{"closed", "open/listOnly"} ? 0 : 2;
    });
    fs::permissions(tmp / "root/open/listOnly", fs::perms::owner_all);
    EXPECT_EQ(status, 0) << "1: wrong size, 2: wrong unreadable list";
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
