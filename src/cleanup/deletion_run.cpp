#include "cleanup/deletion_run.hpp"

#include "cleanup/folder_removal.hpp"
#include "model/byte_sum.hpp"

#include <limits>
#include <mutex>

namespace vellico::cleanup {

std::vector<model::FoundFolder> foldersToDelete(const model::BundleInfo& info,
                                                const std::set<std::filesystem::path>& selection)
{
    std::vector<model::FoundFolder> folders;
    for (const model::FoundFolder& folder : info.foundFolders) {
        if (selection.count(folder.url) != 0) {
            folders.push_back(folder);
        }
    }
    return folders;
}

std::string failureLabel(const model::FoundFolder& folder)
{
    if (folder.parentName.empty()) {
        return folder.name;
    }
    return folder.name + " (" + folder.parentName + ")";
}

DeletionResult performDeletion(const std::filesystem::path& bundle,
                               const std::vector<model::FoundFolder>& folders,
                               const DeletionProgress& progress, platform::SystemCalls& calls,
                               const platform::WalkControl& walk, const RemovalBounds& bounds)
{
    DeletionResult result;
    // Folders end in any order, on the walk's threads: the count and the
    // sum handed to `progress` are kept under one lock.
    std::mutex progressMutex;
    std::size_t done = 0;
    std::int64_t freed = 0;
    auto report = [&](std::int64_t size) {
        const std::lock_guard lock(progressMutex);
        ++done;
        // Sizes are analysed byte counts; a negative one (never produced by
        // the analysis) counts as nothing, and the sum saturates.
        freed = model::saturatingAdd(freed, size);
        if (progress) {
            progress(done, freed);
        }
    };
    const std::vector<FolderOutcome> outcomes = removeFoundFolders(
        bundle, folders, calls, walk, [&](std::size_t i) { report(folders[i].size); }, bounds);

    const bool stopRequested = walk.stop != nullptr && walk.stop->stopRequested();
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const model::FoundFolder& folder = folders[i];
        const FolderOutcome& outcome = outcomes[i];
        result.removals.push_back({outcome.bytesRemoved, outcome.result.has_value()});
        result.removedSpace = model::saturatingAdd(result.removedSpace, outcome.bytesRemoved);
        if (outcome.result) {
            ++result.foldersRemoved;
            result.freedSpace = model::saturatingAdd(result.freedSpace, folder.size);
            continue;
        }
        const RemovalError& error = outcome.result.error();
        if (stopRequested && error.problem == RemovalProblem::interrupted) {
            // Not begun, or stopped inside: the latter stays in part.
            result.stopped = true;
            if (outcome.touched) {
                result.interruptedFolders.push_back(failureLabel(folder));
            }
            continue;
        }
        result.errors.push_back(DeletionFailure{failureLabel(folder), describe(error), error});
        if (!stopRequested) {
            report(0); // a failed folder has been tried too
        } else if (outcome.touched) {
            // A failure met before the stop is still reported as such, and
            // the folder was under way when the stop came.
            result.stopped = true;
            result.interruptedFolders.push_back(failureLabel(folder));
        }
    }
    if (!result.interruptedFolders.empty()) {
        result.interruptedFolder = result.interruptedFolders.front();
    }
    return result;
}

} // namespace vellico::cleanup
