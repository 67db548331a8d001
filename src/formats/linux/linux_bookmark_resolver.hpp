#pragma once

#include "platform/bookmark_resolver.hpp"
#include "platform/mount_table.hpp"

#include <memory>

namespace vellico::platform {

// Finds a Mac bookmark's target on this Linux machine.
//
// The stored path is used as it is when it exists here. Otherwise a target
// on a Mac volume (/Volumes/<Name>/…) is looked for on each mounted volume
// whose directory is named like the volume: the volume name stored in the
// bookmark, or the last component of its mount point (a second "Archive"
// was "/Volumes/Archive 1" on the Mac). Names compare after Unicode NFC
// normalisation, since HFS+ stores them decomposed; a path component that is
// missing as written is looked for the same way. The first candidate that
// exists wins. A target on the Mac's startup disk, or one whose volume is
// not mounted, does not resolve.
//
// Lookups only read the file system. Safe to call from any thread as long as
// the mount table is.
class LinuxBookmarkResolver final : public BookmarkResolver {
public:
    // Uses this machine's mount table (/proc/self/mountinfo).
    LinuxBookmarkResolver();
    explicit LinuxBookmarkResolver(std::shared_ptr<const MountTable> mounts);

    std::optional<std::filesystem::path>
    resolve(std::span<const std::uint8_t> bookmark) const override;

    std::optional<std::filesystem::path>
    storedPath(std::span<const std::uint8_t> bookmark) const override;

private:
    std::shared_ptr<const MountTable> m_mounts;
};

} // namespace vellico::platform
