#include "platform/backup_index.hpp"

#include "model/names.hpp"
#include "platform/file_system.hpp"

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace vellico::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* backupContainers[] = {"Final Cut Backups.localized", "Final Cut Backups"};

// Shared between the caller and the search thread, which may outlive the
// call when a disk hangs.
struct SearchState {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    std::vector<fs::path> found;
    bool finished = false;
};

} // namespace

VolumeBackupIndex::VolumeBackupIndex(std::shared_ptr<const MountTable> mounts)
    : m_mounts(std::move(mounts))
{}

std::vector<fs::path>
VolumeBackupIndex::searchBackupFolders(const std::string& folderName,
                                       std::chrono::milliseconds timeLimit) const
{
    auto state = std::make_shared<SearchState>();
    std::thread([state, mounts = m_mounts, wanted = model::normalizedName(folderName)] {
        const std::vector<fs::path> volumes =
            mounts ? mounts->volumeDirectories() : std::vector<fs::path>{};
        for (const fs::path& volume : volumes) {
            for (const char* container : backupContainers) {
                const fs::path folder = volume / container;
                UniqueFd fd = openDirectoryPath(folder.string());
                const auto entries = listDirectory(fd.get());
                if (!entries) {
                    continue;
                }
                for (const DirEntry& entry : *entries) {
                    // The name from the library's settings and the entry
                    // on the volume compare by canonical equivalence.
                    if (entry.name == wanted || model::normalizedName(entry.name) == wanted) {
                        std::lock_guard lock(state->mutex);
                        state->found.push_back(folder / entry.name);
                    }
                }
            }
        }
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->finishedChanged.notify_all();
    }).detach();

    std::unique_lock lock(state->mutex);
    state->finishedChanged.wait_for(lock, timeLimit, [&] { return state->finished; });
    return state->found; // a copy: the thread may still be adding to its list
}

} // namespace vellico::platform
