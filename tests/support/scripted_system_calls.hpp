#pragma once

#include "platform/system_calls.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vellico::test {

// System calls that pass through to the kernel unless a test scripts them:
// a hook may fail a call with an errno of its choice (or act on the disk
// first, then let the call go on), listings can lose their d_type, hide a
// name the first time or fail part-way, statx results can be altered, and
// every name opened or unlinked is recorded. Safe to use from the several
// threads of a walk (hooks are called under one lock).
class ScriptedSystemCalls : public platform::SystemCalls {
public:
    // Return an errno to make the call fail with it, or nothing to let it run.
    using Hook = std::function<std::optional<int>(int dirFd, const std::string& name, int flags)>;
    // `name` is the entry asked about, or for a descriptor (AT_EMPTY_PATH) the
    // name of what it refers to.
    using StatxHook = std::function<std::optional<int>(const std::string& name, struct statx& out)>;

    Hook onOpenat;
    Hook onUnlinkat;
    Hook onFlock;                   // name is empty; flags is the operation
    StatxHook onStatx;              // called after a successful statx
    bool unknownTypes = false;      // every listed entry reports DT_UNKNOWN
    std::set<std::string> hideOnce; // left out of the first listing that has them
    // Directories (by name) whose listing fails with the errno after its
    // first batch of records.
    std::map<std::string, int> failListing;

    std::vector<std::string> opened;
    std::vector<std::string> unlinked;

    int openat(int dirFd, const char* name, int flags, mode_t mode) override
    {
        {
            std::lock_guard lock(m_mutex);
            opened.emplace_back(name);
            if (onOpenat) {
                if (const std::optional<int> error = onOpenat(dirFd, name, flags)) {
                    errno = *error;
                    return -1;
                }
            }
        }
        const int fd = SystemCalls::openat(dirFd, name, flags, mode);
        if (fd >= 0) {
            std::lock_guard lock(m_mutex);
            m_batches.erase(fd);
        }
        return fd;
    }

    int statx(int dirFd, const char* name, int flags, unsigned int mask, struct statx* out) override
    {
        const int result = SystemCalls::statx(dirFd, name, flags, mask, out);
        std::lock_guard lock(m_mutex);
        if (result != 0 || !onStatx) {
            return result;
        }
        const bool ofDescriptor = (flags & AT_EMPTY_PATH) != 0 && name[0] == '\0';
        const std::string asked = ofDescriptor ? nameOf(dirFd) : std::string(name);
        if (const std::optional<int> error = onStatx(asked, *out)) {
            errno = *error;
            return -1;
        }
        return 0;
    }

    int unlinkat(int dirFd, const char* name, int flags) override
    {
        {
            std::lock_guard lock(m_mutex);
            unlinked.emplace_back(name);
            if (onUnlinkat) {
                if (const std::optional<int> error = onUnlinkat(dirFd, name, flags)) {
                    errno = *error;
                    return -1;
                }
            }
        }
        return SystemCalls::unlinkat(dirFd, name, flags);
    }

    int flock(int fd, int operation) override
    {
        std::lock_guard lock(m_mutex);
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
        std::lock_guard lock(m_mutex);
        const auto failing = failListing.find(nameOf(fd));
        if (failing != failListing.end() && m_batches[fd]++ > 0) {
            errno = failing->second;
            return -1;
        }
        const long n = SystemCalls::getdents64(fd, buffer, size);
        if (n <= 0) {
            return n;
        }
        // Rewrite the records in place, dropping hidden ones.
        char* base = static_cast<char*>(buffer);
        long read = 0;
        long written = 0;
        bool oneNameKept = false;
        while (read < n && !(failing != failListing.end() && oneNameKept)) {
            auto* record = reinterpret_cast<struct dirent64*>(base + read);
            const unsigned short length = record->d_reclen;
            const std::string name = record->d_name;
            const bool hide = hideOnce.erase(name) != 0;
            // A failing listing gives one name before its error.
            oneNameKept = oneNameKept || (!hide && name != "." && name != "..");
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
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const std::string& c : calls) {
            n += c == name ? 1 : 0;
        }
        return n;
    }

private:
    // The last component of the path the descriptor refers to now.
    static std::string nameOf(int fd)
    {
        std::error_code error;
        const auto path =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
        return error ? std::string() : path.filename().string();
    }

    mutable std::mutex m_mutex;
    std::map<int, int> m_batches; // descriptor → getdents64 calls since it was opened
};

} // namespace vellico::test
