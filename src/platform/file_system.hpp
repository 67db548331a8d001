#pragma once

#include "platform/system_calls.hpp"
#include "platform/unique_fd.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <tl/expected.hpp>

// Small fd-relative helpers over the Linux file-system calls. Every open here
// uses O_CLOEXEC and never follows a symbolic link in the last component, so a
// caller that reaches a tree one component at a time from an open directory
// never leaves it. Names are bytes and pass unchanged to the system.
namespace vellico::platform {

enum class EntryType { directory, regular, symlink, other, unknown };

struct DirEntry {
    std::string name;
    EntryType type = EntryType::unknown; // from d_type; `unknown` on NFS, overlayfs, FUSE…
};

// Opens `name` inside `dirFd` (AT_FDCWD for a path) as a directory, refusing a
// symbolic link (ELOOP) and anything that is not a directory (ENOTDIR).
// Invalid fd on failure, with errno set.
UniqueFd openDirectoryAt(int dirFd, const char* name);

// Opens a directory by path, following links in the path, for the roots the
// user named (a backup folder reached through the Movies folder, a cache).
UniqueFd openDirectoryPath(const std::string& path);

// Reads every entry of the directory `dirFd` (the descriptor is not consumed),
// skipping "." and "..". With `skipHidden`, names beginning with "." are left
// out. The system's error number when the directory cannot be read; a
// listing cut short by an error mid-way is also an error, so callers never
// act on half a directory.
tl::expected<std::vector<DirEntry>, int> listDirectory(int dirFd, bool skipHidden = true,
                                                       SystemCalls& calls = defaultSystemCalls());

// The entry's type, asking the file system when d_type said `unknown`; does
// not follow links. `unknown` when the entry has vanished or cannot be read.
EntryType resolvedType(int dirFd, const DirEntry& entry);

// Type of `name` in `dirFd` by fstatat without following links; none when it
// does not exist or cannot be read.
std::optional<EntryType> typeAt(int dirFd, const char* name);

// Opens the regular file `name` in `dirFd` with `flags` (an access mode, plus
// any O_ flags; O_NOFOLLOW, O_NONBLOCK, O_NOCTTY and O_CLOEXEC are always
// added), its type checked *before* it is opened: a device node, FIFO or
// socket planted under that name is never opened (opening a device acts on
// it), a symbolic link never followed. The check and the open concern one
// inode: an O_PATH descriptor is checked, then reopened through /proc; where
// /proc is missing, the name is checked, opened, and the open refused unless
// it is the inode checked. Invalid fd on failure, errno set: ENOENT missing,
// ELOOP a link, EISDIR a directory, ENXIO anything else that is not a regular
// file, or the open's own error.
UniqueFd openRegularFileAt(int dirFd, const char* name, int flags);

// The second half of openRegularFileAt, for a caller that made the O_PATH
// open itself (through a seam of its own): checks `pathFd`, the O_PATH
// descriptor of `name` in `dirFd` opened without following a link, and opens
// that inode with `flags`. Same results and errors.
UniqueFd reopenRegularFile(int pathFd, int dirFd, const char* name, int flags);

// Reads a whole regular file `name` in `dirFd` (no link followed, FIFOs and
// devices refused without blocking). None when it cannot be read, is not a
// regular file, or is larger than `maxBytes`.
std::optional<std::vector<std::uint8_t>> readRegularFileAt(int dirFd, const char* name,
                                                           std::size_t maxBytes);

// The same for a file named by its path, links followed (a configuration
// file such as /etc/os-release is often a link); still non-blocking, so a
// FIFO or a device is refused without waiting.
std::optional<std::vector<std::uint8_t>> readRegularFile(const std::filesystem::path& path,
                                                         std::size_t maxBytes);

// `path` without the "/" characters that end it ("/" itself stays), so that
// its last component is the folder's name: "Film.fcpbundle/" names
// "Film.fcpbundle".
std::filesystem::path withoutTrailingSlashes(const std::filesystem::path& path);

// True when `name` exists in `dirFd` (any type, links not followed).
bool existsAt(int dirFd, const char* name);

} // namespace vellico::platform
