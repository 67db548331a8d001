#pragma once

#include "platform/system_calls.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace vellico::test {

// Goes to the kernel, each call after a wait of its own, and notes how many
// calls were under way at once:
// - `network`: the thread sleeps `wait` (a share behind a slow link, where
//   every request is a round trip and the server takes many at once);
// - `oneServer`: the same, but the server answers one request at a time;
// - `processor`: the thread keeps the processor busy for `wait` (work, not
//   waiting: nothing to gain from more threads than cores).
class LatencyCalls : public platform::SystemCalls {
public:
    enum class Kind { network, oneServer, processor };

    LatencyCalls(Kind kind, std::chrono::microseconds wait) : m_kind(kind), m_wait(wait) {}

    // The most calls that were under way at the same time.
    int mostInFlight() const { return m_most.load(); }

    int openat(int dirFd, const char* name, int flags, mode_t mode) override
    {
        const InFlight call(*this);
        return SystemCalls::openat(dirFd, name, flags, mode);
    }
    int unlinkat(int dirFd, const char* name, int flags) override
    {
        const InFlight call(*this);
        return SystemCalls::unlinkat(dirFd, name, flags);
    }
    int statx(int dirFd, const char* name, int flags, unsigned int mask, struct statx* out) override
    {
        const InFlight call(*this);
        return SystemCalls::statx(dirFd, name, flags, mask, out);
    }
    long getdents64(int fd, void* buffer, std::size_t size) override
    {
        const InFlight call(*this);
        return SystemCalls::getdents64(fd, buffer, size);
    }

private:
    struct InFlight {
        explicit InFlight(LatencyCalls& calls) : m_calls(calls)
        {
            const int now = ++m_calls.m_inFlight;
            int most = m_calls.m_most.load();
            while (now > most && !m_calls.m_most.compare_exchange_weak(most, now)) {
            }
            m_calls.wait();
        }
        ~InFlight() { --m_calls.m_inFlight; }
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;

        LatencyCalls& m_calls;
    };

    void wait()
    {
        switch (m_kind) {
        case Kind::network:
            std::this_thread::sleep_for(m_wait);
            break;
        case Kind::oneServer: {
            // Served in turn, first come first served: the request is
            // answered once those before it are, `wait` after the last one.
            std::chrono::steady_clock::time_point answered;
            {
                const std::lock_guard lock(m_server);
                m_serverFree = std::max(m_serverFree, std::chrono::steady_clock::now()) + m_wait;
                answered = m_serverFree;
            }
            std::this_thread::sleep_until(answered);
            break;
        }
        case Kind::processor: {
            const auto until = std::chrono::steady_clock::now() + m_wait;
            while (std::chrono::steady_clock::now() < until) {
            }
            break;
        }
        }
    }

    const Kind m_kind;
    const std::chrono::microseconds m_wait;
    std::mutex m_server;
    std::chrono::steady_clock::time_point m_serverFree; // guarded by m_server
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_most{0};
};

} // namespace vellico::test
