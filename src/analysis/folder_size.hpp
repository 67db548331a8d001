#pragma once

#include "platform/unique_fd.hpp"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace vellico::analysis {

// Deep size of a folder in logical bytes (the length of every regular file's
// content), as the editor's library sizes are shown:
// - names beginning with "." are neither counted nor entered;
// - symbolic links are never followed (a link counts nothing);
// - whatever cannot be read, or vanishes during the walk, counts 0 and the
//   walk goes on;
// - the walk is iterative: memory grows with the depth and with the width of
//   one directory, never with the number of files, and at most a fixed number
//   of descriptors are open whatever the depth.
// A path that does not name a readable directory measures 0. Links in the
// given path itself are followed (the caller chose it); nothing below is.
std::int64_t folderSize(const std::filesystem::path& folder);

// What a walk reports besides the size; both may be null.
struct SizeWalkOptions {
    // Raised by one for every regular file counted, so that another thread
    // can show how far a long walk has gone.
    std::atomic<std::uint64_t>* filesSeen = nullptr;
    // Receives, relative to the measured folder ("/" between components,
    // "." for the folder itself), every directory that could not be opened,
    // listed or searched (permission, I/O error). Such a directory counts 0
    // as above; entries that vanish or become links during the walk are not
    // named here.
    std::vector<std::string>* unreadable = nullptr;
};

// The same for an open directory; the descriptor is consumed.
std::int64_t folderSize(platform::UniqueFd directory, const SizeWalkOptions& options = {});

// The same, leaving out the subtrees named in `excluded`: relative paths of
// one or two components ("VideoSegmentationFiles", "Wedding/Render Files"),
// bytes as on disk, "/" between components. The library scan measures the
// rule folders on their own and the rest of the bundle with this, so that the
// bundle is walked once.
std::int64_t folderSizeExcluding(platform::UniqueFd directory,
                                 const std::set<std::string>& excluded,
                                 const SizeWalkOptions& options = {});

} // namespace vellico::analysis
