#pragma once

#include "platform/system_calls.hpp"

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace vellico::test {

// Goes to the kernel, and notes which threads made the statx and unlinkat
// calls of the walk. The first listing waits a moment, so that every thread
// of the walk is started and waiting for work when the first directory is
// read: what it finds there can then be shared. With `fileWait`, each statx
// of a file also waits that long, as on a slow disk (no processor time).
class ThreadRecordingCalls : public platform::SystemCalls {
public:
    ThreadRecordingCalls() = default;
    explicit ThreadRecordingCalls(std::chrono::microseconds fileWait)
        : m_fileWait(fileWait), m_listed(true)
    {}

    std::size_t threadsSeen() const
    {
        std::lock_guard lock(m_mutex);
        return m_threads.size();
    }

    int statx(int dirFd, const char* name, int flags, unsigned int mask, struct statx* out) override
    {
        if (note(flags)) {
            std::this_thread::sleep_for(m_fileWait);
        }
        return SystemCalls::statx(dirFd, name, flags, mask, out);
    }

    int unlinkat(int dirFd, const char* name, int flags) override
    {
        (void)note(0);
        return SystemCalls::unlinkat(dirFd, name, flags);
    }

    long getdents64(int fd, void* buffer, std::size_t size) override
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_listed) {
                m_listed = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        return SystemCalls::getdents64(fd, buffer, size);
    }

private:
    bool note(int flags)
    {
        if ((flags & AT_EMPTY_PATH) != 0) {
            return false; // the identity of an open directory, not a file of it
        }
        std::lock_guard lock(m_mutex);
        m_threads.insert(std::this_thread::get_id());
        return true;
    }

    mutable std::mutex m_mutex;
    std::set<std::thread::id> m_threads;
    std::chrono::microseconds m_fileWait{0};
    bool m_listed = false;
};

} // namespace vellico::test
