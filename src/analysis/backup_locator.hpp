#pragma once

#include "analysis/analysis_services.hpp"
#include "platform/backup_index.hpp"
#include "platform/bookmark_resolver.hpp"
#include "platform/mount_table.hpp"
#include "platform/user_folders.hpp"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace vellico::analysis {

// Finds a library's backup folders: in the user's Movies folder, on every
// mounted volume (the backup index), and at the custom location its settings
// record. A folder counts only when it holds nothing but backup bundles of
// this very library (by path, identifier or name), sits inside no library or
// cache bundle, and was not counted already through another route.
class LibraryBackupLocator final : public BackupLocator {
public:
    LibraryBackupLocator(platform::UserFolders folders, const platform::BookmarkResolver& bookmarks,
                         const platform::BackupIndex& index, const platform::MountTable& mounts);

    void findBackups(const formats::PlistValue& settings, const std::filesystem::path& bundle,
                     std::vector<model::FoundFolder>& into, const ProgressSink& progress,
                     const platform::WalkControl& walk) const override;

    // How long the backup index may search.
    static constexpr std::chrono::milliseconds indexTimeLimit{10'000};

private:
    platform::UserFolders m_folders;
    const platform::BookmarkResolver& m_bookmarks;
    const platform::BackupIndex& m_index;
    const platform::MountTable& m_mounts;
};

// Where a backup folder lives, for the list: "~/Movies" style inside the
// home (".localized" dropped), "<Volume>/…" on a mounted volume (a Mac path
// under /Volumes/ or a Linux mount point), otherwise the containing folder's
// name. `volumes` are the mounted volume directories.
std::string displayLocation(const std::filesystem::path& folder, const std::filesystem::path& home,
                            const std::vector<std::filesystem::path>& volumes);

} // namespace vellico::analysis
