#include "platform/item_flags.hpp"

#include "platform/unique_fd.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace vellico::platform {

bool LinuxItemFlags::isUserImmutable(const std::filesystem::path& item) const
{
    // O_NONBLOCK: a FIFO dropped on us must not block the open.
    UniqueFd fd(::open(item.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        return false;
    }
    int flags = 0;
    if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0) {
        return false; // file systems without inode flags: not locked
    }
    return (flags & FS_IMMUTABLE_FL) != 0;
}

} // namespace vellico::platform
