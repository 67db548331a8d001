#pragma once

#include "platform/file_identity.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::analysis {

// Deep size of a folder in logical bytes (the length of every regular file's
// content), as the editor's library sizes are shown:
// - names beginning with "." are neither counted nor entered;
// - symbolic links are never followed (a link counts nothing);
// - another mount below the folder counts 0 and is never entered;
// - whatever cannot be read, or vanishes during the walk, counts 0 and the
//   walk goes on;
// - a walk stopped through `control.stop` returns what it counted so far.
// The walk is shared by `control.jobs` threads; see platform::walkTrees for
// its memory and descriptor bounds. A path that does not name a readable
// directory measures 0. Links in the given path itself are followed (the
// caller chose it); nothing below is.
std::int64_t folderSize(const std::filesystem::path& folder,
                        const platform::WalkControl& control = {});

// The same for an open directory, read from its current offset; the
// descriptor is consumed.
std::int64_t folderSize(platform::UniqueFd directory, const platform::WalkControl& control = {});

// A subfolder measured within a larger walk.
struct SubfolderSize {
    std::int64_t size = 0;
    // Taken from the very directory that was measured; none when the walk
    // did not enter it (vanished, unreadable, another mount, hidden).
    std::optional<model::FileIdentity> identity;
};

// A directory a walk could not read: relative to the tree, and the system's
// error number (0: the walk stopped because the folder moved).
struct UnreadableEntry {
    std::string path;
    int error = 0;

    bool operator==(const UnreadableEntry&) const = default;
};

// Why a folder counts as unreadable when the system gave no error: the walk
// stopped there because the folder moved while it was measured.
inline constexpr std::string_view movedWhileMeasuredKey = "déplacé pendant la mesure";

struct TreeSizes {
    std::int64_t total = 0;                // the whole tree, subfolders included
    std::vector<SubfolderSize> subfolders; // in the order asked for
    // Directories that could not be opened, listed or searched (permission,
    // I/O error), and those where the walk stopped because a folder moved
    // while it was measured: they count 0. Relative to the tree ("/" between
    // components, "." for the tree itself), sorted. Entries that vanish or
    // turn into links during the walk, and other mounts, are not named here.
    std::vector<UnreadableEntry> unreadable;
};

// Measures a tree and some of its subfolders in one walk, so that every file
// is read once and the total equals a separate measurement of the whole.
// `subfolders` are relative paths of one or two components
// ("VideoSegmentationFiles", "Wedding/Render Files"), bytes as on disk, "/"
// between components; a subfolder inside another listed one counts for the
// outer one only. `entering`, when set, is told the index of each listed
// subfolder as the walk enters it, on the walk's threads (several may call
// at once). A listed subfolder whose index is true in `unwalked` is not
// entered: its identity is taken, its size is 0, and the total leaves it out
// (for a caller that learns its size another way).
TreeSizes measureTree(platform::UniqueFd directory, const std::vector<std::string>& subfolders,
                      const platform::WalkControl& control = {},
                      const std::function<void(std::size_t)>& entering = {},
                      const std::vector<bool>& unwalked = {});

} // namespace vellico::analysis
