#include "cleanup/deletion_run.hpp"

#include "cleanup/folder_removal.hpp"
#include "model/byte_sum.hpp"

#include <limits>

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
                               const platform::WalkControl& walk)
{
    DeletionResult result;
    std::size_t done = 0;
    auto stopRequested = [&] { return walk.stop != nullptr && walk.stop->stopRequested(); };
    for (const model::FoundFolder& folder : folders) {
        if (stopRequested()) {
            result.stopped = true;
            break;
        }
        const tl::expected<void, RemovalError> outcome =
            removeFoundFolder(bundle, folder, calls, walk);
        if (!outcome && stopRequested()) {
            // Stopped inside this folder: it stays in part. A failure met
            // before the stop is still reported as such.
            result.stopped = true;
            result.interruptedFolder = failureLabel(folder);
            if (outcome.error().problem != RemovalProblem::interrupted) {
                result.errors.push_back(DeletionFailure{
                    failureLabel(folder), describe(outcome.error()), outcome.error()});
            }
            break;
        }
        if (outcome) {
            ++result.foldersRemoved;
            // Sizes are analysed byte counts; a negative one (never produced
            // by the analysis) counts as nothing, and the sum saturates.
            result.freedSpace = model::saturatingAdd(result.freedSpace, folder.size);
        } else {
            result.errors.push_back(
                DeletionFailure{failureLabel(folder), describe(outcome.error()), outcome.error()});
        }
        ++done;
        if (progress) {
            progress(done, result.freedSpace);
        }
    }
    return result;
}

} // namespace vellico::cleanup
