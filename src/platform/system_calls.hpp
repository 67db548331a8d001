#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

// statx and struct statx come with <sys/stat.h> under _GNU_SOURCE (glibc 2.28+).

namespace vellico::platform {

// The system calls the tree walker, the deletion and the lock protocol make,
// behind one small interface so that tests can make a single call fail
// (unlinkat with EBUSY, openat with EACCES or EMFILE as root, getdents64 with
// EIO, flock refused on a read-only descriptor) or do something in the middle
// of a walk (swap a folder for a link right before it is opened). Each method has the contract of
// the system call it is named after: -1 and errno on failure. The default implementation calls the
// kernel and retries EINTR; nothing here retries anything else.
class SystemCalls {
public:
    virtual ~SystemCalls() = default;

    virtual int openat(int dirFd, const char* name, int flags, mode_t mode = 0);
    virtual int unlinkat(int dirFd, const char* name, int flags);
    virtual int statx(int dirFd, const char* name, int flags, unsigned int mask, struct statx* out);
    // Raw directory records (struct linux_dirent64) from the descriptor's
    // current offset; 0 at the end.
    virtual long getdents64(int fd, void* buffer, std::size_t size);
    virtual int flock(int fd, int operation);
};

// The implementation that goes straight to the kernel. Shared, stateless,
// usable from any thread.
SystemCalls& defaultSystemCalls();

} // namespace vellico::platform
