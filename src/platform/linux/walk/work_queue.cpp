#include "platform/linux/walk/work_queue.hpp"

#include <chrono>

namespace vellico::platform::walk {

bool WorkQueue::waitForTurn(int index)
{
    std::unique_lock lock(m_mutex);
    m_joined.wait(lock, [&] { return index < m_active || m_finished; });
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

void WorkQueue::addThread()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_active < m_threads) {
            ++m_active;
        }
    }
    m_joined.notify_all();
}

} // namespace vellico::platform::walk
