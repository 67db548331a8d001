#include "cleanup/folder_removal.hpp"

#include "analysis/folder_size.hpp"
#include "cleanup_test_support.hpp"
#include "support/latency_calls.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"
#include "support/thread_recording_calls.hpp"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

namespace vellico::cleanup {
namespace {

namespace fs = std::filesystem;
using test::foundFolder;
using test::treeDigest;
using test::writeText;

// A library with one event, a selected "Render Files" folder, an original
// media folder beside it that must stay, and a canary tree outside the
// library that no removal may ever change.
class FolderRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeText(m_tmp / "canary" / "precious.txt", "do not delete");
        writeText(m_tmp / "canary" / "deep" / "more.txt", "nor this");
        fs::create_directories(m_tmp / "canary" / "empty");
        m_canaryDigest = treeDigest(canary());

        writeText(event() / "Original Media" / "clip.mov", "original");
        test::makeMediaTree(selected());
        m_originalDigest = treeDigest(event() / "Original Media");
    }

    void TearDown() override
    {
        EXPECT_EQ(treeDigest(canary()), m_canaryDigest) << "the canary outside the folder changed";
        EXPECT_EQ(treeDigest(event() / "Original Media"), m_originalDigest)
            << "a sibling of the folder changed";
    }

public:
    fs::path canary() const { return m_tmp / "canary"; }
    fs::path bundle() const { return m_tmp / "Library.fcpbundle"; }
    fs::path event() const { return bundle() / "Event A"; }
    fs::path selected() const { return event() / "Render Files"; }
    model::FoundFolder record() const { return foundFolder(selected(), "Render Files", "Event A"); }

protected:
    test::TempDir m_tmp;
    std::uint64_t m_canaryDigest = 0;
    std::uint64_t m_originalDigest = 0;
};

bool gone(const fs::path& path)
{
    std::error_code ec;
    return !fs::exists(fs::symlink_status(path, ec));
}

TEST_F(FolderRemoval, RemovesTheWholeFolderAndNothingBeside)
{
    const auto result = removeFoundFolder(bundle(), record());
    ASSERT_TRUE(result) << result.error().path << ": " << describe(result.error());
    EXPECT_TRUE(gone(selected()));
    EXPECT_TRUE(fs::is_directory(event()));
}

TEST_F(FolderRemoval, RemovesLinksInsideWithoutFollowingThem)
{
    fs::create_symlink(canary(), selected() / "to-canary");
    fs::create_symlink(canary() / "precious.txt", selected() / "to-canary-file");
    fs::create_symlink("../../..", selected() / "High Quality Media" / "up");
    fs::create_symlink(event() / "Original Media", selected() / "to-sibling");
    fs::create_symlink(m_tmp / "nowhere", selected() / "dangling");

    ASSERT_TRUE(removeFoundFolder(bundle(), record()));
    EXPECT_TRUE(gone(selected()));
    // TearDown: canary and sibling unchanged.
}

TEST_F(FolderRemoval, RemovesABackupFolderOutsideTheLibraryFromItsParent)
{
    const fs::path backup = m_tmp / "Movies" / "Final Cut Backups.localized" / "Library";
    test::makeMediaTree(backup);
    fs::create_symlink(canary(), backup / "to-canary");
    writeText(m_tmp / "Movies" / "keep.txt", "keep");

    ASSERT_TRUE(removeFoundFolder(bundle(), foundFolder(backup, "Final Cut Backups", "Movies")));
    EXPECT_TRUE(gone(backup));
    EXPECT_EQ(test::readText(m_tmp / "Movies" / "keep.txt"), "keep");
}

TEST_F(FolderRemoval, TakesAwkwardNames)
{
    const std::vector<std::string> names = {"new\nline",
                                            std::string("byte\xff"),
                                            std::string(255, 'n'),
                                            "-rf",
                                            "--",
                                            " lead",
                                            "trail ",
                                            "*?[x]",
                                            "\\"};
    for (const std::string& name : names) {
        writeText(selected() / name, "file");
        writeText(selected() / "dirs" / name / name, "nested");
    }
    ASSERT_TRUE(removeFoundFolder(bundle(), record()));
    EXPECT_TRUE(gone(selected()));
}

// FIFOs are unlinked without ever being opened (an open would block), also
// when the file system gives no d_type and the type has to be asked for.
class FolderRemovalTypes : public FolderRemoval, public ::testing::WithParamInterface<bool> {};

TEST_P(FolderRemovalTypes, UnlinksFifosSocketsAndLinksWithoutOpeningThem)
{
    ASSERT_EQ(::mkfifo((selected() / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((selected() / "High Quality Media" / "pipe2").c_str(), 0644), 0);
    fs::create_symlink(canary(), selected() / "link-to-dir");

    test::ScriptedSystemCalls calls;
    calls.unknownTypes = GetParam();
    ASSERT_TRUE(removeFoundFolder(bundle(), record(), calls));
    EXPECT_TRUE(gone(selected()));
    EXPECT_EQ(calls.count(calls.opened, "pipe"), 0);
    EXPECT_EQ(calls.count(calls.opened, "pipe2"), 0);
    EXPECT_EQ(calls.count(calls.opened, "link-to-dir"), 0);
}

INSTANTIATE_TEST_SUITE_P(DirentTypes, FolderRemovalTypes, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Unknown" : "Known"; });

TEST_F(FolderRemoval, ReportsAFolderAlreadyGone)
{
    const model::FoundFolder folder = record();
    fs::remove_all(selected());
    const auto result = removeFoundFolder(bundle(), folder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::systemError);
    EXPECT_EQ(result.error().errorNumber, ENOENT);
    EXPECT_EQ(result.error().path, selected());
}

// The item at the folder's place changed after the analysis: nothing at all
// may be removed, neither there nor through it.
TEST_F(FolderRemoval, RefusesAFolderReplacedAfterTheAnalysis)
{
    struct Case {
        const char* what;
        std::function<void(FolderRemoval&)> replace;
        RemovalProblem problem;
    };
    const std::vector<Case> cases = {
        {"a link to the canary",
         [](FolderRemoval& t) { fs::create_directory_symlink(t.canary(), t.selected()); },
         RemovalProblem::identityChanged},
        {"another directory",
         [](FolderRemoval& t) { writeText(t.selected() / "someone-elses.txt", "keep"); },
         RemovalProblem::identityChanged},
        {"a file", [](FolderRemoval& t) { writeText(t.selected(), "a file now"); },
         RemovalProblem::identityChanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::makeMediaTree(selected());
        const model::FoundFolder folder = record();
        fs::rename(selected(), m_tmp / "moved-away");
        const std::uint64_t movedDigest = treeDigest(m_tmp / "moved-away");
        c.replace(*this);
        const std::uint64_t replacementDigest = treeDigest(selected());

        const auto result = removeFoundFolder(bundle(), folder);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().problem, c.problem);
        EXPECT_EQ(treeDigest(selected()), replacementDigest);
        EXPECT_EQ(treeDigest(m_tmp / "moved-away"), movedDigest);

        fs::remove_all(selected()); // the link itself, the file or the other directory
        fs::remove_all(m_tmp / "moved-away");
    }
}

TEST_F(FolderRemoval, RefusesWhenTheEventOnTheWayBecameALink)
{
    // A look-alike library elsewhere, reached through a link where the event was.
    const fs::path elsewhere = m_tmp / "elsewhere";
    test::makeMediaTree(elsewhere / "Render Files");
    const std::uint64_t elsewhereDigest = treeDigest(elsewhere);
    const model::FoundFolder folder = record();
    fs::rename(event(), m_tmp / "event-moved");
    fs::create_directory_symlink(elsewhere, event());

    const auto result = removeFoundFolder(bundle(), folder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::identityChanged);
    EXPECT_EQ(treeDigest(elsewhere), elsewhereDigest);
    fs::remove(event());
    fs::rename(m_tmp / "event-moved", event());
}

TEST_F(FolderRemoval, NeverRemovesTheLibraryOrAFolderHoldingIt)
{
    const std::uint64_t before = treeDigest(m_tmp.path());
    // The record's url, and the folder whose identity it carries.
    const std::vector<std::pair<fs::path, fs::path>> cases = {
        {bundle(), bundle()}, {bundle().string() + "/", bundle()}, {m_tmp.path(), m_tmp.path()}};
    for (const auto& [url, real] : cases) {
        SCOPED_TRACE(url);
        model::FoundFolder folder = foundFolder(real, "Render Files");
        folder.url = url;
        const auto result = removeFoundFolder(bundle(), folder);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().errorNumber, EINVAL);
    }
    EXPECT_EQ(treeDigest(m_tmp.path()), before);
}

TEST_F(FolderRemoval, RefusesAFolderWithoutRecordedIdentity)
{
    model::FoundFolder folder = record();
    folder.identity.reset();
    const std::uint64_t before = treeDigest(selected());
    const auto result = removeFoundFolder(bundle(), folder);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::identityUnknown);
    EXPECT_EQ(treeDigest(selected()), before);
}

// A subfolder listed as a directory becomes a link to the canary right
// before it is opened: only the link goes.
TEST_F(FolderRemoval, SubfolderSwappedForALinkJustBeforeItIsOpened)
{
    const fs::path sub = selected() / "High Quality Media";
    test::ScriptedSystemCalls calls;
    bool swapped = false;
    calls.onOpenat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (name == "High Quality Media" && !swapped) {
            swapped = true;
            fs::rename(sub, m_tmp / "held");
            fs::create_directory_symlink(canary(), sub);
        }
        return std::nullopt;
    };
    ASSERT_TRUE(removeFoundFolder(bundle(), record(), calls));
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(gone(selected()));
    EXPECT_TRUE(fs::is_directory(m_tmp / "held")); // moved out before we got there
}

// Another thread keeps swapping a subfolder for a link to the canary while
// the folder is removed. Whatever the outcome, the canary stays intact.
TEST_F(FolderRemoval, CanarySurvivesARaceSwappingASubfolderForALink)
{
    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(run);
        fs::remove_all(selected());
        test::makeMediaTree(selected(), 4, 8);
        test::makeMediaTree(selected() / "sub", 2, 4);
        const model::FoundFolder folder = record();
        const fs::path sub = selected() / "sub";
        const fs::path held = selected() / "held";

        std::atomic<bool> stop{false};
        std::thread racer([&] {
            while (!stop.load()) {
                ::rename(sub.c_str(), held.c_str());
                ::symlink(canary().c_str(), sub.c_str());
                ::symlink((canary() / "precious.txt").c_str(), (held / "x").c_str());
                ::unlink(sub.c_str());
                ::rename(held.c_str(), sub.c_str());
            }
        });
        const auto result = removeFoundFolder(bundle(), folder);
        stop = true;
        racer.join();
        ASSERT_EQ(treeDigest(canary()), m_canaryDigest);
        (void)result; // success or a reported failure: both are fine here
    }
    fs::remove_all(selected());
}

TEST_F(FolderRemoval, RemovesA5000DeepTreeUnderALowOpenFileLimit)
{
    {
        platform::UniqueFd dir(::open(selected().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (int level = 0; level < 5000 && dir; ++level) {
            ASSERT_EQ(::mkdirat(dir.get(), "d", 0755), 0);
            if (level % 250 == 0) {
                platform::UniqueFd file(
                    ::openat(dir.get(), "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            }
            dir.reset(::openat(dir.get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        }
        ASSERT_TRUE(dir);
    }
    const model::FoundFolder folder = record();
    const int status = test::runInChild([&] {
        const struct rlimit limit {
            64, 64
        };
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return test::kCannotSetUp;
        }
        // Eight threads sharing the limit.
        const auto result =
            removeFoundFolder(bundle(), folder, platform::defaultSystemCalls(), {8, {}, {}, {}});
        if (!result) {
            std::fprintf(stderr, "%s\n", describe(result.error()).c_str());
            return 1;
        }
        return 0;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot lower the open-file limit";
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(gone(selected()));
}

// Another file system mounted inside the folder: a tmpfs (another device),
// and a bind mount of the canary itself (same device, another mount).
class FolderRemovalMounts : public FolderRemoval, public ::testing::WithParamInterface<bool> {};

TEST_P(FolderRemovalMounts, LeavesAMountInsideUntouchedAndReportsIt)
{
    const bool bindCanary = GetParam();
    const fs::path mountPoint = selected() / "High Quality Media" / "mnt";
    fs::create_directories(mountPoint);
    const std::uint64_t canaryDigest = m_canaryDigest;

    const int status = test::runInChild([&] {
        if (!test::enterPrivateMountNamespace()) {
            return test::kCannotSetUp;
        }
        // Mount ids are per namespace: the analysis runs in this one.
        const model::FoundFolder folder = record();
        const int mounted =
            bindCanary ? ::mount(canary().c_str(), mountPoint.c_str(), nullptr, MS_BIND, nullptr)
                       : ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m");
        if (mounted != 0) {
            return test::kCannotSetUp;
        }
        if (!bindCanary) {
            writeText(mountPoint / "inside.txt", "keep");
        }
        const std::uint64_t mountedDigest = treeDigest(mountPoint);

        const auto result = removeFoundFolder(bundle(), folder);
        if (result) {
            return 1; // reported as removed although a mount stays
        }
        if (result.error().problem != RemovalProblem::mountPointInside ||
            result.error().path != mountPoint) {
            std::fprintf(stderr, "%d %s: %s\n", static_cast<int>(result.error().problem),
                         result.error().path.c_str(), describe(result.error()).c_str());
            return 2;
        }
        if (treeDigest(mountPoint) != mountedDigest) {
            return 3;
        }
        if (bindCanary && treeDigest(mountPoint) != canaryDigest) {
            return 4;
        }
        if (fs::exists(selected() / "High Quality Media" / "segment-0")) {
            return 5; // the rest should have been removed
        }
        return 0;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot make a mount namespace here";
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::is_directory(mountPoint));
}

// The folder itself is the mount point (as if the analysis had taken a
// mounted folder for one of the library's): nothing at all is removed.
TEST_P(FolderRemovalMounts, RefusesAFolderThatIsItselfAMountPoint)
{
    const bool bindCanary = GetParam();
    const int status = test::runInChild([&] {
        if (!test::enterPrivateMountNamespace()) {
            return test::kCannotSetUp;
        }
        const int mounted =
            bindCanary ? ::mount(canary().c_str(), selected().c_str(), nullptr, MS_BIND, nullptr)
                       : ::mount("tmpfs", selected().c_str(), "tmpfs", 0, "size=1m");
        if (mounted != 0) {
            return test::kCannotSetUp;
        }
        if (!bindCanary) {
            writeText(selected() / "inside.txt", "keep");
        }
        const std::uint64_t mountedDigest = treeDigest(selected());
        const auto result = removeFoundFolder(bundle(), record());
        if (result || result.error().problem != RemovalProblem::mountPoint) {
            return 1;
        }
        return treeDigest(selected()) == mountedDigest ? 0 : 2;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot make a mount namespace here";
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(treeDigest(canary()), m_canaryDigest);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FolderRemovalMounts, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "BindOfCanary" : "Tmpfs"; });

TEST_F(FolderRemoval, StopsAtOnceOnAReadOnlyFileSystem)
{
    const int status = test::runInChild([&] {
        if (!test::enterPrivateMountNamespace() ||
            ::mount(bundle().c_str(), bundle().c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
            ::mount(nullptr, bundle().c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                    nullptr) != 0) {
            return test::kCannotSetUp;
        }
        const model::FoundFolder folder = record(); // the analysis of the read-only library
        const std::uint64_t before = treeDigest(selected());
        test::ScriptedSystemCalls calls;
        // One thread, so that the count is exact: with more, each other
        // thread may have an unlink under way when the first one fails.
        const auto result = removeFoundFolder(bundle(), folder, calls, {1, {}, {}, {}});
        if (result || result.error().errorNumber != EROFS) {
            return 1;
        }
        if (calls.unlinked.size() != 1) {
            return 2; // EROFS ends the folder: no further attempt
        }
        return treeDigest(selected()) == before ? 0 : 3;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot make a read-only mount here";
    }
    EXPECT_EQ(status, 0);
}

// One failing entry: EACCES, EPERM and EBUSY are reported and the siblings
// still go; I/O and stale-handle errors end the folder at once.
TEST_F(FolderRemoval, InjectedFailuresAreReportedWithTheFirstErrorAndItsPath)
{
    struct Case {
        int error;
        bool onOpen; // fail the open of a subfolder instead of an unlink
        bool siblingsGo;
    };
    const std::vector<Case> cases = {
        {EBUSY, false, true}, {EACCES, false, true}, {EPERM, false, true},  {EACCES, true, true},
        {EIO, false, false},  {ESTALE, true, false}, {EMFILE, true, false},
    };
    for (const int jobs : {1, 4}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.onOpen ? "open " : "unlink ") + std::strerror(c.error) +
                         ", threads: " + std::to_string(jobs));
            fs::remove_all(selected());
            test::makeMediaTree(selected());
            writeText(selected() / "victim", "v");
            fs::create_directories(selected() / "victim-dir");
            writeText(selected() / "zz-sibling", "s");
            const std::string target = c.onOpen ? "victim-dir" : "victim";
            test::ScriptedSystemCalls calls;
            std::size_t callsAtFailure = 0;
            auto hook = [&](int, const std::string& name, int) -> std::optional<int> {
                if (name != target) {
                    return std::nullopt;
                }
                callsAtFailure = calls.unlinked.size() + calls.opened.size();
                return c.error;
            };
            (c.onOpen ? calls.onOpenat : calls.onUnlinkat) = hook;

            const auto result = removeFoundFolder(bundle(), record(), calls, {jobs, {}, {}, {}});
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().errorNumber, c.error);
            EXPECT_EQ(result.error().path, selected() / target);
            EXPECT_EQ(describe(result.error()), systemErrorText(c.error));
            EXPECT_TRUE(fs::exists(selected() / target));
            if (c.siblingsGo) {
                // Everything but the victim and the folder holding it is gone.
                EXPECT_FALSE(fs::exists(selected() / "zz-sibling"));
                EXPECT_FALSE(fs::exists(selected() / "High Quality Media"));
            } else {
                // Not one more call after the failing one, but those the
                // other threads had under way: each sees the stop at its
                // next step, and until the failure is recorded (a while,
                // under ThreadSanitizer) it may take one more, a directory's
                // check and its removal.
                EXPECT_LE(calls.unlinked.size() + calls.opened.size(),
                          callsAtFailure + static_cast<std::size_t>(2 * (jobs - 1)));
            }
        }
    }
    fs::remove_all(selected());
}

// Wide and deep at once, removed by one thread and by several: everything
// goes, each directory after its contents, and nothing beside.
TEST_F(FolderRemoval, SeveralThreadsRemoveEverythingAndNothingBeside)
{
    for (const int jobs : {1, 2, 8}) {
        SCOPED_TRACE(jobs);
        for (int a = 0; a < 12; ++a) {
            for (int b = 0; b < 6; ++b) {
                const fs::path dir =
                    selected() / ("a" + std::to_string(a)) / ("b" + std::to_string(b));
                for (int f = 0; f < 4; ++f) {
                    writeText(dir / "deeper" / ("f" + std::to_string(f)), "x");
                }
                fs::create_symlink(canary(), dir / "link-out");
            }
        }
        test::ScriptedSystemCalls calls;
        int directoriesRemoved = 0; // the hooks run under the seam's lock
        int removedTooEarly = 0;
        calls.onUnlinkat = [&](int dirFd, const std::string& name,
                               int flags) -> std::optional<int> {
            if ((flags & AT_REMOVEDIR) != 0) {
                // Asked only once its contents are gone (a premature rmdir
                // would fail and be retried, hiding the fault).
                const fs::path dir = fs::path("/proc/self/fd") / std::to_string(dirFd) / name;
                if (!fs::is_empty(dir)) {
                    ++removedTooEarly;
                }
                ++directoriesRemoved;
            }
            return std::nullopt;
        };
        ASSERT_TRUE(removeFoundFolder(bundle(), record(), calls, {jobs, {}, {}, {}}));
        EXPECT_TRUE(gone(selected()));
        EXPECT_EQ(calls.count(calls.unlinked, "link-out"), 12 * 6);
        // 12 a, 72 b, 72 deeper, the folder itself and those of the media tree.
        EXPECT_GE(directoriesRemoved, 12 + 72 + 72 + 1);
        EXPECT_EQ(removedTooEarly, 0);
        test::makeMediaTree(selected());
    }
}

// A folder that is one directory of many files (transcoded media often is):
// the threads share its files, and the directory goes once all are gone.
TEST_F(FolderRemoval, TheFilesOfOneLargeDirectoryAreSharedBetweenThreads)
{
    for (int f = 0; f < 3000; ++f) {
        writeText(selected() / ("clip-" + std::to_string(f) + ".mov"), "m");
    }
    test::ThreadRecordingCalls calls;
    ASSERT_TRUE(removeFoundFolder(bundle(), record(), calls, {2, {}, {}, {}}));
    EXPECT_TRUE(gone(selected()));
    EXPECT_GE(calls.threadsSeen(), 2u);
}

// On a share every unlink is a round trip: the removal takes more threads
// than the eight it starts with while that makes it faster, and removes
// everything all the same; a number asked for is kept to, exactly.
TEST_F(FolderRemoval, TakesMoreThreadsWhileEachUnlinkWaitsOnTheNetwork)
{
    const bool mayGrow = platform::walkThreadLimit({.startThreads = 8}) > 8;
    for (const int jobs : {0, 3}) {
        SCOPED_TRACE(jobs);
        for (int d = 0; d < 48; ++d) {
            for (int f = 0; f < 40; ++f) {
                writeText(selected() / ("d" + std::to_string(d)) / ("f" + std::to_string(f)), "x");
            }
        }
        test::LatencyCalls share(test::LatencyCalls::Kind::network, std::chrono::milliseconds(1));
        platform::WalkProgress progress;
        ASSERT_TRUE(
            removeFoundFolder(bundle(), record(), share, {.jobs = jobs, .progress = &progress}));
        EXPECT_TRUE(gone(selected()));
        if (jobs == 0 && mayGrow) {
            EXPECT_GT(progress.threads.load(), 8);
            EXPECT_GT(share.mostInFlight(), 8);
        } else if (jobs != 0) {
            EXPECT_EQ(progress.threads.load(), jobs);
            EXPECT_LE(share.mostInFlight(), jobs);
        }
        test::makeMediaTree(selected());
    }
}

// A directory inside that reports another mount (through the seam, so this
// runs without mount privileges) is left untouched, and so are the
// directories holding it.
TEST_F(FolderRemoval, LeavesADirectoryOnAnotherMountAndReportsIt)
{
    const fs::path mounted = selected() / "High Quality Media" / "mnt";
    writeText(mounted / "inside.txt", "keep");
    test::ScriptedSystemCalls calls;
    calls.onStatx = [](const std::string& name, struct statx& out) -> std::optional<int> {
        if (name == "mnt") {
            out.stx_mnt_id += 1000;
        }
        return std::nullopt;
    };
    const auto result = removeFoundFolder(bundle(), record(), calls);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::mountPointInside);
    EXPECT_EQ(result.error().path, mounted);
    EXPECT_EQ(test::readText(mounted / "inside.txt"), "keep");
    EXPECT_FALSE(fs::exists(selected() / "High Quality Media" / "segment-0"));
    fs::remove_all(selected());
}

// Stopped part-way: nothing more is unlinked (but what another thread had
// under way), the folder stays in part and the outcome says so.
TEST_F(FolderRemoval, StopsWhenAsked)
{
    for (int i = 0; i < 20; ++i) {
        writeText(selected() / ("d" + std::to_string(i)) / "f", "x");
    }
    platform::StopToken stop;
    test::ScriptedSystemCalls calls;
    std::size_t unlinksAtStop = 0;
    calls.onUnlinkat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (name == "f" && !stop.stopRequested()) {
            stop.requestStop();
            unlinksAtStop = calls.unlinked.size();
        }
        return std::nullopt;
    };
    const auto result = removeFoundFolder(bundle(), record(), calls, {2, &stop, {}, {}});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().errorNumber, EINTR);
    EXPECT_LE(calls.unlinked.size(), unlinksAtStop + 1);
    EXPECT_TRUE(fs::exists(selected()));
    fs::remove_all(selected());
}

TEST_F(FolderRemoval, LeavesWhatAppearedAfterTheListingAndTheDirectoryHoldingIt)
{
    // What another user (or a network client) puts in a directory after it
    // was listed was never shown: it stays, even a directory of its own
    // holding a file it could not delete itself, and the run says so.
    const fs::path hq = selected() / "High Quality Media";
    writeText(hq / "segment-1" / "._clip", "resource fork");
    writeText(hq / "segment-2" / "marker", "only here");
    test::ScriptedSystemCalls calls;
    calls.hideOnce = {"._clip"};
    bool movedIn = false;
    calls.onUnlinkat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (name == "marker" && !movedIn) { // segment-2 is listed and being emptied
            movedIn = true;
            writeText(m_tmp / "intruder" / "owned-by-root.txt", "not shown");
            fs::rename(m_tmp / "intruder", hq / "segment-2" / "intruder");
        }
        return std::nullopt;
    };
    const auto result = removeFoundFolder(bundle(), record(), calls);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::newItems);
    EXPECT_EQ(result.error().errorNumber, ENOTEMPTY);
    EXPECT_TRUE(fs::exists(hq / "segment-1" / "._clip"));
    EXPECT_TRUE(fs::exists(hq / "segment-2" / "intruder" / "owned-by-root.txt"));
    EXPECT_EQ(calls.count(calls.unlinked, "._clip"), 0); // never listed again
    EXPECT_FALSE(fs::exists(hq / "segment-0"));          // the rest is gone
    EXPECT_FALSE(fs::exists(hq / "segment-1" / "clip-0.mov"));
}

TEST_F(FolderRemoval, NeverRemovesAnEmptyDirectoryExchangedIntoPlace)
{
    // Once a subfolder has been listed and emptied, another directory (here
    // an empty one from elsewhere) takes its name: the rmdir that follows
    // must not remove it.
    const fs::path hq = selected() / "High Quality Media";
    fs::create_directories(m_tmp / "outside-empty");
    writeText(hq / "segment-1" / "marker", "only here");
    test::ScriptedSystemCalls calls;
    bool exchanged = false;
    calls.onUnlinkat = [&](int, const std::string& name, int) -> std::optional<int> {
        if (name == "marker" && !exchanged) { // segment-1 is listed and being emptied
            exchanged = true;
            fs::rename(hq / "segment-1", m_tmp / "segment-1-moved");
            fs::rename(m_tmp / "outside-empty", hq / "segment-1");
        }
        return std::nullopt;
    };
    const auto result = removeFoundFolder(bundle(), record(), calls);
    ASSERT_TRUE(exchanged);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().problem, RemovalProblem::identityChanged);
    EXPECT_TRUE(fs::is_directory(hq / "segment-1")) << "the exchanged directory was removed";
}

TEST_F(FolderRemoval, NeverRemovesTheLibraryHeldInItsFolderUnderALinkedPath)
{
    // The library lives in the very folder its backups would go to, and
    // that folder was found through a linked Movies folder: the paths do
    // not tell that the folder holds the library, their identities do.
    const fs::path movies = m_tmp / "media-disk" / "Movies";
    const fs::path backups = movies / "Final Cut Backups";
    const fs::path library = backups / "Film.fcpbundle";
    writeText(library / "Original Media" / "clip.mov", "original");
    fs::create_symlink(m_tmp / "media-disk" / "Movies", m_tmp / "Movies");
    const std::uint64_t before = treeDigest(m_tmp / "media-disk");

    model::FoundFolder folder = foundFolder(backups, "Final Cut Backups");
    folder.url = m_tmp / "Movies" / "Final Cut Backups";
    for (const fs::path& given :
         {library, m_tmp / "Movies" / "Final Cut Backups" / "Film.fcpbundle"}) {
        SCOPED_TRACE(given);
        const auto result = removeFoundFolder(given, folder);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().problem, RemovalProblem::holdsLibrary);
    }
    EXPECT_EQ(treeDigest(m_tmp / "media-disk"), before);
}

TEST_F(FolderRemoval, RefusesAFolderOutsideTheBoundsGiven)
{
    const fs::path outside = m_tmp / "elsewhere" / "Final Cut Backups";
    writeText(outside / "Film.fcpbundle" / "x", "backup");
    RemovalBounds bounds;
    bounds.within.push_back(*platform::identityAt(AT_FDCWD, bundle().c_str()));
    const auto refused = removeFoundFolder(bundle(), foundFolder(outside, "Final Cut Backups"),
                                           platform::defaultSystemCalls(), {}, bounds);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().problem, RemovalProblem::outsideBounds);
    EXPECT_TRUE(fs::exists(outside / "Film.fcpbundle" / "x"));
    // A folder inside the bounds is removed as usual.
    EXPECT_TRUE(removeFoundFolder(bundle(), record(), platform::defaultSystemCalls(), {}, bounds));
    EXPECT_TRUE(gone(selected()));
}

// Runs `attempt` as the unprivileged user "nobody" when this process is root
// (root ignores permissions), in a child process that owns `tree`; as this
// user otherwise. Returns what `attempt` returned (0..255), or -1 when the
// child could not drop its privileges or died.
int runUnprivileged(const fs::path& tree, const std::function<int()>& attempt)
{
    if (::geteuid() != 0) {
        return attempt();
    }
    constexpr uid_t nobody = 65534;
    // The folders above it, up to the temporary folder, must let it through.
    for (fs::path up = tree.parent_path();
         up != up.parent_path() && up != fs::temp_directory_path(); up = up.parent_path()) {
        ::chmod(up.c_str(), 0755);
    }
    if (::lchown(tree.c_str(), nobody, nobody) != 0) {
        return -1;
    }
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        if (::lchown(entry.path().c_str(), nobody, nobody) != 0) {
            return -1;
        }
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
            ::setresuid(nobody, nobody, nobody) != 0 || ::geteuid() != nobody) {
            ::_exit(255);
        }
        ::_exit(attempt() & 0xff);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// What a removal counts is what the analysis would have measured there:
// regular files by their length, hidden items and links not at all; a sparse
// file by its length, not its blocks. Where d_type is missing too (FUSE, NFS).
// A folder removed in part counts what went, not what stayed.
TEST_F(FolderRemoval, CountsTheBytesItRemovesAsTheAnalysisMeasuresThem)
{
    const auto build = [this] {
        fs::remove_all(selected());
        test::makeMediaTree(selected());
        writeText(selected() / ".hidden-dir" / "inside.mov", std::string(700, 'h'));
        writeText(selected() / "victim", std::string(333, 'v'));
        fs::create_symlink(canary() / "precious.txt", selected() / "link-out");
        const fs::path sparse = selected() / "High Quality Media" / "sparse.mov";
        writeText(sparse, "");
        fs::resize_file(sparse, 1 << 30);
        return analysis::folderSize(selected());
    };
    for (const bool unknownTypes : {false, true}) {
        for (const int jobs : {1, 4}) {
            SCOPED_TRACE(std::string(unknownTypes ? "no d_type" : "d_type") +
                         ", threads: " + std::to_string(jobs));
            const std::int64_t measured = build();
            ASSERT_GT(measured, std::int64_t{1} << 30);
            test::ScriptedSystemCalls calls;
            calls.unknownTypes = unknownTypes;
            auto outcomes = removeFoundFolders(bundle(), {record()}, calls, {jobs, {}, {}, {}}, {});
            ASSERT_TRUE(outcomes[0].result);
            EXPECT_EQ(outcomes[0].bytesRemoved, measured);

            const std::int64_t again = build();
            ASSERT_EQ(again, measured);
            calls.onUnlinkat = [](int, const std::string& name, int) -> std::optional<int> {
                return name == "victim" ? std::optional<int>(EACCES) : std::nullopt;
            };
            outcomes = removeFoundFolders(bundle(), {record()}, calls, {jobs, {}, {}, {}}, {});
            ASSERT_FALSE(outcomes[0].result);
            EXPECT_TRUE(outcomes[0].touched);
            EXPECT_EQ(outcomes[0].bytesRemoved, measured - 333);
            EXPECT_EQ(analysis::folderSize(selected()), 333);
        }
    }
    fs::remove_all(selected());
}

TEST_F(FolderRemoval, PermissionDeniedInsideLeavesThatPartAndRemovesTheRest)
{
    const fs::path locked = selected() / "High Quality Media" / "segment-1";
    const int error = runUnprivileged(bundle(), [&] {
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        const auto result = removeFoundFolder(bundle(), record());
        return result ? 0 : result.error().errorNumber;
    });
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(error, EACCES);
    EXPECT_TRUE(fs::exists(locked / "clip-0.mov"));
    EXPECT_FALSE(fs::exists(selected() / "High Quality Media" / "segment-0"));
    EXPECT_TRUE(fs::exists(event() / "Original Media" / "clip.mov"));
}

} // namespace
} // namespace vellico::cleanup
