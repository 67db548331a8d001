#pragma once

#include "cleanup/system_calls.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vellico::test {

// System calls that pass through to the kernel unless a test scripts them:
// a hook may fail a call with an errno of its choice (or act on the disk
// first, then let the call go on), listings can lose their d_type or hide a
// name the first time, and every name opened or unlinked is recorded.
class ScriptedSystemCalls : public cleanup::SystemCalls {
public:
    // Return an errno to make the call fail with it, or nothing to let it run.
    using Hook = std::function<std::optional<int>(int dirFd, const std::string& name, int flags)>;

    Hook onOpenat;
    Hook onUnlinkat;
    Hook onFlock;                   // name is empty; flags is the operation
    bool unknownTypes = false;      // every listed entry reports DT_UNKNOWN
    std::set<std::string> hideOnce; // left out of the first listing that has them

    std::vector<std::string> opened;
    std::vector<std::string> unlinked;

    int openat(int dirFd, const char* name, int flags, mode_t mode) override
    {
        opened.emplace_back(name);
        if (onOpenat) {
            if (const std::optional<int> error = onOpenat(dirFd, name, flags)) {
                errno = *error;
                return -1;
            }
        }
        return SystemCalls::openat(dirFd, name, flags, mode);
    }

    int unlinkat(int dirFd, const char* name, int flags) override
    {
        unlinked.emplace_back(name);
        if (onUnlinkat) {
            if (const std::optional<int> error = onUnlinkat(dirFd, name, flags)) {
                errno = *error;
                return -1;
            }
        }
        return SystemCalls::unlinkat(dirFd, name, flags);
    }

    int flock(int fd, int operation) override
    {
        if (onFlock) {
            if (const std::optional<int> error = onFlock(fd, {}, operation)) {
                errno = *error;
                return -1;
            }
        }
        return SystemCalls::flock(fd, operation);
    }

    long getdents64(int fd, void* buffer, std::size_t size) override
    {
        const long n = SystemCalls::getdents64(fd, buffer, size);
        if (n <= 0) {
            return n;
        }
        // Rewrite the records in place, dropping hidden ones.
        char* base = static_cast<char*>(buffer);
        long read = 0;
        long written = 0;
        while (read < n) {
            auto* record = reinterpret_cast<struct dirent64*>(base + read);
            const unsigned short length = record->d_reclen;
            const std::string name = record->d_name;
            const bool hide = hideOnce.erase(name) != 0;
            if (!hide) {
                if (unknownTypes) {
                    record->d_type = DT_UNKNOWN;
                }
                if (written != read) {
                    std::memmove(base + written, base + read, length);
                }
                written += length;
            }
            read += length;
        }
        return written;
    }

    int count(const std::vector<std::string>& calls, const std::string& name) const
    {
        int n = 0;
        for (const std::string& c : calls) {
            n += c == name ? 1 : 0;
        }
        return n;
    }
};

} // namespace vellico::test
