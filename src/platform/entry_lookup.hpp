#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Finding a directory entry whatever the Unicode form of its name: a name
// read from a library file, or a path typed on a Mac, in one form reaches the
// entry stored on disk in the other. The comparison rule is the model's
// (model::namesEqual).
namespace vellico::platform {

// The name of the entry of the open directory `dirFd` that equals `name`
// by canonical equivalence: `name` itself when an entry has exactly that
// name, otherwise the entry whose NFC form is `name`'s (the smallest such
// name when several are, so the answer does not depend on the listing
// order). A name read from a library file ("Cérémonie.fcpcache" composed)
// thus finds the entry the file system holds (decomposed when the folder
// came from an HFS+ disk). None when no entry matches, the directory cannot
// be listed or holds more than 100,000 entries, or `name` is not one path
// component (empty, ".", "..", or holding "/" or NUL).
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

} // namespace vellico::platform
