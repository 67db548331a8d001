#pragma once

#include "cleanup/folder_removal.hpp"
#include "cleanup/removal_error.hpp"
#include "model/found_folder.hpp"
#include "platform/system_calls.hpp"
#include "platform/tree_walker.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vellico::cleanup {

// One folder that was not removed completely.
struct DeletionFailure {
    std::string name;    // "Render Files", or "Render Files (Event X)" when it has a parent name
    std::string error;   // the system's description of the failure, in the user's locale
    RemovalError detail; // what failed, where, and why; for texts of the caller's own

    bool operator==(const DeletionFailure&) const = default;
};

// What the removal did to one folder, by its own count.
struct FolderRemoval {
    // The logical bytes of the regular files it unlinked there, hidden items
    // left out as the analysis leaves them out.
    std::int64_t bytes = 0;
    bool complete = false; // the folder is gone
};

// Outcome of one deletion run.
struct DeletionResult {
    // Sum of the analysed sizes of the folders removed completely. A folder
    // removed in part adds nothing.
    std::int64_t freedSpace = 0;
    std::vector<DeletionFailure> errors; // in the order of the folders given
    std::size_t foldersRemoved = 0;      // removed completely
    // Set when a stop request ended the run before every folder was done.
    bool stopped = false;
    // The folders under way when the stop came, left in part (their labels,
    // as in failures, in the order of the run's folders); empty when the stop
    // fell between folders. Several threads remove folders side by side, so
    // there may be more than one.
    std::vector<std::string> interruptedFolders;
    // The first of them.
    std::optional<std::string> interruptedFolder;
    // What the removal itself counted as it went, folder by folder in the
    // order given, and the sum of their bytes. Unlike freedSpace, these need
    // no analysed size, and count a folder removed in part too.
    std::vector<FolderRemoval> removals;
    std::int64_t removedSpace = 0;
};

// Called after each folder, from the deletion's threads but never from two at
// once: how many folders have been tried so far and the bytes freed by them.
// Removed folders are counted as they go, failed ones when the run ends.
using DeletionProgress = std::function<void(std::size_t foldersDone, std::int64_t bytesFreed)>;

// The folders to delete: those of `info.foundFolders` whose url is in
// `selection`, in the order of foundFolders.
std::vector<model::FoundFolder> foldersToDelete(const model::BundleInfo& info,
                                                const std::set<std::filesystem::path>& selection);

// Removes the folders with removeFoundFolders (a folder of the library is
// reached from `bundle`; `walk.jobs` threads take the folders in turn and
// share their subfolders) and gathers the results in the folders' order. A failure never stops the
// run; `walk.stop` does: once it asks, the files in hand are finished, nothing more is removed, and
// the result says where it stopped. The caller holds the library's lock around the call and
// releases it afterwards as usual. Synchronous; run it on a worker thread. `progress` may be empty.
DeletionResult performDeletion(const std::filesystem::path& bundle,
                               const std::vector<model::FoundFolder>& folders,
                               const DeletionProgress& progress,
                               platform::SystemCalls& calls = platform::defaultSystemCalls(),
                               const platform::WalkControl& walk = {},
                               const RemovalBounds& bounds = {});

// "name", or "name (parentName)" when parentName is not empty.
std::string failureLabel(const model::FoundFolder& folder);

} // namespace vellico::cleanup
