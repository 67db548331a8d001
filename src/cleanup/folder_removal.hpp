#pragma once

#include "cleanup/removal_error.hpp"
#include "model/found_folder.hpp"
#include "platform/system_calls.hpp"
#include "platform/tree_walker.hpp"

#include <tl/expected.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace vellico::cleanup {

// Where a removal may act, beyond what each folder's record says.
struct RemovalBounds {
    // The library, already open (not owned): folders inside it are reached
    // from this descriptor, and it is what "the library itself" means. -1:
    // the library is opened from its path, once per call.
    int bundleFd = -1;
    // The library's identity when it was analysed: when set, a library that
    // is not that directory any more has none of its folders removed
    // (`identityChanged`).
    std::optional<model::FileIdentity> bundleIdentity;
    // When not empty, every folder removed must lie inside one of these
    // directories (found going up through ".." from the folder's own
    // descriptor); any other is refused whole (`outsideBounds`).
    std::vector<model::FileIdentity> within;
};

// Removes one folder found by the analysis, for good, and everything in it,
// without ever touching anything outside it.
//
// The folder is reached again from a trusted anchor without following links:
// a folder inside `bundle` from the bundle, one component at a time; any
// other folder (a backup folder) from its parent directory. Links in the
// anchor's own path are followed (it is the place the user named). The folder
// is refused, and nothing at all removed, when the analysis recorded no
// identity for it, when what is there now is not the folder the analysis
// saw (another directory, a symbolic link, a file), when it is the library
// itself or a directory holding it (decided by identity, going up from the
// library's descriptor, never by comparing paths), or when it lies outside
// the bounds given.
//
// The walk (platform::walkTrees, post-order, shared by `walk.jobs` threads;
// by default 8 to begin with, whatever the number of cores, since removing
// waits on the disk more than on the processor, and more while each unlink
// waits on a round trip and more threads make the walk faster)
// is fd-relative and iterative, so it takes trees thousands of levels deep
// while keeping a bounded number of descriptors open. It reads all names of
// a directory before unlinking any, unlinks everything that is not a
// directory (symbolic links, FIFOs and devices are unlinked, never opened),
// removes a directory only after everything in it and only once the name in
// its parent is checked to still mean it, never lists a directory twice (one
// that is not empty once its listed entries are gone is left in place with
// what appeared in it: `newItems`), never enters another
// mount (a mount point inside is left untouched), and goes on with the
// siblings after a failure on one entry (permission denied, busy).
// Read-only, I/O and stale-handle errors end the folder at once, and so does
// `walk.stop` (the entries under way finish; `interrupted` is reported).
//
// A folder that is itself the mount point of another file system (its mount
// differs from its parent's) is refused whole: what is mounted there belongs
// to no library.
//
// Result: nothing on success (the folder is gone; a folder that vanished
// while being removed also counts), otherwise the first failure met. A failed
// folder may have been removed in part. Blocking; runs on any thread.
tl::expected<void, RemovalError>
removeFoundFolder(const std::filesystem::path& bundle, const model::FoundFolder& folder,
                  platform::SystemCalls& calls = platform::defaultSystemCalls(),
                  const platform::WalkControl& walk = {}, const RemovalBounds& bounds = {});

// What became of one folder of removeFoundFolders.
struct FolderOutcome {
    tl::expected<void, RemovalError> result;
    bool touched = false; // something in it was removed (always, on success)
    // The logical size of the regular files this removal unlinked in it, as
    // the analysis counts sizes (hidden items left out): the space the
    // folder freed, also when it was removed only in part.
    std::int64_t bytesRemoved = 0;
};

// Removes several folders as removeFoundFolder removes one, with every check
// it makes, but in one walk whose threads take the folders in turn and share
// each one's subfolders: a folder that is a single directory of files no
// longer leaves the other threads idle. Folders that lie inside one another
// are removed one at a time, in order. `removed(i)` is called, from the
// walk's threads, as soon as folders[i] is gone; the outcomes come in the
// order of `folders`. After a stop, folders not begun are `interrupted` and
// untouched; those under way are `interrupted` and touched.
std::vector<FolderOutcome> removeFoundFolders(const std::filesystem::path& bundle,
                                              const std::vector<model::FoundFolder>& folders,
                                              platform::SystemCalls& calls,
                                              const platform::WalkControl& walk,
                                              const std::function<void(std::size_t)>& removed,
                                              const RemovalBounds& bounds = {});

} // namespace vellico::cleanup
