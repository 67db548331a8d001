#include "cleanup/library_lock.hpp"

#include "analysis/library_identity.hpp"
#include "analysis/library_settings.hpp"
#include "cleanup/lock_record.hpp"
#include "cleanup_test_support.hpp"
#include "formats/property_list.hpp"
#include "support/scripted_system_calls.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace vellico::cleanup {
namespace {

namespace fs = std::filesystem;
using test::readText;
using test::treeDigest;
using test::writeText;

// The parts of a lock record the editor reads, parsed back.
struct ParsedRecord {
    bool valid = false;
    std::map<std::string, formats::PlistType> keys;
    std::string secondaryLockName;
    std::vector<std::uint8_t> identifier;
    std::string hostname;
    std::string user;
};

ParsedRecord parseRecord(const std::string& xml)
{
    ParsedRecord record;
    const auto root = formats::parsePropertyList(
        std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
    if (!root || root->dict() == nullptr) {
        return record;
    }
    record.valid = true;
    for (const auto& [name, value] : *root->dict()) {
        record.keys[name] = value.type();
        if (const std::string* text = value.string()) {
            (name == "hostname" ? record.hostname
             : name == "user"   ? record.user
                                : record.secondaryLockName) = *text;
        } else if (const auto* bytes = value.data()) {
            record.identifier = *bytes;
        }
    }
    return record;
}

class LibraryLockTest : public ::testing::Test {
protected:
    // A library as the editor leaves it when closed: .lock, a lock record,
    // .lock-dir and __Sync__.
    fs::path makeLibrary(const std::string& name, bool withLock = true, bool withSync = true)
    {
        const fs::path bundle = m_tmp / name;
        writeText(bundle / "CurrentVersion.flexolibrary", "db");
        if (withLock) {
            writeText(bundle / ".lock", "");
        }
        writeText(bundle / ".lock-info", "editor's record");
        fs::create_directories(bundle / ".lock-dir");
        if (withSync) {
            writeText(bundle / "__Sync__", "old sync state");
        }
        return bundle;
    }

    static ParsedRecord record(const fs::path& bundle)
    {
        return parseRecord(readText(bundle / ".lock-info"));
    }

    static void expectClaimedForm(const fs::path& bundle)
    {
        const ParsedRecord r = record(bundle);
        ASSERT_TRUE(r.valid);
        EXPECT_EQ(r.keys.size(), 4u);
        EXPECT_EQ(r.secondaryLockName, "Vellico 1");
        ASSERT_EQ(r.identifier.size(), 16u);
        EXPECT_EQ(r.identifier[6] >> 4, 4);      // version 4
        EXPECT_EQ(r.identifier[8] & 0xC0, 0x80); // RFC 4122 variant
        EXPECT_EQ(r.hostname, hostName());
        EXPECT_EQ(r.user, loginName());
        EXPECT_TRUE(fs::is_regular_file(bundle / ".lock-dir" / "Vellico 1"));
        EXPECT_EQ(fs::file_size(bundle / ".lock-dir" / "Vellico 1"), 0u);
        EXPECT_FALSE(fs::exists(bundle / "__Sync__"));
    }

    static void expectReleasedForm(const fs::path& bundle)
    {
        const ParsedRecord r = record(bundle);
        ASSERT_TRUE(r.valid);
        const std::map<std::string, formats::PlistType> keys = {
            {"FFFileLockIdentifier", formats::PlistType::data},
            {"hostname", formats::PlistType::string},
            {"user", formats::PlistType::string}};
        EXPECT_EQ(r.keys, keys);
        EXPECT_EQ(r.identifier, std::vector<std::uint8_t>(16, 0));
        EXPECT_TRUE(fs::is_directory(bundle / ".lock-dir"));
        EXPECT_FALSE(fs::exists(bundle / ".lock-dir" / "Vellico 1"));
        ASSERT_TRUE(fs::is_regular_file(bundle / "__Sync__"));
        EXPECT_EQ(fs::file_size(bundle / "__Sync__"), 0u);
    }

    test::TempDir m_tmp;
};

// Another holder of the editor's lock: a second open file description,
// exactly what another process holding the flock amounts to.
platform::UniqueFd holdLock(const fs::path& bundle)
{
    platform::UniqueFd fd(::open((bundle / ".lock").c_str(), O_RDWR | O_CLOEXEC));
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return {};
    }
    return fd;
}

TEST_F(LibraryLockTest, LibraryWithoutLockFileIsClaimedWithoutAdvisoryLock)
{
    const fs::path bundle = makeLibrary("NoLock.fcpbundle", /*withLock=*/false);
    EXPECT_FALSE(isLibraryOpenInFCP(bundle));
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    EXPECT_EQ(lock.lockFileDescriptor(), -1);
    EXPECT_EQ(lock.lockedBundleURL(), bundle);
    EXPECT_FALSE(fs::exists(bundle / ".lock")); // never created
    expectClaimedForm(bundle);
    lock.release();
    EXPECT_FALSE(lock.lockedBundleURL());
    expectReleasedForm(bundle);
}

TEST_F(LibraryLockTest, LibraryHeldByAnotherProcessIsOpenAndNotTouched)
{
    const fs::path bundle = makeLibrary("Open.fcpbundle");
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(done, O_CLOEXEC), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) { // the editor: holds the lock until the test is done
        ::close(ready[0]);
        ::close(done[1]);
        const platform::UniqueFd held = holdLock(bundle);
        const char ok = held ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(done[0], &c, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    const std::uint64_t before = treeDigest(bundle);
    EXPECT_TRUE(isLibraryOpenInFCP(bundle));
    LibraryLock lock;
    EXPECT_FALSE(lock.acquire(bundle));
    EXPECT_EQ(lock.lockFileDescriptor(), -1);
    EXPECT_FALSE(lock.lockedBundleURL());
    lock.release();
    EXPECT_EQ(treeDigest(bundle), before);

    ::close(done[1]);
    ::close(ready[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_FALSE(isLibraryOpenInFCP(bundle));
}

TEST_F(LibraryLockTest, ClaimHoldsTheEditorsLockUntilRelease)
{
    const fs::path bundle = makeLibrary("Claimed.fcpbundle");
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    EXPECT_GE(lock.lockFileDescriptor(), 0);
    EXPECT_FALSE(holdLock(bundle)); // the editor would find it locked
    EXPECT_TRUE(isLibraryOpenInFCP(bundle));
    lock.release();
    EXPECT_EQ(lock.lockFileDescriptor(), -1);
    EXPECT_TRUE(holdLock(bundle));
}

TEST_F(LibraryLockTest, ReleaseLeavesTheReleasedFormWhetherSyncExistedOrNot)
{
    for (const bool withSync : {true, false}) {
        for (const bool withLock : {true, false}) {
            SCOPED_TRACE(std::string(withSync ? "with" : "without") + " __Sync__, " +
                         (withLock ? "with" : "without") + " .lock");
            const fs::path bundle = makeLibrary(std::string("L") + (withSync ? "s" : "") +
                                                    (withLock ? "l" : "") + ".fcpbundle",
                                                withLock, withSync);
            fs::remove_all(bundle / ".lock-dir"); // created when missing
            LibraryLock lock;
            ASSERT_TRUE(lock.acquire(bundle));
            expectClaimedForm(bundle);
            lock.release();
            expectReleasedForm(bundle);
        }
    }
}

TEST_F(LibraryLockTest, EveryClaimWritesADifferentIdentifier)
{
    const fs::path bundle = makeLibrary("Ids.fcpbundle");
    std::set<std::vector<std::uint8_t>> seen;
    LibraryLock lock;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(lock.acquire(bundle));
        seen.insert(record(bundle).identifier);
    }
    EXPECT_EQ(seen.size(), 20u);
}

TEST_F(LibraryLockTest, PlantedLinksLeaveTheirTargetsUnchanged)
{
    const fs::path bundle = makeLibrary("Planted.fcpbundle");
    writeText(m_tmp / "elsewhere" / "victim.plist", "victim");
    writeText(m_tmp / "elsewhere" / "sync", "sync victim");
    fs::create_directories(m_tmp / "elsewhere" / "dir");
    fs::remove(bundle / ".lock-info");
    fs::remove(bundle / "__Sync__");
    fs::remove(bundle / ".lock-dir");
    fs::create_symlink(m_tmp / "elsewhere" / "victim.plist", bundle / ".lock-info");
    fs::create_symlink(m_tmp / "elsewhere" / "sync", bundle / "__Sync__");
    fs::create_directory_symlink(m_tmp / "elsewhere" / "dir", bundle / ".lock-dir");
    // A hard link sharing the record with a snapshot outside the library.
    fs::create_hard_link(m_tmp / "elsewhere" / "victim.plist", m_tmp / "elsewhere" / "snapshot");
    const std::uint64_t before = treeDigest(m_tmp / "elsewhere");

    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    lock.release();
    EXPECT_EQ(treeDigest(m_tmp / "elsewhere"), before);
    EXPECT_TRUE(fs::is_symlink(bundle / ".lock-info"));
}

TEST_F(LibraryLockTest, RecordHardLinkedElsewhereIsNotRewritten)
{
    const fs::path bundle = makeLibrary("Linked.fcpbundle");
    fs::create_hard_link(bundle / ".lock-info", m_tmp / "snapshot-lock-info");
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    lock.release();
    EXPECT_EQ(readText(m_tmp / "snapshot-lock-info"), "editor's record");
}

TEST_F(LibraryLockTest, SecondClaimReleasesTheFirstLibrary)
{
    const fs::path first = makeLibrary("First.fcpbundle");
    const fs::path second = makeLibrary("Second.fcpbundle");
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(first));
    ASSERT_TRUE(lock.acquire(second));
    expectReleasedForm(first);
    expectClaimedForm(second);
    EXPECT_EQ(lock.lockedBundleURL(), second);
    EXPECT_TRUE(holdLock(first));
    EXPECT_FALSE(holdLock(second));
}

TEST_F(LibraryLockTest, ReleaseWithNothingClaimedTouchesNothing)
{
    // A claim already given back: a second release, and the destructor after
    // it, must not write the released record or __Sync__ again.
    const fs::path given = makeLibrary("GivenBack.fcpbundle");
    {
        LibraryLock lock;
        ASSERT_TRUE(lock.acquire(given));
        lock.release();
        const std::uint64_t afterRelease = treeDigest(given);
        writeText(given / "__Sync__", "the editor's own state");
        fs::remove(given / ".lock-info");
        const std::uint64_t editorState = treeDigest(given);
        ASSERT_NE(editorState, afterRelease);
        lock.release();
        EXPECT_EQ(treeDigest(given), editorState);
    }
    EXPECT_EQ(readText(given / "__Sync__"), "the editor's own state");
    EXPECT_FALSE(fs::exists(given / ".lock-info"));

    // A claim refused because the editor holds the library: neither the
    // refusal nor the release that follows writes anything into it.
    const fs::path held = makeLibrary("Held.fcpbundle");
    const platform::UniqueFd editor = holdLock(held);
    ASSERT_TRUE(editor);
    const std::uint64_t before = treeDigest(held);
    {
        LibraryLock lock;
        EXPECT_FALSE(lock.acquire(held));
        lock.release();
        EXPECT_EQ(treeDigest(held), before);
    }
    EXPECT_EQ(treeDigest(held), before);
}

// A network disk that refuses an exclusive lock on a read-only descriptor
// (as NFS does) must not make an open library look closed.
TEST_F(LibraryLockTest, ProbeRetriesWithAReadWriteDescriptor)
{
    const fs::path bundle = makeLibrary("Nfs.fcpbundle");
    const platform::UniqueFd editor = holdLock(bundle);
    ASSERT_TRUE(editor);
    test::ScriptedSystemCalls nfs;
    nfs.onFlock = [](int fd, const std::string&, int operation) -> std::optional<int> {
        const bool readOnly = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
        return readOnly && (operation & LOCK_EX) ? std::optional<int>(EBADF) : std::nullopt;
    };
    EXPECT_TRUE(isLibraryOpenInFCP(bundle, nfs));
    LibraryLock lock(nfs);
    EXPECT_FALSE(lock.acquire(bundle));
}

// The bundle is moved away during the deletion and a link to another folder
// put at its place: the release still writes into the library it claimed.
TEST_F(LibraryLockTest, ReleaseWritesIntoTheClaimedBundleEvenIfItMoved)
{
    const fs::path bundle = makeLibrary("Moved.fcpbundle");
    const fs::path other = m_tmp / "other";
    writeText(other / "notes.txt", "someone else's");
    const std::uint64_t otherBefore = treeDigest(other);
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    fs::rename(bundle, m_tmp / "Moved away.fcpbundle");
    fs::create_directory_symlink(other, bundle);
    lock.release();
    EXPECT_EQ(treeDigest(other), otherBefore);
    expectReleasedForm(m_tmp / "Moved away.fcpbundle");
}

// Whether the editor holds the library can only be told from a ".lock" that
// is a regular file reached without a link. Anything else refuses the claim
// and writes nothing; nothing planted there is ever opened.
TEST_F(LibraryLockTest, LockFileThatIsNotARegularFileRefusesTheClaim)
{
    const fs::path held = m_tmp / "held-by-someone";
    writeText(held, "");
    const platform::UniqueFd holder(::open(held.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    const struct {
        const char* name;
        std::function<void(const fs::path&)> plant;
    } cases[] = {
        {"link to a file another process holds locked",
         [&](const fs::path& lockFile) { fs::create_symlink(held, lockFile); }},
        {"link to nowhere",
         [](const fs::path& lockFile) { fs::create_symlink("/nowhere", lockFile); }},
        {"FIFO", [](const fs::path& lockFile) { ASSERT_EQ(::mkfifo(lockFile.c_str(), 0644), 0); }},
        {"folder", [](const fs::path& lockFile) { fs::create_directory(lockFile); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path bundle = makeLibrary(std::string(c.name) + ".fcpbundle", false);
        c.plant(bundle / ".lock");
        const std::uint64_t before = treeDigest(bundle);
        LibraryLock lock;
        EXPECT_FALSE(lock.acquire(bundle));
        EXPECT_EQ(lock.refusal(), ClaimRefusal::unsafeLockFile);
        EXPECT_FALSE(lock.lockedBundleURL());
        lock.release();
        EXPECT_EQ(treeDigest(bundle), before);
    }
}

TEST_F(LibraryLockTest, ALockFileThatCannotBeOpenedIsToldApartFromOneOfTheWrongType)
{
    // A regular ".lock" the user may not open (EACCES as root too, through
    // the seam): whether the editor holds it cannot be told, and the refusal
    // says why instead of calling it "not a regular file".
    const fs::path bundle = makeLibrary("Unreadable.fcpbundle", true);
    test::ScriptedSystemCalls calls;
    calls.onOpenat = [](int, const std::string& name, int) -> std::optional<int> {
        return name == ".lock" ? std::optional<int>(EACCES) : std::nullopt;
    };
    const std::uint64_t before = treeDigest(bundle);
    LibraryLock lock(calls);
    EXPECT_FALSE(lock.acquire(bundle));
    EXPECT_EQ(lock.refusal(), ClaimRefusal::lockFileUnreadable);
    EXPECT_EQ(lock.refusalError(), EACCES);
    lock.release();
    EXPECT_EQ(treeDigest(bundle), before);
}

// A kill or a full disk while the record is rewritten must never leave it
// empty: the new bytes go over the old ones before the file is cut.
TEST_F(LibraryLockTest, RecordIsNeverEmptiedOnAFullDisk)
{
    const fs::path disk = m_tmp / "disk";
    fs::create_directories(disk);
    const int status = test::runInChild([&]() -> int {
        if (!test::enterPrivateMountNamespace() ||
            ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return test::kCannotSetUp;
        }
        const fs::path bundle = disk / "Full.fcpbundle";
        const std::string editorRecord = *lockRecordXml(LockRecord::released());
        writeText(bundle / ".lock", "");
        writeText(bundle / ".lock-info", editorRecord);
        // Fill the disk to the last block.
        platform::UniqueFd filler(::open((disk / "filler").c_str(), O_WRONLY | O_CREAT, 0644));
        const std::string block(4096, 'f');
        while (::write(filler.get(), block.data(), block.size()) > 0) {
        }
        LibraryLock lock;
        if (!lock.acquire(bundle)) {
            return 1;
        }
        const std::string claimed = readText(bundle / ".lock-info");
        lock.release();
        const std::string released = readText(bundle / ".lock-info");
        // Each time either the old record or the new one, whole.
        const bool claimOk =
            claimed == editorRecord || parseRecord(claimed).secondaryLockName == kSecondaryLockName;
        return claimOk && parseRecord(released).valid ? 0 : 2;
    });
    if (status == test::kCannotSetUp) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    EXPECT_EQ(status, 0);
}

// The names read or written in a library are checked for their type before
// they are opened: opening a device acts on it, and a FIFO may block. Seen
// through inotify, which reports every open of an entry of the folder.
TEST_F(LibraryLockTest, PlantedDevicesAndFifosAreNeverOpened)
{
    const fs::path bundle = makeLibrary("Planted.fcpbundle", true, false);
    fs::remove(bundle / ".lock-info");
    fs::remove(bundle / "CurrentVersion.flexolibrary");
    std::set<std::string> planted;
    for (const char* name : {"Settings.plist", ".lock-info", "CurrentVersion.flexolibrary"}) {
        ASSERT_EQ(::mkfifo((bundle / name).c_str(), 0666), 0);
        planted.insert(name);
    }
    const platform::UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch);
    ASSERT_GE(::inotify_add_watch(watch.get(), bundle.c_str(), IN_OPEN), 0);

    EXPECT_FALSE(analysis::readLibrarySettings(bundle));
    EXPECT_FALSE(analysis::libraryIdentifier(bundle));
    EXPECT_FALSE(isLibraryOpenInFCP(bundle));
    LibraryLock lock;
    ASSERT_TRUE(lock.acquire(bundle));
    // Planted during the deletion, where the release writes "__Sync__": a
    // character device (the null device, harmless if it were opened).
    if (::mknod((bundle / "__Sync__").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        planted.insert("__Sync__");
    }
    lock.release();

    std::vector<std::string> opened;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = ::read(watch.get(), buffer, sizeof buffer)) > 0;) {
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->len > 0) {
                opened.emplace_back(event->name);
            }
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ASSERT_TRUE(std::count(opened.begin(), opened.end(), ".lock") > 0) << "inotify sees opens";
    for (const std::string& name : opened) {
        EXPECT_EQ(planted.count(name), 0u) << name << " was opened";
    }
}

TEST(LockRecordXml, HasTheShapeOfTheEditorsOwnRecord)
{
    const fs::path library = test::realLibraryPath();
    if (library.empty()) {
        GTEST_SKIP() << "the real library is not on this machine";
    }
    const std::string real = readText(library / ".lock-info");
    const std::optional<std::string> ours = lockRecordXml(LockRecord::released());
    ASSERT_TRUE(ours);

    const ParsedRecord theirs = parseRecord(real);
    const ParsedRecord mine = parseRecord(*ours);
    ASSERT_TRUE(theirs.valid);
    ASSERT_TRUE(mine.valid);
    EXPECT_EQ(mine.keys, theirs.keys);
    EXPECT_EQ(mine.identifier.size(), theirs.identifier.size());

    // Same XML prologue: declaration, doctype, plist version 1.0.
    auto prologue = [](const std::string& xml) {
        std::istringstream in(xml);
        std::string lines;
        std::string line;
        for (int i = 0; i < 3 && std::getline(in, line); ++i) {
            lines += line + "\n";
        }
        return lines;
    };
    EXPECT_EQ(prologue(*ours), prologue(real));
}

} // namespace
} // namespace vellico::cleanup
