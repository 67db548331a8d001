#include "viewmodel/intake_checks.hpp"

#include "analysis/backup_records.hpp"
#include "analysis/library_settings.hpp"
#include "formats/property_list.hpp"
#include "model/names.hpp"

#include <sys/stat.h>

namespace vellico::viewmodel {

namespace {

bool entryExists(const std::filesystem::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::filesystem::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool hasLibraryFiles(const std::filesystem::path& bundle)
{
    return entryExists(bundle / "Settings.plist") &&
           entryExists(bundle / "CurrentVersion.flexolibrary");
}

BackupCheck checkBackup(const std::filesystem::path& bundle,
                        const platform::BookmarkResolver& bookmarks)
{
    BackupCheck check;
    const std::filesystem::path record = bundle / "__BackupInfo.plist";
    check.isBackup = entryExists(record);
    if (!check.isBackup) {
        return check;
    }
    if (const auto dictionary = formats::readPropertyListDictionary(record)) {
        check.original = analysis::originalLibraryURL(*dictionary, bookmarks);
    }
    return check;
}

std::optional<std::string> missingExternalCache(const std::filesystem::path& bundle,
                                                const platform::BookmarkResolver& bookmarks)
{
    const auto settings = analysis::readLibrarySettings(bundle);
    if (!settings) {
        return std::nullopt;
    }
    // A name that is not one folder's name names no cache (the analysis
    // ignores it too).
    const auto folderName = settings->stringFor("cacheFolderName");
    if (!folderName || !model::isSinglePathComponent(*folderName)) {
        return std::nullopt;
    }
    const auto* location = settings->dataFor("cacheLocation");
    if (location == nullptr) {
        return std::nullopt;
    }
    // Resolved only, never refreshed or rewritten.
    if (const auto folder = bookmarks.resolve(*location)) {
        const std::filesystem::path expected = *folder / *folderName;
        if (isDirectory(expected)) {
            return std::nullopt;
        }
        return expected.string();
    }
    if (const auto stored = bookmarks.storedPath(*location)) {
        return (*stored / *folderName).string();
    }
    return *folderName;
}

} // namespace vellico::viewmodel
