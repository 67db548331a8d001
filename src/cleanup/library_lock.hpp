#pragma once

#include "platform/system_calls.hpp"
#include "platform/unique_fd.hpp"

#include <filesystem>
#include <optional>

namespace vellico::cleanup {

// True when another holder (the editor, on this machine or through a network
// disk that maps flock) has the exclusive lock on "<library>/.lock" right now.
// Reads nothing from ".lock-info". False when there is no ".lock", when it
// cannot be opened, and when the lock was free (it is taken and given back at
// once). When the lock call fails for another reason than "held" (an NFS
// server refuses an exclusive lock on a read-only descriptor) the test is
// made again on a read-write descriptor before answering. Note that a library
// this process has claimed answers true: locks belong to open descriptions.
// Stateless, any thread.
bool isLibraryOpenInFCP(const std::filesystem::path& library,
                        platform::SystemCalls& calls = platform::defaultSystemCalls());
// The same for the library open as `bundleFd`.
bool isLibraryOpenInFCP(int bundleFd,
                        platform::SystemCalls& calls = platform::defaultSystemCalls());

// Why acquire() did not claim the library.
enum class ClaimRefusal {
    none,
    heldByEditor,       // another holder has the exclusive lock on ".lock"
    unsafeLockFile,     // ".lock" is a link, a FIFO, a device or a folder
    lockFileUnreadable, // ".lock" is a regular file that cannot be opened (refusalError() says why)
    unreachable,        // the library folder itself cannot be opened
};

// Vellico's claim on one library in the editor's lock format, held for the
// length of a deletion run.
//
// acquire() gives back any earlier claim, then takes the exclusive lock on
// ".lock" (never creating it), writes a lock record naming the secondary lock
// "Vellico 1", creates the marker ".lock-dir/Vellico 1" and removes
// "__Sync__". release() writes the released record, removes the marker,
// recreates an empty "__Sync__" and only then gives the advisory lock back, so
// the editor cannot open the library between our last write and the unlock.
// The bundle is opened once by acquire() and that descriptor is kept until
// release(): every file is written through it without following a link (a
// planted link is left alone and the write skipped), so a bundle moved and
// replaced meanwhile never has another folder written into. Files are
// written so that a record is never empty on disk. Failures of these file
// operations are silent, as the editor's own are.
//
// One claim at a time per object; movable, not copyable; the destructor
// releases. Not thread-safe: one thread drives it.
class LibraryLock {
public:
    explicit LibraryLock(platform::SystemCalls& calls = platform::defaultSystemCalls())
        : m_calls(&calls)
    {}
    ~LibraryLock() { release(); }

    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
    LibraryLock(LibraryLock&& other) noexcept;
    LibraryLock& operator=(LibraryLock&& other) noexcept;

    // True when the library is now claimed; false when another holder has
    // the exclusive lock on ".lock", when ".lock" is anything but a regular
    // file reached without following a link, or when the library cannot be
    // opened (nothing was written; any earlier claim has been released all
    // the same; refusal() says why). A library with no ".lock" that can be
    // opened is claimed without an advisory lock.
    bool acquire(const std::filesystem::path& library);

    // Why the last acquire() refused; `none` after a claim.
    ClaimRefusal refusal() const { return m_refusal; }
    // The system error behind `lockFileUnreadable` (EACCES…); 0 otherwise.
    int refusalError() const { return m_refusalError; }

    // Gives the claim back; with nothing claimed it touches no file (a held
    // descriptor, if any, is still unlocked and closed).
    void release();

    // Descriptor of ".lock" held while claimed; -1 when none (also while
    // claimed without an advisory lock).
    int lockFileDescriptor() const { return m_lockFileDescriptor.get(); }
    // The claimed library's directory, opened once by acquire(); -1 when
    // nothing is claimed. Deletions under the claim act through it.
    int bundleDescriptor() const { return m_bundle.get(); }
    // The claimed library; none when nothing is claimed.
    const std::optional<std::filesystem::path>& lockedBundleURL() const
    {
        return m_lockedBundleURL;
    }

private:
    platform::SystemCalls* m_calls;
    platform::UniqueFd m_bundle; // from the claim to the release
    platform::UniqueFd m_lockFileDescriptor;
    std::optional<std::filesystem::path> m_lockedBundleURL;
    ClaimRefusal m_refusal = ClaimRefusal::none;
    int m_refusalError = 0;
};

} // namespace vellico::cleanup
