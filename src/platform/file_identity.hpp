#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vellico::platform {

// What makes a directory "the same one" between the analysis and the deletion:
// device, inode and mount id (a bind mount of the same file system shares the
// device number but not the mount id). mountId is 0 when the kernel does not
// report one; two identities then compare on device and inode alone.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t mountId = 0;

    bool sameAs(const FileIdentity& other) const
    {
        if (device != other.device || inode != other.inode) {
            return false;
        }
        return mountId == 0 || other.mountId == 0 || mountId == other.mountId;
    }

    bool operator==(const FileIdentity&) const = default;
};

class SystemCalls;

// True when two directories lie on different mounts: another device, or
// another mount of the same file system (a bind mount shares the device).
inline bool onOtherMount(const FileIdentity& child, const FileIdentity& parent)
{
    if (child.device != parent.device) {
        return true;
    }
    return child.mountId != 0 && parent.mountId != 0 && child.mountId != parent.mountId;
}

// Identity of the object an open descriptor refers to; none when statx fails.
std::optional<FileIdentity> identityOf(int fd);
std::optional<FileIdentity> identityOf(SystemCalls& calls, int fd);

// Identity of `name` inside the directory `dirFd`, without following a final
// symbolic link; none when it cannot be read.
std::optional<FileIdentity> identityAt(int dirFd, const char* name);
std::optional<FileIdentity> identityAt(SystemCalls& calls, int dirFd, const char* name);

// The directories that hold the open directory `dirFd`, from its parent up to
// the root of this process's file-system tree, found by going up through ".."
// from the descriptor (never by path): each one's identity, nearest first.
// None when one of them cannot be opened or read, or past `maxDepth` levels.
std::optional<std::vector<FileIdentity>> ancestorsOf(int dirFd, std::size_t maxDepth = 4096);

// True when both name the same directory, through whatever mount: device
// and inode alike (a bind mount shows the same directory under another
// mount id).
inline bool sameDirectory(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode;
}

} // namespace vellico::platform
