#pragma once

#include "formats/property_list.hpp"
#include "platform/bookmark_resolver.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vellico::analysis {

// How a backup folder was tied to the analysed library. Only `noMatch`
// rejects the folder.
enum class BackupMatch { byPath, byIdentifier, byName, noMatch };

// True for a timed backup bundle's name, e.g. "20240315_1042_GMT+1.fcpbundle":
// eight digits, "_", four digits, "_GMT", a sign, one or two digits, and the
// extension, matched whole and case-sensitively.
bool isBackupBundleName(std::string_view name);

// A path in the form used to compare libraries with backup records: symbolic
// links resolved and names spelled as on disk (platform::spellingOnDisk), as far
// as the path exists; every "/" trimmed from both ends. Two such paths still
// compare by canonical equivalence, for the part that does not exist.
std::string normalizedPath(const std::filesystem::path& path);

// The library a backup's "__BackupInfo.plist" record was made from: the
// resolved "originalBookmark" when it holds a library (a "Settings.plist"),
// otherwise "originalURL" when it does (its names matched against the
// folders' entries by canonical equivalence, and returned as spelled on
// disk); none otherwise.
std::optional<std::filesystem::path>
originalLibraryURL(const formats::PlistValue& backupRecord,
                   const platform::BookmarkResolver& bookmarks);

// True when every non-hidden entry of the open folder `folderFd` is a backup
// bundle, or a "Previous Versions" folder holding only backup bundles (an
// empty or unreadable one passes; a link of that name does not). An empty
// folder is a backup folder; an unreadable one is not. Everything is reached
// from the descriptor, never through the folder's path again.
bool isBackupFolder(int folderFd);
// The same for a folder named by path (links in the path followed).
bool isBackupFolder(const std::filesystem::path& folder);

// Ties the open backup folder `folderFd` to a library by its first backup
// bundle (in listing order): by the recorded path or bookmark, then by the
// library identifier in the backup's database, then by the recorded file
// name. The backup bundle, its record and its database are reached from the
// descriptor.
BackupMatch matchBackupFolder(int folderFd, const std::filesystem::path& bundle,
                              const std::optional<std::string>& libraryIdentifier,
                              const platform::BookmarkResolver& bookmarks);
// The same for a folder named by path (links in the path followed).
BackupMatch matchBackupFolder(const std::filesystem::path& folder,
                              const std::filesystem::path& bundle,
                              const std::optional<std::string>& libraryIdentifier,
                              const platform::BookmarkResolver& bookmarks);

} // namespace vellico::analysis
