#include "analysis/external_cache_locator.hpp"

#include "analysis/folder_size.hpp"

#include <sys/stat.h>

namespace vellico::analysis {

ExternalCache LibraryCacheLocator::findExternalCache(const formats::PlistValue& settings,
                                                     const ProgressSink& progress) const
{
    const auto* entries = settings.dict();
    if (entries == nullptr || entries->empty()) {
        return {};
    }
    const std::optional<std::string> folderName = settings.stringFor("cacheFolderName");
    if (!folderName || folderName->empty()) {
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
    const std::filesystem::path cache = *folder / *folderName;
    struct stat st {};
    if (::stat(cache.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return {};
    }
    publish(progress, status::measuringCache);
    return ExternalCache{cache, folderSize(cache)};
}

} // namespace vellico::analysis
