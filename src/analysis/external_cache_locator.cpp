#include "analysis/external_cache_locator.hpp"

#include "analysis/folder_size.hpp"
#include "model/names.hpp"
#include "platform/entry_lookup.hpp"
#include "platform/file_system.hpp"

namespace vellico::analysis {

ExternalCache LibraryCacheLocator::findExternalCache(const formats::PlistValue& settings,
                                                     const ProgressSink& progress,
                                                     const platform::WalkControl& walk) const
{
    const auto* entries = settings.dict();
    if (entries == nullptr || entries->empty()) {
        return {};
    }
    // A name read from the library: "/usr" or "../../.." would make the
    // analysis measure (and report) a folder anywhere on the machine.
    const std::optional<std::string> folderName = settings.stringFor("cacheFolderName");
    if (!folderName || !model::isSinglePathComponent(*folderName)) {
        return {};
    }
    const auto* location = settings.dataFor("cacheLocation");
    if (location == nullptr) {
        return {};
    }
    publish(progress, status::searchingCache);
    // Never refreshed or rewritten: the library's bookmark stays as the editor wrote it.
    const auto folder = m_bookmarks.resolve(*location);
    if (!folder) {
        return {};
    }
    const auto cache = externalCacheFolder(*folder, *folderName);
    if (!cache) {
        return {};
    }
    // Opened once and measured through that descriptor. The measurement
    // stays on the cache folder's mount.
    platform::UniqueFd fd = platform::openDirectoryPath(cache->string());
    if (!fd) {
        return {};
    }
    publish(progress, status::measuringCache);
    return ExternalCache{*cache, folderSize(std::move(fd), walk)};
}

std::optional<std::filesystem::path> externalCacheFolder(const std::filesystem::path& location,
                                                         std::string_view folderName)
{
    return platform::findDirectoryEntry(location, folderName, platform::EntryWanted::directory);
}

} // namespace vellico::analysis
