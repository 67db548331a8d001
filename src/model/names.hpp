#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vellico::model {

// Folder names compare case-sensitively but with Unicode canonical
// equivalence: "Évènement" typed on Linux (NFC) equals the same name read
// from an HFS+ disk (NFD). Names that are not valid UTF-8 (names are bytes on
// Linux) are kept as they are and compare byte for byte.
std::string normalizedName(std::string_view name);

bool namesEqual(std::string_view a, std::string_view b);

// True when `name`, read from a library's files ("cacheFolderName",
// "backupFolderName", a name in a record), can be joined to a folder's path
// and still name something inside that folder: one path component, not empty,
// not "." or "..", without "/" or NUL. A name that fails is ignored by every
// caller: "/usr" or "../../.." would otherwise lead the analysis (and a
// deletion) anywhere on the machine.
bool isSinglePathComponent(std::string_view name);

// The name of the entry of the open directory `dirFd` that equals `name`
// by canonical equivalence: `name` itself when an entry has exactly that
// name, otherwise the first entry, in listing order, whose NFC form is
// `name`'s. A name read from a library file ("Cérémonie.fcpcache" composed)
// thus finds the entry the file system holds (decomposed when the folder
// came from an HFS+ disk). None when no entry matches, the directory cannot
// be listed, or `name` is not one path component (empty, ".", "..", or
// holding "/" or NUL).
std::optional<std::string> matchingEntryName(int dirFd, std::string_view name);

enum class EntryWanted {
    any,       // an entry of any type, links not followed
    directory, // a directory, a link to one followed
};

// `folder` joined with the entry `matchingEntryName` finds there, when it is
// of `type`; none otherwise. Links in `folder` itself are followed.
std::optional<std::filesystem::path> findDirectoryEntry(const std::filesystem::path& folder,
                                                        std::string_view name, EntryWanted type);

// `path` (absolute, or taken from the working directory) with each component
// that has no entry of exactly that name replaced by the entry
// `matchingEntryName` finds in its folder, as far as the path leads through
// existing folders (links followed); the components from the first one
// that matches nothing are kept as given. A path written on a Mac in one
// Unicode form thus reaches the folder stored here in the other.
std::filesystem::path spellingOnDisk(const std::filesystem::path& path);

} // namespace vellico::model
