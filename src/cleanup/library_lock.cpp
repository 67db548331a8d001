#include "cleanup/library_lock.hpp"

#include "cleanup/lock_record.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace vellico::cleanup {

namespace {

using platform::UniqueFd;

constexpr const char* kLockFile = ".lock";
constexpr const char* kLockInfoFile = ".lock-info";
constexpr const char* kLockDirectory = ".lock-dir";
constexpr const char* kSyncFile = "__Sync__";

UniqueFd openBundle(const std::filesystem::path& library, platform::SystemCalls& calls)
{
    return UniqueFd(calls.openat(AT_FDCWD, library.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Opens the regular file `name` in `dirFd` with `accessMode`, its type
// checked before it is opened: a link is not followed, and a FIFO, device or
// directory under that name is never opened. Never creates it. Invalid fd
// and errno on failure (ENOENT missing; ELOOP, EISDIR, ENXIO the wrong type).
UniqueFd openRegularAt(int dirFd, const char* name, int accessMode, platform::SystemCalls& calls)
{
    const UniqueFd path(calls.openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!path) {
        return {};
    }
    return platform::reopenRegularFile(path.get(), dirFd, name, accessMode);
}

bool isWrongType(int error)
{
    return error == ELOOP || error == EISDIR || error == ENXIO;
}

enum class LockTest { held, free, undecided };

LockTest testLock(int lockFd, platform::SystemCalls& calls)
{
    if (calls.flock(lockFd, LOCK_EX | LOCK_NB) == 0) {
        calls.flock(lockFd, LOCK_UN);
        return LockTest::free;
    }
    return errno == EWOULDBLOCK ? LockTest::held : LockTest::undecided;
}

bool writeAll(int fd, std::string_view contents)
{
    off_t offset = 0;
    while (!contents.empty()) {
        const ssize_t n = ::pwrite(fd, contents.data(), contents.size(), offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

// Replaces the contents of the regular file `name` in `dirFd`, creating it if
// needed. A symbolic link, a FIFO or device (never opened: the type is
// checked first), and a file with other hard links (a snapshot tree sharing
// it) are left alone: the write would land outside the library.
//
// The new bytes are written over the old ones and the file then cut to their
// length, so it is never empty on disk: a kill or a full disk midway leaves
// the old record, or the new one followed by the old one's tail, never
// nothing. False when nothing or not all was written.
bool writeFileAt(int dirFd, const char* name, std::string_view contents,
                 platform::SystemCalls& calls)
{
    UniqueFd fd = openRegularAt(dirFd, name, O_WRONLY, calls);
    if (!fd && errno == ENOENT) {
        // A new file: O_EXCL makes sure it is one we create, not whatever
        // appeared under that name meanwhile.
        fd = UniqueFd(calls.openat(
            dirFd, name,
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644));
    }
    if (!fd) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
        return false;
    }
    if (!writeAll(fd.get(), contents) ||
        ::ftruncate(fd.get(), static_cast<off_t>(contents.size())) != 0) {
        return false;
    }
    // close reports delayed write errors (NFS, quota).
    return ::close(fd.release()) == 0;
}

void writeRecord(int bundleFd, const LockRecord& record, platform::SystemCalls& calls)
{
    if (const std::optional<std::string> xml = lockRecordXml(record)) {
        writeFileAt(bundleFd, kLockInfoFile, *xml, calls);
    }
}

} // namespace

bool isLibraryOpenInFCP(const std::filesystem::path& library, platform::SystemCalls& calls)
{
    const UniqueFd bundle = openBundle(library, calls);
    return bundle && isLibraryOpenInFCP(bundle.get(), calls);
}

bool isLibraryOpenInFCP(int bundleFd, platform::SystemCalls& calls)
{
    {
        const UniqueFd lock = openRegularAt(bundleFd, kLockFile, O_RDONLY, calls);
        if (!lock) {
            return false;
        }
        const LockTest answer = testLock(lock.get(), calls);
        if (answer != LockTest::undecided) {
            return answer == LockTest::held;
        }
    }
    // The lock call failed for another reason than "held": NFS, for one,
    // wants a descriptor open for writing before it grants an exclusive lock.
    const UniqueFd lock = openRegularAt(bundleFd, kLockFile, O_RDWR, calls);
    return lock && testLock(lock.get(), calls) == LockTest::held;
}

LibraryLock::LibraryLock(LibraryLock&& other) noexcept
    : m_calls(other.m_calls), m_bundle(std::move(other.m_bundle)),
      m_lockFileDescriptor(std::move(other.m_lockFileDescriptor)),
      m_lockedBundleURL(std::exchange(other.m_lockedBundleURL, std::nullopt)),
      m_refusal(other.m_refusal)
{}

LibraryLock& LibraryLock::operator=(LibraryLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_calls = other.m_calls;
        m_bundle = std::move(other.m_bundle);
        m_lockFileDescriptor = std::move(other.m_lockFileDescriptor);
        m_lockedBundleURL = std::exchange(other.m_lockedBundleURL, std::nullopt);
        m_refusal = other.m_refusal;
    }
    return *this;
}

bool LibraryLock::acquire(const std::filesystem::path& library)
{
    release();
    m_refusal = ClaimRefusal::none;
    m_refusalError = 0;

    // The bundle is looked up by path once, here. Everything after, up to the
    // release, goes through this descriptor: were the bundle moved and a link
    // to another folder put in its place meanwhile, the release must still
    // write into the library, never into that other folder.
    UniqueFd bundle = openBundle(library, *m_calls);
    if (!bundle) {
        m_refusal = ClaimRefusal::unreachable;
        return false;
    }
    UniqueFd lock = openRegularAt(bundle.get(), kLockFile, O_RDWR, *m_calls);
    if (!lock && !isWrongType(errno) && errno != ENOENT) {
        lock = openRegularAt(bundle.get(), kLockFile, O_RDONLY, *m_calls);
    }
    if (!lock && errno != ENOENT) {
        // A ".lock" that is a link (perhaps to a file someone else holds
        // locked), a FIFO, a device or a folder, or one that cannot be
        // opened: whether the editor holds the library cannot be told.
        const int error = errno;
        m_refusal =
            isWrongType(error) ? ClaimRefusal::unsafeLockFile : ClaimRefusal::lockFileUnreadable;
        m_refusalError = isWrongType(error) ? 0 : error;
        return false;
    }
    if (lock && m_calls->flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_refusal = ClaimRefusal::heldByEditor;
        return false; // the editor has it open; nothing written
    }
    // A lock call failing for another reason (a file system without locks)
    // keeps the descriptor as if granted: no other holder can be told apart
    // there, and the editor could not have locked it either. A library with
    // no ".lock" at all is claimed without an advisory lock.
    m_lockFileDescriptor = std::move(lock);

    writeRecord(bundle.get(), LockRecord::claim(), *m_calls);
    if (::mkdirat(bundle.get(), kLockDirectory, 0755) == 0 || errno == EEXIST) {
        const UniqueFd lockDir(m_calls->openat(bundle.get(), kLockDirectory,
                                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (lockDir) {
            writeFileAt(lockDir.get(), kSecondaryLockName, {}, *m_calls);
        }
    }
    m_calls->unlinkat(bundle.get(), kSyncFile, 0);
    m_bundle = std::move(bundle);
    m_lockedBundleURL = library;
    return true;
}

void LibraryLock::release()
{
    UniqueFd lock = std::move(m_lockFileDescriptor);
    const UniqueFd bundle = std::move(m_bundle);
    if (m_lockedBundleURL && bundle) {
        // Written while the advisory lock is still ours: once it is given
        // back the editor may open the library and write its own record.
        writeRecord(bundle.get(), LockRecord::released(), *m_calls);
        const UniqueFd lockDir(m_calls->openat(bundle.get(), kLockDirectory,
                                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (lockDir) {
            m_calls->unlinkat(lockDir.get(), kSecondaryLockName, 0);
        }
        writeFileAt(bundle.get(), kSyncFile, {}, *m_calls);
    }
    m_lockedBundleURL.reset();
    if (lock) {
        m_calls->flock(lock.get(), LOCK_UN);
    }
}

} // namespace vellico::cleanup
