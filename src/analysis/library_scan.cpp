#include "analysis/library_scan.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_settings.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/file_identity.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>

namespace vellico::analysis {

namespace {

using model::FolderDepth;
using model::FoundFolder;
using platform::UniqueFd;

constexpr std::array<std::string_view, 6> reservedRootNames{
    "__snapshots", "__SmartConformEvent", "__AsyncCopying", "__Sync__", "__Temp", "__.TRASH"};

// The rule name a folder name matches at one depth, if any.
const std::string* matchingRule(FolderDepth depth, std::string_view name)
{
    const std::string normal = model::normalizedName(name);
    for (const model::TargetFolderRule& rule : model::targetFolderRules()) {
        if (rule.depth == depth && rule.name == normal) {
            return &rule.name;
        }
    }
    return nullptr;
}

bool isDirectoryEntry(int dirFd, const platform::DirEntry& entry)
{
    // Not followed: a link to a folder is not a folder of the library.
    return platform::resolvedType(dirFd, entry) == platform::EntryType::directory;
}

// True when the directory `name` in `dirFd` lies on the bundle's own mount.
// A folder that is itself a mount point (another device, or a bind mount of
// the same one) is not part of the library: statx looks through the mount
// and reports the mounted directory. An entry that cannot be read counts as
// elsewhere.
bool onBundleMount(int dirFd, const std::string& name, const model::FileIdentity& bundleId)
{
    const std::optional<model::FileIdentity> id = platform::identityAt(dirFd, name.c_str());
    return id && !model::onOtherMount(*id, bundleId);
}

// The names read from the settings that the locators join to a folder's
// path; those that are not one folder's name are ignored there, and told here.
void noticeUnsafeNames(const formats::PlistValue& settings,
                       std::vector<model::AnalysisNotice>& notices)
{
    for (const char* key : {"backupFolderName", "cacheFolderName"}) {
        const std::optional<std::string> name = settings.stringFor(key);
        if (name && !name->empty() && !model::isSinglePathComponent(*name)) {
            notices.push_back({model::AnalysisNotice::Kind::unsafeName, key, *name});
        }
    }
}

UniqueFd reopen(int dirFd)
{
    // A fresh open file description: getdents offsets are per description,
    // so sharing one between two walks would make both skip entries.
    return UniqueFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// The rule folders of a library's two top levels, in the order the file
// system lists them, with their paths relative to the bundle; mount points
// met at their places are told in `info`'s notices.
struct ListedFolders {
    std::vector<FoundFolder> found;
    std::vector<std::string> relativePaths; // of each found folder, as on disk
};

ListedFolders listRuleFolders(int bundleFd, const model::FileIdentity& bundleId,
                              const std::filesystem::path& bundle,
                              const std::vector<platform::DirEntry>& children,
                              model::BundleInfo& info)
{
    ListedFolders listed;
    std::vector<FoundFolder>& found = listed.found;
    std::vector<std::string>& relativePaths = listed.relativePaths;
    // A rule folder or an event that is a mount point: left out, and told.
    // The size walk does not enter it either.
    auto mountPoint = [&info](const std::filesystem::path& path) {
        info.notices.push_back({model::AnalysisNotice::Kind::mountPoint, path.string(), {}});
    };
    for (const platform::DirEntry& child : children) {
        if (!isDirectoryEntry(bundleFd, child)) {
            continue;
        }
        const bool reserved = isReservedRootName(child.name);
        if (!reserved && !onBundleMount(bundleFd, child.name, bundleId)) {
            mountPoint(bundle / child.name);
            continue;
        }
        if (const std::string* rule = matchingRule(FolderDepth::root, child.name)) {
            FoundFolder folder;
            folder.url = bundle / child.name;
            folder.name = *rule;
            found.push_back(std::move(folder));
            relativePaths.push_back(child.name);
            continue;
        }
        if (reserved) {
            continue;
        }
        // Every other folder at the top is searched as an event.
        UniqueFd eventFd = platform::openDirectoryAt(bundleFd, child.name.c_str());
        if (!eventFd) {
            continue;
        }
        const auto grandchildren = platform::listDirectory(eventFd.get());
        if (!grandchildren) {
            continue;
        }
        for (const platform::DirEntry& grandchild : *grandchildren) {
            const std::string* rule = matchingRule(FolderDepth::inEvent, grandchild.name);
            if (rule == nullptr || !isDirectoryEntry(eventFd.get(), grandchild)) {
                continue;
            }
            if (!onBundleMount(eventFd.get(), grandchild.name, bundleId)) {
                mountPoint(bundle / child.name / grandchild.name);
                continue;
            }
            FoundFolder folder;
            folder.url = bundle / child.name / grandchild.name;
            folder.name = *rule;
            folder.parentName = child.name;
            found.push_back(std::move(folder));
            relativePaths.push_back(child.name + "/" + grandchild.name);
        }
    }

    return listed;
}

// A library kept in its own backups folder: that folder is not the
// library's to delete. Told by identity, whatever path led to it, and
// named in a notice.
void leaveOutFoldersHoldingTheLibrary(int bundleFd, const model::FileIdentity& bundleId,
                                      std::vector<FoundFolder>& found, model::BundleInfo& info)
{
    const auto holders = platform::ancestorsOf(bundleFd);
    if (!holders) {
        return;
    }
    std::vector<model::FileIdentity> own = *holders;
    own.push_back(bundleId);
    std::erase_if(found, [&](const FoundFolder& folder) {
        const bool holds =
            folder.identity && std::any_of(own.begin(), own.end(), [&](const auto& id) {
                return model::sameDirectory(*folder.identity, id);
            });
        if (holds) {
            info.notices.push_back(
                {model::AnalysisNotice::Kind::holdsLibrary, folder.url.string(), {}});
        }
        return holds;
    });
}

} // namespace

bool isReservedRootName(std::string_view name)
{
    return std::find(reservedRootNames.begin(), reservedRootNames.end(), name) !=
           reservedRootNames.end();
}

std::string bundleDisplayName(const std::filesystem::path& bundle)
{
    return platform::withoutTrailingSlashes(bundle).stem().string();
}

model::BundleInfo analyzeBundle(const std::filesystem::path& bundle, bool isFromAlias,
                                const AnalysisServices& services, const ProgressSink& progress)
{
    UniqueFd bundleFd = platform::openDirectoryPath(bundle.string());
    if (!bundleFd) {
        const int openError = errno;
        publish(progress, status::totalSize);
        model::BundleInfo info;
        info.url = bundle;
        info.name = bundleDisplayName(bundle);
        info.isFromAlias = isFromAlias;
        if (openError != ENOENT) {
            info.unreadableFolders.push_back({bundle, openError});
        }
        return info; // cannot be listed: nothing found, size 0
    }
    return analyzeBundle(std::move(bundleFd), bundle, isFromAlias, services, progress);
}

model::BundleInfo analyzeBundle(UniqueFd bundleFd, const std::filesystem::path& bundle,
                                bool isFromAlias, const AnalysisServices& services,
                                const ProgressSink& progress)
{
    model::BundleInfo info;
    info.url = bundle;
    info.name = bundleDisplayName(bundle);
    info.isFromAlias = isFromAlias;

    publish(progress, status::totalSize);
    // What the walk could not read is named, so that a size that is only a
    // lower bound never passes for the whole.
    const auto noteUnreadable = [&info, &bundle](const std::vector<UnreadableEntry>& unreadable) {
        for (const UnreadableEntry& entry : unreadable) {
            info.unreadableFolders.push_back(
                {entry.path == "." ? bundle : bundle / entry.path, entry.error});
        }
    };
    const std::optional<model::FileIdentity> bundleId = platform::identityOf(bundleFd.get());
    if (!bundleId) {
        info.unreadableFolders.push_back({bundle, bundleFd ? errno : EBADF});
        return info; // cannot be listed: nothing found, size 0
    }
    info.identity = bundleId;
    const auto children = platform::listDirectory(bundleFd.get());
    if (!children) {
        const TreeSizes sizes = measureTree(reopen(bundleFd.get()), {}, services.walk);
        info.totalSize = sizes.total;
        noteUnreadable(sizes.unreadable.empty()
                           ? std::vector<UnreadableEntry>{{".", children.error()}}
                           : sizes.unreadable);
        return info;
    }

    // Listing: the two top levels only, in the order the file system returns them.
    ListedFolders listed = listRuleFolders(bundleFd.get(), *bundleId, bundle, *children, info);
    std::vector<FoundFolder>& found = listed.found;
    const std::vector<std::string>& relativePaths = listed.relativePaths;

    // Sizes: one walk of the bundle gives the total and each rule folder's
    // size, and the identity of the very directory that was measured. The
    // walk's threads enter the rule folders in any order; their texts are
    // published in the order of the listing all the same: a folder's text
    // waits until every folder listed before it has been entered.
    std::mutex statusMutex;
    std::vector<bool> entered(found.size(), false);
    std::size_t nextStatus = 0; // the first folder whose text is not out yet
    const auto entering = [&](std::size_t i) {
        const std::lock_guard lock(statusMutex);
        if (i >= entered.size()) {
            return;
        }
        entered[i] = true;
        for (; nextStatus < found.size() && entered[nextStatus]; ++nextStatus) {
            const FoundFolder& folder = found[nextStatus];
            if (folder.parentName.empty()) {
                publish(progress, status::rootFolder, {folder.name});
            } else {
                publish(progress, status::eventFolder, {folder.name, folder.parentName});
            }
        }
    };
    std::vector<bool> unwalked(found.size(), false);
    if (services.measuredLater) {
        for (std::size_t i = 0; i < found.size(); ++i) {
            unwalked[i] = services.measuredLater(found[i]);
        }
    }
    const TreeSizes sizes =
        measureTree(reopen(bundleFd.get()), relativePaths, services.walk, entering, unwalked);
    for (std::size_t i = 0; i < found.size(); ++i) {
        found[i].size = sizes.subfolders[i].size;
        found[i].identity = sizes.subfolders[i].identity;
    }
    info.totalSize = sizes.total;
    noteUnreadable(sizes.unreadable);
    if (services.walk.stop != nullptr && services.walk.stop->stopRequested()) {
        info.foundFolders = std::move(found);
        return info; // stopped: what was found so far, nothing more is looked up
    }

    const std::optional<formats::PlistValue> settings = readLibrarySettings(bundleFd.get());

    publish(progress, status::searchingBackups);
    if (settings) {
        noticeUnsafeNames(*settings, info.notices);
        if (services.backups != nullptr) {
            services.backups->findBackups(*settings, bundle, found, progress, services.walk);
        }
        if (services.cache != nullptr) {
            ExternalCache cache =
                services.cache->findExternalCache(*settings, progress, services.walk);
            info.cacheURL = std::move(cache.url);
            info.cacheTotalSize = info.cacheURL ? cache.size : 0;
        }
    }

    leaveOutFoldersHoldingTheLibrary(bundleFd.get(), *bundleId, found, info);
    std::stable_partition(found.begin(), found.end(), [](const FoundFolder& folder) {
        return model::namesEqual(folder.name, model::backupsFolderName);
    });
    info.foundFolders = std::move(found);
    return info;
}

} // namespace vellico::analysis
