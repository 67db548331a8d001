#include "platform/linux/walk/work_queue.hpp"

#include <chrono>

namespace vellico::platform::walk {

bool WorkQueue::waitForTurn(int index, DiskWaitPacer* pacer)
{
    if (index < m_target.load(std::memory_order_relaxed)) {
        return true; // take() tells whether the walk is over
    }
    std::unique_lock lock(m_mutex);
    const auto waitStart = std::chrono::steady_clock::now();
    long waits = 0;
    while (index >= m_target && !m_finished) {
        m_joined.wait(lock);
        ++waits;
    }
    if (pacer != nullptr) {
        pacer->waitedForWork(std::chrono::steady_clock::now() - waitStart, waits);
    }
    return !m_finished;
}

std::optional<Task> WorkQueue::take(DiskWaitPacer& pacer)
{
    std::unique_lock lock(m_mutex);
    if (m_queue.empty() && m_busy > 0) {
        const auto waitStart = std::chrono::steady_clock::now();
        long waits = 0;
        while (m_queue.empty() && m_busy > 0) {
            ++m_idle;
            if (m_parked > 0) {
                m_joined.notify_all(); // a parked thread may hand work over
            }
            m_wake.wait(lock);
            --m_idle;
            ++waits;
        }
        pacer.waitedForWork(std::chrono::steady_clock::now() - waitStart, waits);
    }
    if (m_queue.empty()) {
        m_finished = true;
        m_wake.notify_all();
        m_joined.notify_all();
        return std::nullopt;
    }
    Task task = std::move(m_queue.front());
    m_queue.pop_front();
    --m_queued;
    ++m_busy;
    return task;
}

void WorkQueue::finishTask()
{
    std::lock_guard lock(m_mutex);
    --m_busy;
    if (m_busy == 0 && m_queue.empty()) {
        m_wake.notify_all();
    }
}

void WorkQueue::push(Task task)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(task));
        ++m_queued;
    }
    m_wake.notify_one();
}

void WorkQueue::setTarget(int threads)
{
    {
        std::lock_guard lock(m_mutex);
        m_target = threads;
    }
    m_joined.notify_all();
}

void WorkQueue::park(int index, DiskWaitPacer& pacer)
{
    std::unique_lock lock(m_mutex);
    if (index < m_target || othersStarving()) {
        return;
    }
    const auto waitStart = std::chrono::steady_clock::now();
    long waits = 0;
    ++m_parked;
    // A parked thread is busy, so the walk cannot end meanwhile: it is woken
    // by the target or by an idle thread.
    while (index >= m_target && !othersStarving()) {
        m_joined.wait(lock);
        ++waits;
    }
    --m_parked;
    pacer.waitedForWork(std::chrono::steady_clock::now() - waitStart, waits);
}

} // namespace vellico::platform::walk
