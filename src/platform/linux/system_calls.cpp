#include "platform/system_calls.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vellico::platform {

namespace {

template <typename Call> auto retryOnInterrupt(Call call)
{
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}

} // namespace

int SystemCalls::openat(int dirFd, const char* name, int flags, mode_t mode)
{
    return retryOnInterrupt([&] { return ::openat(dirFd, name, flags, mode); });
}

int SystemCalls::unlinkat(int dirFd, const char* name, int flags)
{
    return retryOnInterrupt([&] { return ::unlinkat(dirFd, name, flags); });
}

int SystemCalls::statx(int dirFd, const char* name, int flags, unsigned int mask, struct statx* out)
{
    return retryOnInterrupt([&] { return ::statx(dirFd, name, flags, mask, out); });
}

long SystemCalls::getdents64(int fd, void* buffer, std::size_t size)
{
    return retryOnInterrupt([&] { return static_cast<long>(::getdents64(fd, buffer, size)); });
}

int SystemCalls::flock(int fd, int operation)
{
    return retryOnInterrupt([&] { return ::flock(fd, operation); });
}

SystemCalls& defaultSystemCalls()
{
    static SystemCalls calls;
    return calls;
}

} // namespace vellico::platform
