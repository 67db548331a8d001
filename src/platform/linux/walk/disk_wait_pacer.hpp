#pragma once

#include <chrono>

namespace vellico::platform::walk {

// The processor time of the calling thread, and how often it went to sleep.
struct ThreadUsage {
    std::chrono::nanoseconds cpu{0};
    long sleeps = 0;
};

ThreadUsage threadUsage();

// Tells, for one walking thread, when it waits on the disk rather than works:
// over a stretch of at least 10 ms of work it spent less than half of it on
// the processor and went to sleep at least 4 times (a cold cache, a network
// volume). Another thread should then join the walk, since a disk serves many
// requests at once. The sleeps tell waiting from a processor taken away
// (other programs, a busy virtual machine host), when more threads would only
// add to the crowd. The clocks are read every 16 steps. Waits for work (an
// empty queue) are reported through waitedForWork() and left out.
class DiskWaitPacer {
public:
    DiskWaitPacer() { start(); }

    // Begins a new stretch.
    void start();

    // The thread slept `duration` over `waits` waits for work.
    void waitedForWork(std::chrono::nanoseconds duration, long waits)
    {
        m_waited += duration;
        m_waits += waits;
    }

    // One step of the walk: true every 16 steps, when the clocks may be read.
    bool checkpoint() { return ++m_steps % kSteps == 0; }

    // At a checkpoint: true when the thread spent most of the stretch asleep
    // on the disk. A stretch shorter than 10 ms goes on; a longer one ends
    // here and the next begins.
    bool waitingOnDisk();

private:
    static constexpr unsigned kSteps = 16;

    unsigned m_steps = 0;
    std::chrono::steady_clock::time_point m_since;
    ThreadUsage m_usageSince;
    std::chrono::nanoseconds m_waited{0};
    long m_waits = 0;
};

} // namespace vellico::platform::walk
