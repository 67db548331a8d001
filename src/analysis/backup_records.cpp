#include "analysis/backup_records.hpp"

#include "analysis/library_identity.hpp"
#include "formats/file_url.hpp"
#include "model/names.hpp"
#include "platform/entry_lookup.hpp"
#include "platform/file_system.hpp"

#include <cerrno>

namespace vellico::analysis {

namespace {

constexpr const char* backupRecordName = "__BackupInfo.plist";
constexpr const char* previousVersionsName = "Previous Versions";

bool containsSettings(const std::filesystem::path& library)
{
    platform::UniqueFd fd = platform::openDirectoryPath(library.string());
    return fd && platform::existsAt(fd.get(), "Settings.plist");
}

bool allBackupBundles(int parentFd)
{
    platform::UniqueFd fd = platform::openDirectoryAt(parentFd, previousVersionsName);
    if (!fd) {
        // A link or a file under that name is not the editor's; a folder we
        // may not read does not disqualify.
        return errno != ELOOP && errno != ENOTDIR;
    }
    const auto entries = platform::listDirectory(fd.get());
    if (!entries) {
        return true;
    }
    for (const platform::DirEntry& entry : *entries) {
        if (!isBackupBundleName(entry.name)) {
            return false;
        }
    }
    return true;
}

std::string lastComponent(const std::filesystem::path& path)
{
    return platform::withoutTrailingSlashes(path).filename().string();
}

} // namespace

bool isBackupBundleName(std::string_view name)
{
    // ^\d{8}_\d{4}_GMT[+-]\d{1,2}\.fcpbundle$ with ASCII digits, matched by
    // hand: the shape is fixed and this runs for every entry of a backup folder.
    auto digits = [&](std::size_t count) {
        if (name.size() < count) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return false;
            }
        }
        name.remove_prefix(count);
        return true;
    };
    auto literal = [&](std::string_view text) {
        if (name.substr(0, text.size()) != text) {
            return false;
        }
        name.remove_prefix(text.size());
        return true;
    };
    if (!digits(8) || !literal("_") || !digits(4) || !literal("_GMT")) {
        return false;
    }
    if (!literal("+") && !literal("-")) {
        return false;
    }
    if (!digits(1)) {
        return false;
    }
    digits(1); // an optional second digit
    return name == ".fcpbundle";
}

std::string normalizedPath(const std::filesystem::path& path)
{
    std::error_code ec;
    // Links resolved in the part of the path that exists, its names matched
    // against the folders' entries by canonical equivalence (a record written
    // on a Mac holds them decomposed); the rest is kept.
    const std::filesystem::path onDisk = platform::spellingOnDisk(path);
    std::filesystem::path resolved = std::filesystem::weakly_canonical(onDisk, ec);
    std::string text = ec ? onDisk.lexically_normal().string() : resolved.string();
    const auto first = text.find_first_not_of('/');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of('/');
    return text.substr(first, last - first + 1);
}

std::optional<std::filesystem::path> originalLibraryURL(const formats::PlistValue& backupRecord,
                                                        const platform::BookmarkResolver& bookmarks)
{
    if (const auto* bookmark = backupRecord.dataFor("originalBookmark")) {
        if (const auto resolved = bookmarks.resolve(*bookmark);
            resolved && containsSettings(*resolved)) {
            return resolved;
        }
    }
    if (const auto text = backupRecord.stringFor("originalURL")) {
        if (const auto path = formats::pathFromFileURL(*text)) {
            // The record holds the path as the Mac wrote it (names often
            // decomposed); the library here may be stored in the other form.
            std::filesystem::path library = platform::spellingOnDisk(*path);
            if (containsSettings(library)) {
                return library;
            }
        }
    }
    return std::nullopt;
}

bool isBackupFolder(int folderFd)
{
    const auto entries = platform::listDirectory(folderFd);
    if (!entries) {
        return false;
    }
    for (const platform::DirEntry& entry : *entries) {
        if (entry.name == previousVersionsName) {
            if (!allBackupBundles(folderFd)) {
                return false;
            }
        } else if (!isBackupBundleName(entry.name)) {
            return false;
        }
    }
    return true;
}

bool isBackupFolder(const std::filesystem::path& folder)
{
    const platform::UniqueFd fd = platform::openDirectoryPath(folder.string());
    return fd && isBackupFolder(fd.get());
}

BackupMatch matchBackupFolder(int folderFd, const std::filesystem::path& bundle,
                              const std::optional<std::string>& libraryIdentifier,
                              const platform::BookmarkResolver& bookmarks)
{
    const auto entries = platform::listDirectory(folderFd);
    if (!entries) {
        return BackupMatch::noMatch;
    }
    const platform::DirEntry* first = nullptr;
    for (const platform::DirEntry& entry : *entries) {
        if (isBackupBundleName(entry.name)) {
            first = &entry;
            break;
        }
    }
    if (first == nullptr) {
        return BackupMatch::noMatch;
    }
    const platform::UniqueFd backupFd = platform::openDirectoryAt(folderFd, first->name.c_str());
    if (!backupFd) {
        return BackupMatch::noMatch;
    }
    // Paths and names from the record compare by canonical equivalence: a
    // record written on a Mac holds them decomposed, the library here may be
    // named in the composed form.
    const std::string bundlePath = model::normalizedName(normalizedPath(bundle));
    const auto samePath = [&bundlePath](const std::filesystem::path& path) {
        return model::normalizedName(normalizedPath(path)) == bundlePath;
    };

    std::optional<std::string> recordedName;
    if (const auto record =
            formats::readPropertyListDictionaryAt(backupFd.get(), backupRecordName)) {
        const auto originalURL = record->stringFor("originalURL");
        const auto originalPath =
            originalURL ? formats::pathFromFileURL(*originalURL) : std::nullopt;
        if (originalPath && samePath(*originalPath)) {
            return BackupMatch::byPath;
        }
        if (const auto* bookmark = record->dataFor("originalBookmark")) {
            if (const auto resolved = bookmarks.resolve(*bookmark);
                resolved && samePath(*resolved)) {
                return BackupMatch::byPath;
            }
        }
        if (originalPath) {
            recordedName = lastComponent(*originalPath);
        }
    }
    if (libraryIdentifier && analysis::libraryIdentifier(backupFd.get()) == libraryIdentifier) {
        return BackupMatch::byIdentifier;
    }
    if (recordedName && model::namesEqual(*recordedName, lastComponent(bundle))) {
        return BackupMatch::byName;
    }
    return BackupMatch::noMatch;
}

BackupMatch matchBackupFolder(const std::filesystem::path& folder,
                              const std::filesystem::path& bundle,
                              const std::optional<std::string>& libraryIdentifier,
                              const platform::BookmarkResolver& bookmarks)
{
    const platform::UniqueFd fd = platform::openDirectoryPath(folder.string());
    return fd ? matchBackupFolder(fd.get(), bundle, libraryIdentifier, bookmarks)
              : BackupMatch::noMatch;
}

} // namespace vellico::analysis
