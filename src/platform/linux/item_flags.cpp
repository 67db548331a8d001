#include "platform/item_flags.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace vellico::platform {

bool LinuxItemFlags::isUserImmutable(const std::filesystem::path& item) const
{
    // statx reports the immutable attribute (chattr +i) without opening the
    // item, so a FIFO or a device can never block here. The mask tells
    // whether the file system reports the attribute at all; one that does
    // not has no such lock.
    struct statx stx {};
    if (::statx(AT_FDCWD, item.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS, &stx) != 0) {
        return false;
    }
    if ((stx.stx_attributes_mask & STATX_ATTR_IMMUTABLE) == 0) {
        return false;
    }
    return (stx.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
}

} // namespace vellico::platform
