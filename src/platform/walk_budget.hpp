#pragma once

#include "platform/stop_token.hpp"

#include <condition_variable>
#include <mutex>

namespace vellico::platform {

// Walker threads shared by walks that run side by side, such as the search
// and the analyses of a batch: together they never run more than
// `threads()` threads, and one walk takes at most `perWalk()` of them, so
// that threads() / perWalk() walks run at full width at once. Each walk
// takes its threads when it starts and gives them back when it ends; it
// runs with what it got (no growth on a slow disk). The open directories
// follow the threads: each thread keeps its share of the descriptors the
// walker allows for threads() threads, so the walks together stay within
// one walk's bound.
//
// A walk that finds every thread taken waits for one, looking at its stop
// token. A walk started on a thread that holds threads of the same budget
// (a walk inside a walk on the caller's thread) does not wait: it runs on
// that thread alone. Thread-safe; must outlive every walk that uses it.
class WalkBudget {
public:
    // Both at least 1; `perWalk` at most `threads`.
    WalkBudget(int threads, int perWalk);

    int threads() const { return m_threads; }
    int perWalk() const { return m_perWalk; }
    // Threads taken now, and the most ever taken at once.
    int inUse() const;
    int peak() const;

    // Takes as many threads as are free, between 1 and min(wanted, perWalk),
    // waiting while none is. 0 when `stop` was requested first.
    int acquire(int wanted, const StopToken* stop);
    void release(int count);

private:
    const int m_threads;
    const int m_perWalk;
    mutable std::mutex m_mutex;
    std::condition_variable m_freed;
    int m_inUse = 0; // guarded by m_mutex
    int m_peak = 0;  // guarded by m_mutex
};

} // namespace vellico::platform
