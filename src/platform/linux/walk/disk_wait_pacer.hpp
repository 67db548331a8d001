#pragma once

#include <chrono>
#include <optional>

namespace vellico::platform::walk {

// The processor time of the calling thread, and how often it went to sleep.
struct ThreadUsage {
    std::chrono::nanoseconds cpu{0};
    long sleeps = 0;
};

ThreadUsage threadUsage();

// What one walking thread did over a stretch of its work.
struct Stretch {
    std::chrono::steady_clock::time_point began;
    // Time spent on the walk: on the processor, asleep on the disk or the
    // network, or waiting for a processor. Waits for work are left out.
    std::chrono::nanoseconds working{0};
    std::chrono::nanoseconds cpu{0};           // of `working`, on the processor
    std::chrono::nanoseconds waitedForWork{0}; // asleep on an empty queue, or parked
    long sleeps = 0;                           // times asleep, waits for work left out
};

// Measures, for one walking thread, how its time goes: over stretches of at
// least 10 ms of work, the share spent on the processor and how often it
// went to sleep. Sleeps tell waiting on the disk or the network from a
// processor taken away (other programs, a busy virtual machine host). The
// clocks are read every 8 steps. Waits for work (an empty queue) are
// reported through waitedForWork() and kept apart.
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

    // One step of the walk: true every 8 steps, when the clocks may be read.
    bool checkpoint() { return ++m_steps % kSteps == 0; }

    // At a checkpoint: the stretch that ends here, when it holds at least
    // 10 ms of work (the next one then begins); none while it goes on.
    std::optional<Stretch> stretchEnded();

private:
    static constexpr unsigned kSteps = 8;

    unsigned m_steps = 0;
    std::chrono::steady_clock::time_point m_since;
    ThreadUsage m_usageSince;
    std::chrono::nanoseconds m_waited{0};
    long m_waits = 0;
};

} // namespace vellico::platform::walk
