#pragma once

#include "platform/linux/walk/disk_wait_pacer.hpp"

#include <atomic>
#include <chrono>
#include <mutex>

namespace vellico::platform::walk {

// The most threads one walk ever has.
constexpr int kMaxWalkThreads = 64;

// How many threads the machine lets a walk grow to: 64, fewer when the
// open-file limit (RLIMIT_NOFILE) would leave each thread fewer than four
// open levels (see DescriptorBudget), or when memory is short (about 16 MiB
// of available memory per thread, so that the threads' buffers and stacks
// stay a small part of it). At least 1.
int machineThreadCeiling();

// Decides how many threads take part in a walk whose number is not fixed.
//
// The walk begins with `start` threads. While they spend most of their time
// asleep (on the disk or the network: few processor cycles, many sleeps)
// and rarely wait for work, more join (four times as many the first time,
// then twice as many below 16 threads or while each wait stays as it was,
// half as many again otherwise), and the next round tells whether that
// helped (when four times as many did not, twice as many are tried at once):
// when each wait lasted about as long as before
// with more requests in flight (a network share: the round trip bounds each
// request, not the server), the walk goes faster in proportion and goes on
// growing, up to `limit`. When each wait grew with the threads added (the
// device or the link is full: the requests only queue), it goes back to the
// number before and tries again later, less and less often. Once the
// threads no longer wait (the data is cached, the processor is the bound),
// the number shrinks back towards `start`.
//
// A round lasts at least 10 ms and 32 waits (at most 500 ms with fewer),
// and counts only the stretches begun since the number last changed. Any
// walking thread may report; one at a time closes a round.
class ThreadGovernor {
public:
    using Clock = std::chrono::steady_clock;

    ThreadGovernor(int start, int limit);

    // True when the number of threads never changes (`start` == `limit`):
    // nothing needs measuring.
    bool fixed() const { return m_fixed; }
    int start() const { return m_start; }

    // The threads that should take part now.
    int target() const { return m_target.load(std::memory_order_relaxed); }

    // A thread's stretch of work ended at `now`. True when it closed a round
    // and target() changed.
    bool stretchEnded(const Stretch& stretch, Clock::time_point now);

    // Only `threads` threads could be started: the walk stays at or below it.
    void capAt(int threads);

    // Before the walk starts: it begins with `threads` threads (within
    // start() and the limit) rather than start(), where many are known to
    // pay (a network share); it still shrinks back to start() once the
    // threads no longer wait.
    void beginAt(int threads);

    // What the threads did over one round, all together.
    struct Round {
        std::chrono::nanoseconds working{0};
        std::chrono::nanoseconds cpu{0};
        std::chrono::nanoseconds waitedForWork{0};
        long sleeps = 0;
        int stretches = 0; // the stretches summed up
    };

    // The decision at the end of a round; returns the new target(). Called
    // with the lock held by stretchEnded(), and directly by tests.
    int decide(const Round& round);

private:
    int setTarget(int threads);

    const int m_start;
    const bool m_fixed;
    std::atomic<int> m_target;

    std::mutex m_mutex; // guards everything below
    int m_limit;
    Round m_round;
    Clock::time_point m_roundStart;
    Clock::time_point m_changedAt; // when target() last changed
    int m_probeFrom = 0;           // the target before the growth under test; 0: none
    double m_waitBefore = 0;       // seconds each wait lasted before it
    double m_levelWaited = 0;      // seconds waited since the number last changed
    long m_levelSleeps = 0;        // and the waits
    int m_pause = 0;               // rounds to let pass before growing again
    int m_backoff = 0;             // the pause after the next growth that does not help
    int m_calmRounds = 0;          // rounds in a row without waiting
    std::chrono::duration<double> m_lastWaitEach{0}; // each wait, in the last round
    bool m_grown = false;                            // the walk has grown once
    bool m_waitSteady = false;                       // the last growth left each wait as it was
};

} // namespace vellico::platform::walk
