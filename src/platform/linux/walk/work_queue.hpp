#pragma once

#include "platform/linux/walk/disk_wait_pacer.hpp"
#include "platform/linux/walk/walk_nodes.hpp"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace vellico::platform::walk {

// The work the walking threads share (directories to walk, batches of files)
// and the threads that take part: the first ones at once, more as the walk
// asks for them (see DiskWaitPacer), up to a limit. The walk is over when the
// queue is empty and no thread is busy with a task that could add to it.
class WorkQueue {
public:
    WorkQueue(int threadLimit, int active) : m_threads(threadLimit), m_active(active) {}

    // Thread `index` waits until it takes part; false when the walk ended
    // first.
    bool waitForTurn(int index);

    // The next task for a thread, waiting while the queue is empty and other
    // threads are busy (the time goes to `pacer`, as a wait for work). None
    // when the walk is over; every thread is then woken to see it.
    std::optional<Task> take(DiskWaitPacer& pacer);

    // The task taken last by this thread is done.
    void finishTask();

    void push(Task task);

    // True when a thread waits for work that the queue does not hold yet.
    bool shareWanted() const
    {
        return m_idle.load(std::memory_order_relaxed) > m_queued.load(std::memory_order_relaxed);
    }

    // True while fewer threads take part than may.
    bool mayGrow() const { return m_active.load(std::memory_order_relaxed) < m_threads; }

    // One more thread takes part, up to the limit.
    void addThread();

    int threadLimit() const { return m_threads; }

private:
    const int m_threads;       // started, at most
    std::atomic<int> m_active; // taking part; grows, changed under m_mutex

    std::mutex m_mutex;
    std::condition_variable m_wake;   // work queued, or the walk is done
    std::condition_variable m_joined; // m_active grew, or the walk is done
    bool m_finished = false;          // guarded by m_mutex
    std::deque<Task> m_queue;         // guarded by m_mutex
    int m_busy = 0;                   // guarded by m_mutex
    std::atomic<int> m_idle{0};
    std::atomic<int> m_queued{0};
};

} // namespace vellico::platform::walk
