#include "cleanup/folder_removal.hpp"

#include "model/byte_sum.hpp"
#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"

#include "platform/tree_walker.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vellico::cleanup {

namespace {

using model::FileIdentity;
using platform::UniqueFd;
using platform::WalkDirectory;

// O_NONBLOCK and O_NOCTTY only matter if something that is not a directory
// slips past O_DIRECTORY; O_NOFOLLOW refuses a link in the last component.
constexpr int kOpenDirectoryFlags =
    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

bool endsFolder(int error)
{
    switch (error) {
    case EROFS:
    case EIO:
    case ESTALE:
    case ENOTCONN:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EBADF:
        return true;
    default:
        return false;
    }
}

// What the walk did to one root.
struct RootOutcome {
    std::optional<RemovalError> firstError;
    bool removed = false;    // the root itself is gone
    bool touchedAny = false; // something in it was removed
};

// Removes what the walker hands it: every entry that is not a directory is
// unlinked (links, FIFOs and devices included, never opened), and each
// directory once its contents are gone. Called from the walk's threads; the
// walk's roots are the folders to remove, `rootPaths` their paths for the
// reports.
class RemovalVisitor final : public platform::WalkVisitor {
public:
    RemovalVisitor(platform::SystemCalls& calls, std::vector<std::filesystem::path> rootPaths,
                   const std::function<void(std::size_t)>& removed)
        : m_calls(calls), m_rootPaths(std::move(rootPaths)), m_outcomes(m_rootPaths.size()),
          m_bytes(std::make_unique<std::atomic<std::uint64_t>[]>(m_rootPaths.size())),
          m_removed(removed)
    {}

    // Hidden items are removed like the rest but counted as the analysis
    // counts them: not at all (tag 1 marks a hidden directory and what is in it).
    bool enter(WalkDirectory& child) override
    {
        if (child.name.starts_with('.')) {
            child.tag = kHidden;
        }
        return true;
    }

    Entry entry(int dirFd, const WalkDirectory& dir, const char* name, unsigned char type,
                platform::WalkTally& tally) override
    {
        // The size of what is removed is read just before: the analysis's
        // logical size of a regular file. Where the type is already known
        // (d_type), the attributes the system holds do (AT_STATX_DONT_SYNC):
        // on a network share that saves a round trip per file, and the
        // number is a report, not a decision.
        const bool counted = dir.tag != kHidden && name[0] != '.';
        std::uint64_t size = 0;
        if (type == DT_UNKNOWN) {
            // NFS, overlayfs and FUSE may leave d_type empty: ask, without
            // following a link, so that a FIFO is never opened to learn what
            // it is.
            struct statx stx {};
            if (m_calls.statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_SIZE, &stx) !=
                0) {
                return errno == ENOENT ? Entry::done : keep(dir, name, errno);
            }
            if (S_ISDIR(stx.stx_mode)) {
                return Entry::directory;
            }
            size = S_ISREG(stx.stx_mode) ? stx.stx_size : 0;
        } else if (type == DT_REG && counted) {
            struct statx stx {};
            if (m_calls.statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_SIZE,
                              &stx) == 0 &&
                S_ISREG(stx.stx_mode)) {
                size = stx.stx_size;
            }
        }
        if (m_calls.unlinkat(dirFd, name, 0) == 0) {
            if (counted && size > 0) {
                tally.bytes += size;
                m_bytes[dir.root].fetch_add(size, std::memory_order_relaxed);
            }
            if (tally.files++ == 0) {
                touched(dir.root);
            }
            return Entry::done;
        }
        if (errno == ENOENT) {
            // Gone meanwhile: nothing of it was freed here.
            if (tally.files++ == 0) {
                touched(dir.root);
            }
            return Entry::done;
        }
        if (errno == EISDIR) {
            return Entry::directory; // became a directory since it was listed
        }
        return keep(dir, name, errno);
    }

    bool failed(const WalkDirectory& dir, const char* name, platform::WalkFailure what,
                int error) override
    {
        switch (what) {
        case platform::WalkFailure::otherMount:
            // What is mounted there is not part of the folder. It stays, and
            // so does the folder around it.
            record(dir, RemovalProblem::mountPointInside, EBUSY, pathOf(dir, name));
            return false;
        case platform::WalkFailure::identityChanged:
            // A directory was moved elsewhere while we were inside it.
            record(dir, RemovalProblem::identityChanged, ESTALE, pathOf(dir, name));
            return true;
        default:
            record(dir, RemovalProblem::systemError, error, pathOf(dir, name));
            return endsFolder(error);
        }
    }

    Leave leave(const WalkDirectory& dir, int parentFd, UniqueFd& dirFd) override
    {
        const bool isRoot = dir.parent == nullptr;
        // rmdir takes a name, not a descriptor: right before it, make sure
        // the name in the same parent descriptor still means the directory
        // we emptied, so that a directory moved in after the listing (even
        // an empty one) is never removed in its place.
        const std::optional<FileIdentity> now =
            platform::identityAt(m_calls, parentFd, dir.name.c_str());
        if (!now) {
            if (errno == ENOENT) {
                removedDirectory(dir, isRoot); // gone meanwhile
                return Leave::done;
            }
            record(dir, RemovalProblem::systemError, errno, pathOf(dir, ""));
            return endsFolder(errno) ? Leave::stop : Leave::failed;
        }
        if (!now->sameAs(dir.identity)) {
            record(dir, RemovalProblem::identityChanged, ESTALE, pathOf(dir, ""));
            return Leave::stop;
        }
        // Closed before rmdir, as rm does: the directory is then freed by
        // the rmdir itself, not later by a close of a removed directory.
        dirFd.reset();
        if (m_calls.unlinkat(parentFd, dir.name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
            removedDirectory(dir, isRoot);
            return Leave::done;
        }
        const int error = errno;
        if (error == ENOTEMPTY || error == EEXIST) {
            // Something came in after the listing: it was never shown, so it
            // stays, and so does the directory holding it.
            record(dir, RemovalProblem::newItems, ENOTEMPTY, pathOf(dir, ""));
            return Leave::failed;
        }
        record(dir, RemovalProblem::systemError, error, pathOf(dir, ""));
        return endsFolder(error) ? Leave::stop : Leave::failed;
    }

    // Read once the walk is over.
    const std::vector<RootOutcome>& outcomes() const { return m_outcomes; }
    // Bytes of the regular files removed under root `root` (hidden ones
    // left out), read once the walk is over.
    std::int64_t bytesRemoved(std::size_t root) const
    {
        return model::saturatedSize(m_bytes[root].load(std::memory_order_relaxed));
    }

private:
    static constexpr std::uint32_t kHidden = 1;

    Entry keep(const WalkDirectory& dir, const char* name, int error)
    {
        record(dir, RemovalProblem::systemError, error, pathOf(dir, name));
        return endsFolder(error) ? Entry::stop : Entry::kept;
    }

    void record(const WalkDirectory& dir, RemovalProblem problem, int error,
                std::filesystem::path path)
    {
        std::lock_guard lock(m_mutex);
        RootOutcome& outcome = m_outcomes[dir.root];
        if (!outcome.firstError) {
            outcome.firstError = RemovalError{problem, error, std::move(path)};
        }
    }

    void touched(std::size_t root)
    {
        std::lock_guard lock(m_mutex);
        m_outcomes[root].touchedAny = true;
    }

    void removedDirectory(const WalkDirectory& dir, bool isRoot)
    {
        {
            std::lock_guard lock(m_mutex);
            RootOutcome& outcome = m_outcomes[dir.root];
            outcome.touchedAny = true;
            outcome.removed = outcome.removed || isRoot;
        }
        if (isRoot && m_removed) {
            m_removed(dir.root);
        }
    }

    std::filesystem::path pathOf(const WalkDirectory& dir, const char* name) const
    {
        std::vector<const std::string*> names;
        for (const WalkDirectory* d = &dir; d->parent != nullptr; d = d->parent) {
            names.push_back(&d->name);
        }
        std::filesystem::path path = m_rootPaths[dir.root];
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            path /= **it;
        }
        if (name != nullptr && name[0] != '\0') {
            path /= name;
        }
        return path;
    }

    platform::SystemCalls& m_calls;
    std::vector<std::filesystem::path> m_rootPaths;
    std::mutex m_mutex;
    std::vector<RootOutcome> m_outcomes;                   // guarded by m_mutex
    std::unique_ptr<std::atomic<std::uint64_t>[]> m_bytes; // by root
    const std::function<void(std::size_t)>& m_removed;
};

tl::unexpected<RemovalError> failure(RemovalProblem problem, int error,
                                     const std::filesystem::path& path)
{
    return tl::unexpected(RemovalError{problem, error, path});
}

// A folder checked and opened, ready to be walked: the directory holding it
// and the folder itself, both open.
struct PreparedFolder {
    UniqueFd parent;
    platform::WalkRoot root;
};

// What every folder of one call is checked against, found once: the library
// open, and the directories that are the library or hold it (the library's
// own identity, then its ancestors through ".." from its descriptor).
struct LibraryGuard {
    UniqueFd owned;       // when the call opened the library itself
    int bundleFd = -1;    // the library, or -1 when the call names none
    int openError = 0;    // why the library could not be opened
    bool changed = false; // the library is not the one analysed
    std::vector<FileIdentity> holders;
    const RemovalBounds* bounds = nullptr;
};

LibraryGuard guardFor(const std::filesystem::path& bundle, const RemovalBounds& bounds,
                      platform::SystemCalls& calls)
{
    LibraryGuard guard;
    guard.bounds = &bounds;
    guard.bundleFd = bounds.bundleFd;
    if (guard.bundleFd < 0 && !bundle.empty()) {
        guard.owned.reset(
            calls.openat(AT_FDCWD, bundle.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        guard.openError = guard.owned ? 0 : errno;
        guard.bundleFd = guard.owned.get();
    }
    if (guard.bundleFd >= 0) {
        const std::optional<FileIdentity> self = platform::identityOf(guard.bundleFd);
        const auto ancestors = platform::ancestorsOf(guard.bundleFd);
        if (!self || !ancestors) {
            guard.openError = errno != 0 ? errno : EIO;
            guard.bundleFd = -1; // what holds the library cannot be told: nothing is removed
            guard.owned.reset();
            return guard;
        }
        if (bounds.bundleIdentity && !self->sameAs(*bounds.bundleIdentity)) {
            guard.openError = ESTALE; // another directory under the library's name
            guard.changed = true;
            guard.bundleFd = -1;
            guard.owned.reset();
            return guard;
        }
        guard.holders.push_back(*self);
        guard.holders.insert(guard.holders.end(), ancestors->begin(), ancestors->end());
    }
    return guard;
}

// Why the open folder `rootFd` (of identity `rootId`) may not be removed
// where it stands: it is the library itself or holds it, whatever the record
// says and whatever path (a link, a bind mount) leads to either; or it lies
// outside the bounds. None when it may.
std::optional<RemovalProblem> misplaced(const FileIdentity& rootId, int rootFd,
                                        const LibraryGuard& guard)
{
    for (const FileIdentity& holder : guard.holders) {
        if (model::sameDirectory(rootId, holder)) {
            return RemovalProblem::holdsLibrary;
        }
    }
    const std::vector<FileIdentity>& within = guard.bounds->within;
    if (within.empty()) {
        return std::nullopt;
    }
    const auto ancestors = platform::ancestorsOf(rootFd);
    const bool inside =
        ancestors && std::any_of(ancestors->begin(), ancestors->end(), [&](const auto& a) {
            return std::any_of(within.begin(), within.end(),
                               [&](const auto& w) { return model::sameDirectory(a, w); });
        });
    return inside ? std::nullopt : std::optional(RemovalProblem::outsideBounds);
}

// Reaches the folder again from a trusted anchor and checks that it is the
// folder the analysis saw.
tl::expected<PreparedFolder, RemovalError> prepare(const std::filesystem::path& bundle,
                                                   const LibraryGuard& guard,
                                                   const model::FoundFolder& folder,
                                                   platform::SystemCalls& calls)
{
    const std::filesystem::path& url = folder.url;
    if (!folder.identity) {
        return failure(RemovalProblem::identityUnknown, ENODATA, url);
    }
    if (!bundle.empty() && guard.bundleFd < 0) {
        return failure(guard.changed ? RemovalProblem::identityChanged
                                     : RemovalProblem::systemError,
                       guard.openError, url);
    }

    std::filesystem::path target = url.lexically_normal();
    if (!target.has_filename()) {
        target = target.parent_path(); // "…/Render Files/"
    }
    if (!target.is_absolute() || !target.has_filename() || target.filename() == ".." ||
        target.filename() == ".") {
        return failure(RemovalProblem::systemError, EINVAL, url);
    }

    // Anchor and the components below it. A folder of the library is reached
    // from the bundle; anything else (a backup folder) from its parent.
    std::filesystem::path anchor;
    std::vector<std::string> components;
    const std::filesystem::path inBundle = target.lexically_relative(bundle.lexically_normal());
    if (!bundle.empty() && !inBundle.empty() && *inBundle.begin() != ".." &&
        *inBundle.begin() != ".") {
        anchor = bundle.lexically_normal();
        for (const auto& part : inBundle) {
            if (!part.empty()) {
                components.push_back(part.string());
            }
        }
    } else {
        anchor = target.parent_path();
        components.push_back(target.filename().string());
    }

    // The library is the descriptor already open; anything else (a backup
    // folder's parent) is looked up here, once.
    const bool fromLibrary = anchor == bundle.lexically_normal() && guard.bundleFd >= 0;
    const int anchorRaw =
        fromLibrary ? ::fcntl(guard.bundleFd, F_DUPFD_CLOEXEC, 0)
                    : calls.openat(AT_FDCWD, anchor.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (anchorRaw < 0) {
        return failure(RemovalProblem::systemError, errno, url);
    }
    UniqueFd parent(anchorRaw);
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        const int fd = calls.openat(parent.get(), components[i].c_str(), kOpenDirectoryFlags);
        if (fd < 0) {
            // ELOOP or ENOTDIR: an event folder became a link or a file.
            return failure(errno == ELOOP || errno == ENOTDIR ? RemovalProblem::identityChanged
                                                              : RemovalProblem::systemError,
                           errno, url);
        }
        parent.reset(fd);
    }

    const std::string& rootName = components.back();
    const int rootRaw = calls.openat(parent.get(), rootName.c_str(), kOpenDirectoryFlags);
    if (rootRaw < 0) {
        return failure(errno == ELOOP || errno == ENOTDIR ? RemovalProblem::identityChanged
                                                          : RemovalProblem::systemError,
                       errno, url);
    }
    UniqueFd root(rootRaw);
    const std::optional<FileIdentity> rootId = platform::identityOf(root.get());
    if (!rootId) {
        return failure(RemovalProblem::systemError, errno, url);
    }
    if (!rootId->sameAs(*folder.identity)) {
        return failure(RemovalProblem::identityChanged, ESTALE, url);
    }
    if (const std::optional<RemovalProblem> problem = misplaced(*rootId, root.get(), guard)) {
        return failure(*problem, *problem == RemovalProblem::holdsLibrary ? EINVAL : EPERM, url);
    }
    // A mount point is not a folder of anything: checking only below the
    // folder would empty whatever is mounted at its very place.
    const std::optional<FileIdentity> parentId = platform::identityOf(parent.get());
    if (!parentId || model::onOtherMount(*rootId, *parentId)) {
        return failure(RemovalProblem::mountPoint, EBUSY, url);
    }

    PreparedFolder prepared;
    prepared.root.fd = std::move(root);
    prepared.root.identity = *rootId;
    prepared.root.parentFd = parent.get();
    prepared.root.name = rootName;
    prepared.parent = std::move(parent);
    return prepared;
}

// Folders walked together: each one holds two descriptors until the walk
// ends, so a long selection goes in groups of this many.
constexpr std::size_t kFoldersPerWalk = 64;

// Threads removing to begin with, unless the caller chose, whatever the
// number of cores. An unlink often waits for the disk (the journal, a bitmap
// to read back, a network round trip) rather than for a core, and other
// threads go on meanwhile: on two cores, eight threads empty 200,000 files in
// about two thirds of the time two take. Where each unlink is a round trip
// (a network share), the walk adds threads while that makes it faster.
constexpr int kRemovalThreads = 8;

// True when one folder lies inside another, or is the same one under the
// same path or (through a link in an anchor) under another: such folders are
// never walked at the same time.
bool nested(const std::vector<model::FoundFolder>& folders)
{
    std::set<std::pair<std::uint64_t, std::uint64_t>> identities;
    for (const model::FoundFolder& folder : folders) {
        if (folder.identity &&
            !identities.emplace(folder.identity->device, folder.identity->inode).second) {
            return true;
        }
    }
    std::vector<std::filesystem::path> paths;
    paths.reserve(folders.size());
    for (const model::FoundFolder& folder : folders) {
        paths.push_back(folder.url.lexically_normal() / "");
    }
    std::sort(paths.begin(), paths.end(),
              [](const auto& a, const auto& b) { return a.native() < b.native(); });
    for (std::size_t i = 1; i < paths.size(); ++i) {
        if (paths[i].native().starts_with(paths[i - 1].native())) {
            return true;
        }
    }
    return false;
}

// Removes folders [first, last) in one walk.
void removeGroup(const std::filesystem::path& bundle, const LibraryGuard& guard,
                 const std::vector<model::FoundFolder>& folders, std::size_t first,
                 std::size_t last, platform::SystemCalls& calls, const platform::WalkControl& walk,
                 const std::function<void(std::size_t)>& removed, std::vector<FolderOutcome>& out)
{
    std::vector<std::size_t> walked; // index in `folders` of each root
    std::vector<platform::WalkRoot> roots;
    std::vector<UniqueFd> parents;
    std::vector<std::filesystem::path> paths;
    for (std::size_t i = first; i < last; ++i) {
        if (walk.stop != nullptr && walk.stop->stopRequested()) {
            out[i] =
                FolderOutcome{failure(RemovalProblem::interrupted, EINTR, folders[i].url), false};
            continue;
        }
        tl::expected<PreparedFolder, RemovalError> prepared =
            prepare(bundle, guard, folders[i], calls);
        if (!prepared) {
            out[i] = FolderOutcome{tl::unexpected(std::move(prepared.error())), false};
            continue;
        }
        walked.push_back(i);
        roots.push_back(std::move(prepared->root));
        parents.push_back(std::move(prepared->parent));
        paths.push_back(folders[i].url);
    }
    if (roots.empty()) {
        return;
    }
    const std::function<void(std::size_t)> removedRoot = [&](std::size_t root) {
        if (removed) {
            removed(walked[root]);
        }
    };
    RemovalVisitor remover(calls, std::move(paths), removedRoot);
    platform::WalkControl control = walk;
    control.calls = &calls;
    if (control.jobs == 0 && control.startThreads == 0) {
        // Where the measurement had to wait on a share, each unlink waits on
        // it too: the removal begins with as many threads as the
        // measurement came to need, not with the climb again.
        control.startThreads = std::max(kRemovalThreads, platform::walkThreadPeaks().streaming);
    }
    platform::walkTrees(std::move(roots), remover, control, platform::WalkOrder::postOrder, false);
    for (std::size_t r = 0; r < walked.size(); ++r) {
        const RootOutcome& outcome = remover.outcomes()[r];
        const std::size_t i = walked[r];
        if (outcome.firstError) {
            out[i] = FolderOutcome{tl::unexpected(*outcome.firstError), outcome.touchedAny};
        } else if (!outcome.removed) {
            // Stopped before the end: what is left stays.
            out[i] = FolderOutcome{failure(RemovalProblem::interrupted, EINTR, folders[i].url),
                                   outcome.touchedAny};
        } else {
            out[i] = FolderOutcome{{}, true};
        }
        out[i].bytesRemoved = remover.bytesRemoved(r);
    }
}

} // namespace

std::vector<FolderOutcome> removeFoundFolders(const std::filesystem::path& bundle,
                                              const std::vector<model::FoundFolder>& folders,
                                              platform::SystemCalls& calls,
                                              const platform::WalkControl& walk,
                                              const std::function<void(std::size_t)>& removed,
                                              const RemovalBounds& bounds)
{
    std::vector<FolderOutcome> out(folders.size());
    const LibraryGuard guard = guardFor(bundle, bounds, calls);
    // Folders inside one another are removed one at a time, in order.
    const std::size_t perWalk = nested(folders) ? 1 : kFoldersPerWalk;
    for (std::size_t first = 0; first < folders.size(); first += perWalk) {
        removeGroup(bundle, guard, folders, first, std::min(folders.size(), first + perWalk), calls,
                    walk, removed, out);
    }
    return out;
}

tl::expected<void, RemovalError> removeFoundFolder(const std::filesystem::path& bundle,
                                                   const model::FoundFolder& folder,
                                                   platform::SystemCalls& calls,
                                                   const platform::WalkControl& walk,
                                                   const RemovalBounds& bounds)
{
    return std::move(removeFoundFolders(bundle, {folder}, calls, walk, {}, bounds).front().result);
}

} // namespace vellico::cleanup
