#include "platform/walk_budget.hpp"

#include <algorithm>
#include <chrono>

namespace vellico::platform {

namespace {

// How often a waiting walk looks at its stop token.
constexpr std::chrono::milliseconds kStopCheck{50};

} // namespace

WalkBudget::WalkBudget(int threads, int perWalk)
    : m_threads(std::max(threads, 1)), m_perWalk(std::clamp(perWalk, 1, m_threads))
{}

int WalkBudget::inUse() const
{
    const std::lock_guard lock(m_mutex);
    return m_inUse;
}

int WalkBudget::peak() const
{
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

int WalkBudget::acquire(int wanted, const StopToken* stop)
{
    const int most = std::clamp(wanted, 1, m_perWalk);
    std::unique_lock lock(m_mutex);
    while (m_inUse >= m_threads) {
        if (stop != nullptr && stop->stopRequested()) {
            return 0;
        }
        // A stop request does not notify: the wait is bounded instead.
        m_freed.wait_for(lock, kStopCheck);
    }
    const int taken = std::min(most, m_threads - m_inUse);
    m_inUse += taken;
    m_peak = std::max(m_peak, m_inUse);
    return taken;
}

void WalkBudget::release(int count)
{
    {
        const std::lock_guard lock(m_mutex);
        m_inUse = std::max(m_inUse - count, 0);
    }
    m_freed.notify_all();
}

} // namespace vellico::platform
