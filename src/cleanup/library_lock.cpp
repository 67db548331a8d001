#include "cleanup/library_lock.hpp"

#include "cleanup/lock_record.hpp"

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

// Opens ".lock" with the given access mode. Never creates it; refuses a link
// and anything but a regular file. O_NONBLOCK keeps a FIFO planted under that
// name from blocking the open.
UniqueFd openLockFile(int bundleFd, int accessMode, platform::SystemCalls& calls)
{
    UniqueFd fd(calls.openat(bundleFd, kLockFile,
                             accessMode | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.reset();
    }
    return fd;
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

// Replaces the contents of the regular file `name` in `dirFd`, creating it if
// needed. A symbolic link (O_NOFOLLOW), a FIFO or device, and a file with
// other hard links (a snapshot tree sharing it) are left alone: the write
// would land outside the library. False when nothing or not all was written.
bool writeFileAt(int dirFd, const char* name, std::string_view contents,
                 platform::SystemCalls& calls)
{
    UniqueFd fd(calls.openat(
        dirFd, name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644));
    if (!fd) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) {
        return false;
    }
    if (::ftruncate(fd.get(), 0) != 0) {
        return false;
    }
    while (!contents.empty()) {
        const ssize_t n = ::write(fd.get(), contents.data(), contents.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(n));
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
    if (!bundle) {
        return false;
    }
    {
        const UniqueFd lock = openLockFile(bundle.get(), O_RDONLY, calls);
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
    const UniqueFd lock = openLockFile(bundle.get(), O_RDWR, calls);
    return lock && testLock(lock.get(), calls) == LockTest::held;
}

LibraryLock::LibraryLock(LibraryLock&& other) noexcept
    : m_calls(other.m_calls), m_lockFileDescriptor(std::move(other.m_lockFileDescriptor)),
      m_lockedBundleURL(std::exchange(other.m_lockedBundleURL, std::nullopt))
{}

LibraryLock& LibraryLock::operator=(LibraryLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_calls = other.m_calls;
        m_lockFileDescriptor = std::move(other.m_lockFileDescriptor);
        m_lockedBundleURL = std::exchange(other.m_lockedBundleURL, std::nullopt);
    }
    return *this;
}

bool LibraryLock::acquire(const std::filesystem::path& library)
{
    release();

    const UniqueFd bundle = openBundle(library, *m_calls);
    UniqueFd lock;
    if (bundle) {
        lock = openLockFile(bundle.get(), O_RDWR, *m_calls);
        if (!lock) {
            lock = openLockFile(bundle.get(), O_RDONLY, *m_calls);
        }
    }
    if (lock && m_calls->flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return false; // the editor has it open; nothing written
    }
    // A lock call failing for another reason (a file system without locks)
    // keeps the descriptor as if granted: no other holder can be told apart
    // there, and the editor could not have locked it either.
    m_lockFileDescriptor = std::move(lock);

    if (bundle) {
        writeRecord(bundle.get(), LockRecord::claim(), *m_calls);
        if (::mkdirat(bundle.get(), kLockDirectory, 0755) == 0 || errno == EEXIST) {
            const UniqueFd lockDir(m_calls->openat(
                bundle.get(), kLockDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (lockDir) {
                writeFileAt(lockDir.get(), kSecondaryLockName, {}, *m_calls);
            }
        }
        m_calls->unlinkat(bundle.get(), kSyncFile, 0);
    }
    m_lockedBundleURL = library;
    return true;
}

void LibraryLock::release()
{
    UniqueFd lock = std::move(m_lockFileDescriptor);
    if (m_lockedBundleURL) {
        // Written while the advisory lock is still ours: once it is given
        // back the editor may open the library and write its own record.
        const UniqueFd bundle = openBundle(*m_lockedBundleURL, *m_calls);
        if (bundle) {
            writeRecord(bundle.get(), LockRecord::released(), *m_calls);
            const UniqueFd lockDir(m_calls->openat(
                bundle.get(), kLockDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (lockDir) {
                m_calls->unlinkat(lockDir.get(), kSecondaryLockName, 0);
            }
            writeFileAt(bundle.get(), kSyncFile, {}, *m_calls);
        }
        m_lockedBundleURL.reset();
    }
    if (lock) {
        m_calls->flock(lock.get(), LOCK_UN);
    }
}

} // namespace vellico::cleanup
