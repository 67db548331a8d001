#include "viewmodel/view_model_services.hpp"

#include "analysis/backup_locator.hpp"
#include "analysis/external_cache_locator.hpp"
#include "analysis/library_scan.hpp"
#include "platform/backup_index.hpp"
#include "platform/linux/desktop_workspace.hpp"
#include "platform/linux/linux_alias_files.hpp"
#include "platform/linux/linux_bookmark_resolver.hpp"
#include "platform/linux/proc_mount_table.hpp"
#include "platform/user_folders.hpp"

namespace vellico::viewmodel {

namespace {

// The analysis services and what they refer to, kept together so that one
// shared pointer keeps all of them alive for a running analysis.
struct MachineAnalysis {
    MachineAnalysis(const std::optional<std::filesystem::path>& home,
                    std::shared_ptr<const platform::MountTable> mountTable,
                    std::shared_ptr<const platform::BookmarkResolver> resolver)
        : mounts(std::move(mountTable)), bookmarks(std::move(resolver)), index(mounts),
          backups(home ? platform::userFolders(*home) : platform::currentUserFolders(), *bookmarks,
                  index, *mounts),
          cache(*bookmarks)
    {}
    std::shared_ptr<const platform::MountTable> mounts;
    std::shared_ptr<const platform::BookmarkResolver> bookmarks;
    platform::VolumeBackupIndex index;
    analysis::LibraryBackupLocator backups;
    analysis::LibraryCacheLocator cache;
};

} // namespace

ViewModelServices machineServices(const std::optional<std::filesystem::path>& home)
{
    auto mounts = std::make_shared<platform::ProcMountTable>();
    auto bookmarks = std::make_shared<platform::LinuxBookmarkResolver>(mounts);
    auto machine = std::make_shared<MachineAnalysis>(home, mounts, bookmarks);

    ViewModelServices services;
    services.aliases = std::make_shared<platform::LinuxAliasFiles>(bookmarks);
    services.itemFlags = std::make_shared<platform::LinuxItemFlags>();
    services.cloud = std::make_shared<platform::LinuxCloudDrive>();
    services.bookmarks = bookmarks;
    services.analyze = [machine](const std::filesystem::path& bundle, bool isFromAlias,
                                 const analysis::ProgressSink& progress,
                                 const platform::WalkControl& walk) {
        const analysis::AnalysisServices parts{&machine->backups, &machine->cache, walk};
        return analysis::analyzeBundle(bundle, isFromAlias, parts, progress);
    };
    services.workspace = std::make_shared<platform::DesktopWorkspace>();
    services.clock = std::make_shared<platform::EventLoopClock>();
    return services;
}

} // namespace vellico::viewmodel
