#include "analysis/machine_analysis.hpp"

#include "analysis/backup_locator.hpp"
#include "analysis/external_cache_locator.hpp"
#include "formats/linux/linux_alias_files.hpp"
#include "formats/linux/linux_bookmark_resolver.hpp"
#include "platform/backup_index.hpp"
#include "platform/linux/proc_mount_table.hpp"
#include "platform/user_folders.hpp"

namespace vellico::analysis {

// Declared in the order they depend on each other, so that they are built
// in that order and destroyed in the reverse one.
struct MachineAnalysis::Parts {
    explicit Parts(const std::optional<std::filesystem::path>& home)
        : mounts(std::make_shared<platform::ProcMountTable>()),
          bookmarks(std::make_shared<platform::LinuxBookmarkResolver>(mounts)), index(mounts),
          backups(home ? platform::userFolders(*home) : platform::currentUserFolders(), *bookmarks,
                  index, *mounts),
          cache(*bookmarks), aliases(std::make_shared<platform::LinuxAliasFiles>(bookmarks)),
          itemFlags(std::make_shared<platform::LinuxItemFlags>()),
          cloud(std::make_shared<platform::LinuxCloudDrive>())
    {}
    std::shared_ptr<const platform::MountTable> mounts;
    std::shared_ptr<const platform::BookmarkResolver> bookmarks;
    platform::VolumeBackupIndex index;
    LibraryBackupLocator backups;
    LibraryCacheLocator cache;
    std::shared_ptr<const platform::AliasFiles> aliases;
    std::shared_ptr<const platform::ItemFlags> itemFlags;
    std::shared_ptr<platform::CloudDrive> cloud;
};

MachineAnalysis::MachineAnalysis(const std::optional<std::filesystem::path>& home)
    : m_parts(std::make_unique<Parts>(home))
{}

MachineAnalysis::~MachineAnalysis() = default;

AnalysisServices MachineAnalysis::services(const platform::WalkControl& walk) const
{
    return {&m_parts->backups, &m_parts->cache, walk};
}

std::shared_ptr<const platform::BookmarkResolver> MachineAnalysis::bookmarks() const
{
    return m_parts->bookmarks;
}

std::shared_ptr<const platform::AliasFiles> MachineAnalysis::aliases() const
{
    return m_parts->aliases;
}

std::shared_ptr<const platform::ItemFlags> MachineAnalysis::itemFlags() const
{
    return m_parts->itemFlags;
}

std::shared_ptr<platform::CloudDrive> MachineAnalysis::cloud() const
{
    return m_parts->cloud;
}

} // namespace vellico::analysis
