#pragma once

#include <cstdint>

namespace vellico::model {

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

// True when two directories lie on different mounts: another device, or
// another mount of the same file system (a bind mount shares the device).
inline bool onOtherMount(const FileIdentity& child, const FileIdentity& parent)
{
    if (child.device != parent.device) {
        return true;
    }
    return child.mountId != 0 && parent.mountId != 0 && child.mountId != parent.mountId;
}

// True when both name the same directory, through whatever mount: device
// and inode alike (a bind mount shows the same directory under another
// mount id).
inline bool sameDirectory(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode;
}

} // namespace vellico::model
