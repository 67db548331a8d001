#pragma once

#include "platform/bookmark_resolver.hpp"

#include <filesystem>
#include <optional>
#include <string>

// The file-system checks of the intake that need no question to the user.
// Plain blocking functions: the view model runs them on a worker thread.
// None of them throws or reports an error: what cannot be read counts as
// absent, as the intake's rules want.
namespace vellico::viewmodel {

// True when both "Settings.plist" and "CurrentVersion.flexolibrary" exist
// in the bundle (files or folders alike; links followed).
bool hasLibraryFiles(const std::filesystem::path& bundle);

// A backup bundle and the library it was made from.
struct BackupCheck {
    bool isBackup = false;                         // "__BackupInfo.plist" exists
    std::optional<std::filesystem::path> original; // none: unreadable record or no original on disk
};
BackupCheck checkBackup(const std::filesystem::path& bundle,
                        const platform::BookmarkResolver& bookmarks);

// Where the library's external cache should be when it is not there; none
// when the library has no external cache (unreadable settings, no or empty
// "cacheFolderName", no "cacheLocation") or the cache folder exists. When
// the "cacheLocation" bookmark resolves, the path is the resolved folder
// plus "cacheFolderName"; otherwise the path stored in the bookmark plus the
// name, or the name alone when the bookmark holds no path.
std::optional<std::string> missingExternalCache(const std::filesystem::path& bundle,
                                                const platform::BookmarkResolver& bookmarks);

} // namespace vellico::viewmodel
