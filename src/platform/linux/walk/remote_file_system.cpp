#include "platform/linux/walk/remote_file_system.hpp"

#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace vellico::platform::walk {

namespace {

// f_type values from <linux/magic.h> and the file systems' own sources
// (some are not in the header).
constexpr std::array<std::uint32_t, 15> kRemoteTypes{
    0x6969,     // NFS
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2 and SMB3
    0x517B,     // SMB (the old client)
    0x5346414F, // AFS (OpenAFS)
    0x6B414653, // AFS (kAFS)
    0x73757245, // Coda
    0x00C36400, // Ceph
    0x01021997, // 9P
    0x65735546, // FUSE
    0x01161970, // GFS2
    0x0BD00BD0, // Lustre
    0x47504653, // GPFS
    0x7461636F, // OCFS2
    0x564C,     // NCP
};

} // namespace

bool onRemoteFileSystem(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) {
        return false;
    }
    const auto type = static_cast<std::uint32_t>(info.f_type);
    return std::find(kRemoteTypes.begin(), kRemoteTypes.end(), type) != kRemoteTypes.end();
}

} // namespace vellico::platform::walk
