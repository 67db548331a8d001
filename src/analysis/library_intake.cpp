#include "analysis/library_intake.hpp"

#include "analysis/backup_records.hpp"
#include "analysis/external_cache_locator.hpp"
#include "analysis/library_scan.hpp"
#include "analysis/library_settings.hpp"
#include "formats/property_list.hpp"
#include "model/names.hpp"
#include "platform/file_system.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

bool entryExists(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0; // links followed: the entry itself must be there
}

} // namespace

bool hasLibraryExtension(const fs::path& path)
{
    std::string extension = platform::withoutTrailingSlashes(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".fcpbundle";
}

tl::expected<LibraryItem, IntakeError> checkLibraryItem(const fs::path& item,
                                                        const platform::AliasFiles& aliases,
                                                        const platform::ItemFlags& flags)
{
    using Kind = IntakeError::Kind;
    // Absolute from here on: what is analysed, listed and later deleted does
    // not depend on the working directory staying the same.
    std::error_code ec;
    const fs::path given = platform::withoutTrailingSlashes(fs::absolute(item, ec));
    LibraryItem library;
    library.url = given;

    struct stat st {};
    if (::lstat(given.c_str(), &st) != 0) {
        return tl::unexpected(IntakeError{Kind::missing, given.filename()});
    }
    if (aliases.isAliasFile(given)) {
        const auto target = aliases.resolveAliasFile(given);
        if (!target) {
            return tl::unexpected(IntakeError{Kind::aliasUnresolvable, given.stem()});
        }
        library.url = platform::withoutTrailingSlashes(*target);
        library.isFromAlias = true;
    }
    if (!hasLibraryExtension(library.url)) {
        return tl::unexpected(IntakeError{Kind::notALibrary, library.url.filename()});
    }
    library.displayName = bundleDisplayName(library.url);
    if (flags.isUserImmutable(library.url)) {
        return tl::unexpected(IntakeError{Kind::locked, library.displayName});
    }
    return library;
}

bool hasLibraryFiles(const fs::path& bundle)
{
    return entryExists(bundle / "Settings.plist") &&
           entryExists(bundle / "CurrentVersion.flexolibrary");
}

std::string_view messageKey(IntakeError::Kind kind)
{
    switch (kind) {
    case IntakeError::Kind::missing:
        return "« %1 » est introuvable.";
    case IntakeError::Kind::aliasUnresolvable:
        return "alias - résolution impossible « %1 »";
    case IntakeError::Kind::notALibrary:
        return "« %1 » n'est pas une bibliothèque Final Cut Pro valide.";
    case IntakeError::Kind::locked:
        return "« %1 » est verrouillée. Déverrouillez-la dans le Finder avant de continuer.";
    case IntakeError::Kind::backupWithoutOriginal:
        return "« %1 » est une sauvegarde, mais la bibliothèque originale est introuvable.";
    }
    return {};
}

BackupCheck checkBackup(const fs::path& bundle, const platform::BookmarkResolver& bookmarks)
{
    BackupCheck check;
    const fs::path record = bundle / "__BackupInfo.plist";
    check.isBackup = entryExists(record);
    if (!check.isBackup) {
        return check;
    }
    if (const auto dictionary = formats::readPropertyListDictionary(record)) {
        check.original = originalLibraryURL(*dictionary, bookmarks);
    }
    return check;
}

std::optional<std::string> missingExternalCache(const fs::path& bundle,
                                                const platform::BookmarkResolver& bookmarks)
{
    const auto settings = readLibrarySettings(bundle);
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
        // The same lookup as the analysis makes, so the two never disagree
        // on whether the cache is there.
        if (externalCacheFolder(*folder, *folderName)) {
            return std::nullopt;
        }
        return (*folder / *folderName).string();
    }
    if (const auto stored = bookmarks.storedPath(*location)) {
        return (*stored / *folderName).string();
    }
    return *folderName;
}

} // namespace vellico::analysis
