#pragma once

#include "platform/alias_files.hpp"
#include "platform/bookmark_resolver.hpp"
#include "platform/item_flags.hpp"

#include <tl/expected.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The checks an item goes through before it is analysed, shared by the
// application and the command line. Each front end runs them in the same
// order and decides what to do between them: the application asks the user,
// the command line answers from its options. Plain blocking functions (the
// application runs them on a worker thread); none throws, and what cannot be
// read counts as absent, as the intake's rules want.
namespace vellico::analysis {

// Why an item is not taken in. `name` is the name the user message inserts:
// the dropped item's name without extension for `aliasUnresolvable`; the
// full last component for `missing`, and for `notALibrary` when the
// extension itself is wrong; the display name otherwise.
struct IntakeError {
    enum class Kind { missing, aliasUnresolvable, notALibrary, locked, backupWithoutOriginal };
    Kind kind;
    std::filesystem::path name;
};

// The catalogue key of the refusal's text; its %1 is `IntakeError::name`.
std::string_view messageKey(IntakeError::Kind kind);

// A library item that passed the first checks.
struct LibraryItem {
    std::filesystem::path url; // absolute; the alias's target when reached through one
    bool isFromAlias = false;
    std::string displayName; // last component of `url` without extension
};

// The first checks, in order: something exists at `item` (a dangling link
// counts as something); an alias or symbolic link is resolved to its target
// (`isFromAlias`); the extension is "fcpbundle" in any case; the library is
// not locked against changes.
tl::expected<LibraryItem, IntakeError> checkLibraryItem(const std::filesystem::path& item,
                                                        const platform::AliasFiles& aliases,
                                                        const platform::ItemFlags& flags);

// True when the extension of `path`'s last component is "fcpbundle" in any case.
bool hasLibraryExtension(const std::filesystem::path& path);

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
// "cacheFolderName", no "cacheLocation") or the cache folder exists (its
// name matched by canonical equivalence). When the "cacheLocation" bookmark
// resolves, the path is the resolved folder plus "cacheFolderName";
// otherwise the path stored in the bookmark plus the name, or the name alone
// when the bookmark holds no path.
std::optional<std::string> missingExternalCache(const std::filesystem::path& bundle,
                                                const platform::BookmarkResolver& bookmarks);

} // namespace vellico::analysis
