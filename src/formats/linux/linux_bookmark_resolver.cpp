#include "formats/linux/linux_bookmark_resolver.hpp"

#include "formats/bookmark_data.hpp"
#include "model/names.hpp"
#include "platform/entry_lookup.hpp"
#include "platform/linux/proc_mount_table.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vellico::platform {

namespace {

bool pathExists(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// `root` joined with `components` when that exists, else with each missing
// component replaced by the entry whose name differs only in its Unicode
// form (platform::matchingEntryName's rule).
// The components are safe (never "..", never holding "/"), so the result
// stays below `root` except through symbolic links inside it.
std::optional<std::filesystem::path> findBelow(const std::filesystem::path& root,
                                               std::span<const std::string> components)
{
    std::filesystem::path exact = root;
    for (const std::string& c : components) {
        exact /= c;
    }
    if (pathExists(exact)) {
        return exact;
    }
    std::filesystem::path current = root;
    for (const std::string& c : components) {
        if (pathExists(current / c)) {
            current /= c;
            continue;
        }
        const auto match = findDirectoryEntry(current, c, EntryWanted::any);
        if (!match) {
            return std::nullopt;
        }
        current = *match;
    }
    return pathExists(current) ? std::optional(current) : std::nullopt;
}

// The name a mounted volume carries: its directory's name.
std::string labelOf(const std::filesystem::path& mount)
{
    const std::filesystem::path name = mount.filename();
    return name.empty() ? mount.parent_path().filename().string() : name.string();
}

// Where the target sits on its Mac volume: the names the volume may carry
// here and how many leading path components name its mount point.
struct VolumePlace {
    std::vector<std::string> labels;
    std::size_t depth = 0;
};

std::optional<VolumePlace> volumePlace(const formats::BookmarkInfo& info)
{
    const auto& components = info.pathComponents;
    if (info.volumePath && *info.volumePath != "/") {
        // volumePath is "/" + safe components, as the reader normalised it.
        std::vector<std::string> volume;
        std::size_t start = 1;
        while (start <= info.volumePath->size()) {
            const std::size_t end =
                std::min(info.volumePath->find('/', start), info.volumePath->size());
            volume.push_back(info.volumePath->substr(start, end - start));
            start = end + 1;
        }
        const bool isPrefix = volume.size() <= components.size() &&
                              std::equal(volume.begin(), volume.end(), components.begin(),
                                         [](const std::string& a, const std::string& b) {
                                             return model::namesEqual(a, b);
                                         });
        if (isPrefix) {
            VolumePlace place;
            if (info.volumeName) {
                place.labels.push_back(*info.volumeName);
            }
            place.labels.push_back(volume.back());
            place.depth = volume.size();
            return place;
        }
    }
    // No usable volume path (absent, the startup disk's "/" from a TOC that
    // describes another volume, or one that does not lead to the target):
    // the path itself still says which volume it is on. The stored volume
    // name is not used then, since it may describe another volume.
    if (components.size() >= 2 && components[0] == "Volumes") {
        return VolumePlace{{components[1]}, 2};
    }
    return std::nullopt;
}

} // namespace

LinuxBookmarkResolver::LinuxBookmarkResolver()
    : LinuxBookmarkResolver(std::make_shared<ProcMountTable>())
{}

LinuxBookmarkResolver::LinuxBookmarkResolver(std::shared_ptr<const MountTable> mounts)
    : m_mounts(std::move(mounts))
{}

std::optional<std::filesystem::path>
LinuxBookmarkResolver::resolve(std::span<const std::uint8_t> bookmark) const
{
    const auto info = formats::readBookmarkData(bookmark);
    if (!info || !info->targetPath) {
        return std::nullopt;
    }
    if (auto found = findBelow("/", info->pathComponents)) {
        return found;
    }
    const auto place = volumePlace(*info);
    if (!place || !m_mounts) {
        return std::nullopt;
    }
    const std::span<const std::string> relative =
        std::span(info->pathComponents).subspan(place->depth);
    const std::vector<std::filesystem::path> mounts = m_mounts->volumeDirectories();
    // Labels in order of trust: the stored volume name first, then the
    // mount point's name. Two mounts with the same label (one under /mnt,
    // one under /media) are both tried.
    for (const std::string& label : place->labels) {
        for (const std::filesystem::path& mount : mounts) {
            if (!model::namesEqual(labelOf(mount), label)) {
                continue;
            }
            if (auto found = findBelow(mount, relative)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path>
LinuxBookmarkResolver::storedPath(std::span<const std::uint8_t> bookmark) const
{
    const auto info = formats::readBookmarkData(bookmark);
    if (!info || !info->targetPath) {
        return std::nullopt;
    }
    return std::filesystem::path(*info->targetPath);
}

} // namespace vellico::platform
