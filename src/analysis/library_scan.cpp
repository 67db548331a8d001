#include "analysis/library_scan.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_settings.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/file_system.hpp"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <set>

namespace vellico::analysis {

namespace {

namespace fs = std::filesystem;
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

// A rule folder found by the listing, measured after the walk of the rest.
struct Pending {
    std::string eventName; // on-disk name of its event; empty at the top level
    std::string diskName;  // on-disk name of the folder
};

UniqueFd reopen(int dirFd)
{
    // A fresh open file description: getdents offsets are per description,
    // so sharing one between two walks would make both skip entries.
    return UniqueFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return sum;
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
    model::BundleInfo info;
    info.url = bundle;
    info.name = bundleDisplayName(bundle);
    info.isFromAlias = isFromAlias;

    publish(progress, status::totalSize);
    std::vector<std::string> unreadable;
    const auto noteUnreadable = [&](const fs::path& below) {
        for (const std::string& rel : unreadable) {
            info.unreadablePaths.push_back(rel == "." ? below : below / rel);
        }
        unreadable.clear();
    };
    UniqueFd bundleFd = platform::openDirectoryPath(bundle.string());
    if (!bundleFd) {
        if (errno != ENOENT) {
            info.unreadablePaths.push_back(bundle);
        }
        return info; // cannot be listed: nothing found, size 0
    }

    const auto children = platform::listDirectory(bundleFd.get());
    if (!children) {
        info.totalSize = folderSize(reopen(bundleFd.get()), {nullptr, &unreadable});
        noteUnreadable(bundle);
        if (info.unreadablePaths.empty()) {
            info.unreadablePaths.push_back(bundle);
        }
        return info;
    }

    // Listing: the two top levels only, in the order the file system returns them.
    std::vector<FoundFolder> found;
    std::vector<Pending> pending;
    std::set<std::string> excluded;
    for (const platform::DirEntry& child : *children) {
        if (!isDirectoryEntry(bundleFd.get(), child)) {
            continue;
        }
        if (const std::string* rule = matchingRule(FolderDepth::root, child.name)) {
            FoundFolder folder;
            folder.url = bundle / child.name;
            folder.name = *rule;
            found.push_back(std::move(folder));
            pending.push_back(Pending{{}, child.name});
            excluded.insert(child.name);
            continue;
        }
        if (isReservedRootName(child.name)) {
            continue;
        }
        // Every other folder at the top is searched as an event.
        UniqueFd eventFd = platform::openDirectoryAt(bundleFd.get(), child.name.c_str());
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
            FoundFolder folder;
            folder.url = bundle / child.name / grandchild.name;
            folder.name = *rule;
            folder.parentName = child.name;
            found.push_back(std::move(folder));
            pending.push_back(Pending{child.name, grandchild.name});
            excluded.insert(child.name + "/" + grandchild.name);
        }
    }

    // Sizes: the bundle minus the rule folders in one walk, then each rule
    // folder on its own, so every file is read once and the total equals a
    // separate measurement of the whole bundle.
    std::int64_t total =
        folderSizeExcluding(reopen(bundleFd.get()), excluded, {services.filesScanned, &unreadable});
    noteUnreadable(bundle);
    for (std::size_t i = 0; i < found.size(); ++i) {
        FoundFolder& folder = found[i];
        const Pending& where = pending[i];
        if (where.eventName.empty()) {
            publish(progress, status::rootFolder, {folder.name});
        } else {
            publish(progress, status::eventFolder, {folder.name, where.eventName});
        }
        UniqueFd parent = where.eventName.empty()
                              ? reopen(bundleFd.get())
                              : platform::openDirectoryAt(bundleFd.get(), where.eventName.c_str());
        UniqueFd folderFd =
            parent ? platform::openDirectoryAt(parent.get(), where.diskName.c_str()) : UniqueFd();
        if (folderFd) {
            // The identity is taken from the very directory that is measured.
            folder.identity = platform::identityOf(folderFd.get());
            folder.size = folderSize(std::move(folderFd), {services.filesScanned, &unreadable});
            noteUnreadable(folder.url);
        }
        total = saturatingAdd(total, folder.size);
    }
    info.totalSize = total;

    const std::optional<formats::PlistValue> settings = readLibrarySettings(bundleFd.get());

    publish(progress, status::searchingBackups);
    if (settings) {
        if (services.backups != nullptr) {
            services.backups->findBackups(*settings, bundle, found, progress);
        }
        if (services.cache != nullptr) {
            ExternalCache cache = services.cache->findExternalCache(*settings, progress);
            info.cacheURL = std::move(cache.url);
            info.cacheTotalSize = info.cacheURL ? cache.size : 0;
        }
    }

    std::stable_partition(found.begin(), found.end(), [](const FoundFolder& folder) {
        return model::namesEqual(folder.name, model::backupsFolderName);
    });
    info.foundFolders = std::move(found);
    return info;
}

} // namespace vellico::analysis
