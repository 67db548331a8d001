#pragma once

#include <atomic>

namespace vellico::platform {

// A request to stop a long piece of work (a walk, a deletion), shared between
// the thread that asks and the threads that do the work. Asking is a single
// lock-free store, so a signal handler may call requestStop(). Work that sees
// the request finishes the system call it is in and stops; what it leaves
// undone is simply not done.
class StopToken {
public:
    void requestStop() noexcept { m_stop.store(true, std::memory_order_relaxed); }
    bool stopRequested() const noexcept { return m_stop.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_stop{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace vellico::platform
