#pragma once

#include "model/editing_preset.hpp"
#include "model/found_folder.hpp"
#include "model/target_folder_rule.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vellico::model {

// One collapsible group of the folder list: the backups, one event, or the
// folders outside any event. Never empty.
struct FolderGroup {
    std::string id; // "__backups__", the event name, or "__root__"
    std::string
        label; // heading: a localisation key for the two fixed groups, the event name otherwise
    bool labelIsKey = false;
    std::string icon; // symbol name drawn before the heading
    std::vector<FoundFolder> folders;

    bool operator==(const FolderGroup&) const = default;
};

enum class CheckState { none, partial, all };

inline constexpr std::string_view backupsGroupId = "__backups__";
inline constexpr std::string_view rootGroupId = "__root__";

// Backups first (when any), then one group per event in order of first
// appearance, then the folders outside events (when any), always last. Each
// group keeps its folders in input order.
std::vector<FolderGroup> groups(std::span<const FoundFolder> folders);

// How many of the group's folders are selected: none, some, or all of them.
// An empty group is `none`.
CheckState checkState(const FolderGroup& group, const FolderSelection& selected);

// The help of the group's one kind of folder, or nothing when the group
// holds several kinds.
std::optional<std::string> groupTooltip(const FolderGroup& group, const TextLookup& lookup);

// "location/Final Cut Backups" for a backup folder with a known location,
// otherwise the folder's name.
std::string displayName(const FoundFolder& folder);

// Sum of the sizes of the found folders whose url is selected. Urls that
// belong to no found folder count nothing; the external cache never does.
// 0 with no library. Saturates instead of overflowing.
std::int64_t selectedSize(const BundleInfo* info, const FolderSelection& selected);

} // namespace vellico::model
