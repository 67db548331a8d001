#include "model/folder_group.hpp"

#include "model/byte_sum.hpp"
#include "model/names.hpp"

#include <algorithm>
#include <limits>
#include <set>

namespace vellico::model {

namespace {

bool isBackup(const FoundFolder& folder)
{
    return namesEqual(folder.name, backupsFolderName);
}

} // namespace

std::vector<FolderGroup> groups(std::span<const FoundFolder> folders)
{
    FolderGroup backups{std::string(backupsGroupId),
                        "Sauvegardes",
                        true,
                        "clock.arrow.trianglehead.2.counterclockwise.rotate.90",
                        {}};
    FolderGroup outside{std::string(rootGroupId), "Hors évènements", true, "archivebox", {}};
    std::vector<FolderGroup> events;

    for (const FoundFolder& folder : folders) {
        if (isBackup(folder)) {
            backups.folders.push_back(folder);
        } else if (folder.parentName.empty()) {
            outside.folders.push_back(folder);
        } else {
            auto it = std::find_if(events.begin(), events.end(),
                                   [&](const FolderGroup& g) { return g.id == folder.parentName; });
            if (it == events.end()) {
                events.push_back(FolderGroup{
                    folder.parentName, folder.parentName, false, "star.rectangle.fill", {}});
                it = events.end() - 1;
            }
            it->folders.push_back(folder);
        }
    }

    std::vector<FolderGroup> result;
    result.reserve(events.size() + 2);
    if (!backups.folders.empty()) {
        result.push_back(std::move(backups));
    }
    for (FolderGroup& event : events) {
        result.push_back(std::move(event));
    }
    if (!outside.folders.empty()) {
        result.push_back(std::move(outside));
    }
    return result;
}

CheckState checkState(const FolderGroup& group, const FolderSelection& selected)
{
    std::size_t count = 0;
    for (const FoundFolder& folder : group.folders) {
        count += selected.count(folder.url);
    }
    if (count == 0) {
        return CheckState::none;
    }
    return count == group.folders.size() ? CheckState::all : CheckState::partial;
}

std::optional<std::string> groupTooltip(const FolderGroup& group, const TextLookup& lookup)
{
    std::set<std::string> names;
    for (const FoundFolder& folder : group.folders) {
        names.insert(normalizedName(folder.name));
    }
    if (names.size() != 1) {
        return std::nullopt;
    }
    return tooltipText(*names.begin(), lookup);
}

std::string displayName(const FoundFolder& folder)
{
    if (isBackup(folder) && !folder.parentName.empty()) {
        return folder.parentName + "/" + folder.name;
    }
    return folder.name;
}

std::int64_t selectedSize(const BundleInfo* info, const FolderSelection& selected)
{
    if (info == nullptr) {
        return 0;
    }
    std::int64_t sum = 0;
    for (const FoundFolder& folder : info->foundFolders) {
        if (selected.count(folder.url) == 0) {
            continue;
        }
        sum = saturatingAdd(sum, folder.size);
    }
    return sum;
}

} // namespace vellico::model
