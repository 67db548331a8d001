#pragma once

#include "platform/file_identity.hpp"
#include "platform/stop_token.hpp"
#include "platform/system_calls.hpp"
#include "platform/unique_fd.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The one directory walker of the program: the size measurement, the removal
// and the listings all read directories through it.
namespace vellico::platform {

// Reads the raw records of one open directory with getdents64, from the
// descriptor's current offset, through the system-call seam. "." and ".."
// are skipped. The buffer is the caller's (one per thread).
class DirectoryReader {
public:
    DirectoryReader(SystemCalls& calls, int fd, char* buffer, std::size_t size)
        : m_calls(calls), m_fd(fd), m_buffer(buffer), m_size(size)
    {}

    // The next entry: its name (valid until the next call) and its d_type
    // (DT_UNKNOWN on NFS, overlayfs, FUSE…). False at the end or on an error;
    // error() then tells which (0: the end).
    bool next(const char*& name, unsigned char& type);
    int error() const { return m_error; }

private:
    SystemCalls& m_calls;
    int m_fd;
    char* m_buffer;
    std::size_t m_size;
    long m_used = 0;
    long m_offset = 0;
    int m_error = 0;
    bool m_done = false;
};

// Counters that other threads sample to show how far a walk has gone.
struct WalkProgress {
    std::atomic<std::uint64_t> files{0}; // regular files seen (counted or removed)
    std::atomic<std::uint64_t> bytes{0}; // their logical sizes
    std::atomic<int> threads{0};         // the most threads that took part at once
};

class WalkBudget;

// What a caller controls about a walk.
struct WalkControl {
    // Threads sharing the work, exactly (at most 64). 0 means the default:
    // `startThreads` to begin with, more while they wait on the disk or the
    // network rather than work and adding threads makes the walk faster (a
    // cold cache, a network share, where each request waits on a round
    // trip), up to 64 or what the open-file limit and memory allow; and
    // fewer again, down to the start, once they no longer wait. Each thread
    // holds a bounded number of open directories.
    int jobs = 0;
    const StopToken* stop = nullptr; // checked at least once per directory
    WalkProgress* progress = nullptr;
    SystemCalls* calls = nullptr; // null: the kernel
    // With `jobs` 0: the threads to begin with; 0 means one per core, at
    // most 8.
    int startThreads = 0;
    // Threads shared with other walks running beside this one (not owned;
    // null: none). The walk then runs with the threads it gets from it, at
    // most `jobs` stands for at its limit, and waits for one while the
    // others hold them all (see WalkBudget).
    WalkBudget* budget = nullptr;
};

// The number of threads a walk with `control` begins with, and the number it
// may grow to (the same when `jobs` is set).
int walkThreads(const WalkControl& control);
int walkThreadLimit(const WalkControl& control);

// The most threads that took part at once in a walk of this process so far:
// in the walks that measure and list (streaming) and in those that remove
// (post-order). 0 when there was none. For diagnostics and benchmarks.
struct WalkThreadPeaks {
    int streaming = 0;
    int postOrder = 0;
};
WalkThreadPeaks walkThreadPeaks();

// One directory the walk has entered. Lives from its opening until the walk
// is done with it and with everything below it.
struct WalkDirectory {
    const WalkDirectory* parent = nullptr; // null for a root of the walk
    std::string name;                      // its name in the parent (for a root: as given)
    FileIdentity identity;                 // taken from the open directory
    std::size_t root = 0;                  // index of the root it lies under
    int depth = 0;                         // 0 for a root
    std::uint32_t tag = 0;                 // the visitor's mark; a child starts with its parent's
};

// What the walker met that it could not do.
enum class WalkFailure {
    open,            // a subdirectory could not be opened (name given)
    list,            // the directory could not be read to its end
    otherMount,      // a subdirectory lies on another mount: never entered
    identityChanged, // a directory reopened through ".." is not the one left
    typeUnstable,    // an entry kept changing type between file and directory
};

// Running totals of one directory's files, handed to the visitor when the
// directory has been read.
struct WalkTally {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

// What the walk does with what it finds. Every method may be called from
// several threads at once, entry() even for the same directory: the files of
// a large directory are shared out in batches (and counted() follows each
// batch). enter() and leave() of one directory come from one thread at a time.
class WalkVisitor {
public:
    virtual ~WalkVisitor() = default;

    // done: handled; directory: it is one after all, enter it; kept: it
    // stays where it is (its directory is not emptied); stop: kept, and the
    // whole root stops.
    enum class Entry { done, directory, kept, stop };
    // done: handled; failed: it stays (its parent is not emptied either);
    // stop: failed, and the whole root stops.
    enum class Leave { done, failed, stop };

    // A new subdirectory, open, on the same mount as its parent. False leaves
    // it out. May set child.tag.
    virtual bool enter(WalkDirectory& /*child*/) { return true; }

    // An entry that is not known to be a directory (d_type may be DT_UNKNOWN).
    // `directory` when it turns out to be one: the walk then enters it.
    virtual Entry entry(int dirFd, const WalkDirectory& dir, const char* name, unsigned char type,
                        WalkTally& tally) = 0;

    // Something failed at `dir` (`name` empty: the directory itself). True
    // stops the whole root `dir` lies under. The directory is marked as not
    // emptied either way.
    virtual bool failed(const WalkDirectory& /*dir*/, const char* /*name*/, WalkFailure /*what*/,
                        int /*error*/)
    {
        return false;
    }

    // The directory has been read; its files' totals.
    virtual void counted(const WalkDirectory& /*dir*/, const WalkTally& /*tally*/) {}

    // Post-order walks only: everything below `dir` has been handled and
    // nothing failed there. `parentFd` is the directory holding it (for a
    // root, the descriptor the caller gave). `dirFd` is the directory's own
    // descriptor, which the visitor may close (before an rmdir).
    virtual Leave leave(const WalkDirectory& /*dir*/, int /*parentFd*/, UniqueFd& /*dirFd*/)
    {
        return Leave::done;
    }
};

// A tree to walk: an open directory, its identity, and (for post-order walks)
// the directory holding it and its name there.
struct WalkRoot {
    UniqueFd fd;
    FileIdentity identity;
    int parentFd = -1; // not owned; -1 when there is none
    std::string name;
    std::uint32_t tag = 0;
};

enum class WalkOrder {
    // Files are handed to the visitor while their directory is read;
    // subdirectories are entered afterwards.
    streaming,
    // Every name of a directory is read before any entry is handed on, and
    // leave() follows its contents (for removal: names read before unlinking
    // skip none on NFS and SMB, a directory goes after its contents).
    postOrder,
};

// Walks the given trees with the threads `control.jobs` stands for, and
// returns when everything is done or the stop token was seen. Never follows
// a symbolic link (entries are opened O_NOFOLLOW|O_DIRECTORY relative to
// their parent), never enters another mount than the root's (device and
// mount id compared), never goes up out of a root: a directory closed to
// save descriptors is reopened through ".." and must have the identity it
// had, otherwise that root stops. Memory grows with the depth and with the
// names of the widest directory being handled, never with the number of
// files; open descriptors stay below a fixed bound per thread whatever the
// depth. With `skipHidden`, names beginning with "." are neither handed on
// nor entered.
void walkTrees(std::vector<WalkRoot> roots, WalkVisitor& visitor, const WalkControl& control,
               WalkOrder order, bool skipHidden);

} // namespace vellico::platform
