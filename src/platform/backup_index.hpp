#pragma once

#include "platform/mount_table.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vellico::platform {

// Finds folders named like a library's backup folder elsewhere on the
// machine (the Mac asks its metadata index). Never fails: errors give
// nothing, and the search gives up at the time limit with what it has.
class BackupIndex {
public:
    virtual ~BackupIndex() = default;
    virtual std::vector<std::filesystem::path>
    searchBackupFolders(const std::string& folderName,
                        std::chrono::milliseconds timeLimit) const = 0;
};

// Looks at the top of every mounted volume for the editor's backup
// containers ("Final Cut Backups.localized", "Final Cut Backups") and returns
// their entries named exactly `folderName`. The listing runs on a thread of
// its own: a hung network disk cannot hold the caller past the time limit.
class VolumeBackupIndex final : public BackupIndex {
public:
    explicit VolumeBackupIndex(std::shared_ptr<const MountTable> mounts);
    std::vector<std::filesystem::path>
    searchBackupFolders(const std::string& folderName,
                        std::chrono::milliseconds timeLimit) const override;

private:
    std::shared_ptr<const MountTable> m_mounts;
};

} // namespace vellico::platform
