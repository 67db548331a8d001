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
// and which threads take part: those whose index is below target(). The
// others wait, between tasks or parked in the middle of one (see park()).
// The walk is over when the queue is empty and no thread is busy with a task
// that could add to it.
class WorkQueue {
public:
    explicit WorkQueue(int target) : m_target(target) {}

    // Thread `index` waits until it takes part; false when the walk ended
    // first. The time goes to `pacer`, when given, as a wait for work.
    bool waitForTurn(int index, DiskWaitPacer* pacer);

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

    int target() const { return m_target.load(std::memory_order_relaxed); }

    // From now on, threads [0, threads) take part.
    void setTarget(int threads);

    // Thread `index`, in the middle of a task, waits while its index is not
    // below target(), keeping what it holds. It goes on as soon as another
    // thread waits for work (so that it can hand over some of its own: a
    // parked thread never holds up the walk) or the target grows again. The
    // time goes to `pacer`, as a wait for work.
    void park(int index, DiskWaitPacer& pacer);

private:
    bool othersStarving() const { return m_idle.load() > m_queued.load(); }

    std::atomic<int> m_target; // changed under m_mutex

    std::mutex m_mutex;
    std::condition_variable m_wake;   // work queued, or the walk is done
    std::condition_variable m_joined; // the target grew, a thread went idle, or the walk is done
    bool m_finished = false;          // guarded by m_mutex
    std::deque<Task> m_queue;         // guarded by m_mutex
    int m_busy = 0;                   // guarded by m_mutex
    int m_parked = 0;                 // guarded by m_mutex
    std::atomic<int> m_idle{0};       // changed under m_mutex
    std::atomic<int> m_queued{0};     // changed under m_mutex
};

} // namespace vellico::platform::walk
