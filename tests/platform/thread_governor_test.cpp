// How many threads a walk uses, decided round by round from what its
// threads measured: fed here with made-up rounds, so that every case is
// exact.

#include "platform/linux/walk/thread_governor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace vellico::platform::walk {
namespace {

using namespace std::chrono_literals;

enum class Threads { waiting, working };

// A round in which each of `threads` threads had one stretch (see below):
// asleep nearly all of it, each wait lasting `waitEach` (a request's round
// trip), or on the processor.
ThreadGovernor::Round round(int threads, std::chrono::microseconds waitEach, Threads how,
                            std::chrono::nanoseconds idle = 0ns)
{
    ThreadGovernor::Round r;
    r.stretches = threads;
    // A stretch lasts 10 ms, or the 8 steps between two checkpoints when
    // they take longer.
    const std::chrono::nanoseconds stretch =
        how == Threads::waiting ? std::max<std::chrono::nanoseconds>(10ms, 8 * waitEach) : 10ms;
    r.working = threads * stretch;
    r.cpu = threads * (how == Threads::waiting ? 500us : 9ms);
    r.sleeps = how == Threads::waiting ? (r.working - r.cpu) / waitEach : threads;
    r.waitedForWork = threads * idle;
    return r;
}

// Runs `rounds` rounds, each wait lasting `waitFor(threads)`; returns the
// numbers of threads one after the other.
std::vector<int> run(ThreadGovernor& governor, int rounds,
                     const std::function<std::chrono::microseconds(int)>& waitFor,
                     Threads how = Threads::waiting)
{
    std::vector<int> seen;
    for (int i = 0; i < rounds; ++i) {
        const int threads = governor.target();
        seen.push_back(governor.decide(round(threads, waitFor(threads), how)));
    }
    return seen;
}

// Each request waits as long however many are in flight.
std::chrono::microseconds roundTrip(int)
{
    return 1ms;
}

int most(const std::vector<int>& seen)
{
    return *std::max_element(seen.begin(), seen.end());
}

// Each request waits as long however many are in flight (a share behind a
// long link): the walk goes as fast as the threads, which grow to the limit
// and stay there.
TEST(ThreadGovernor, GrowsToTheLimitWhileEachRequestWaitsAsLongAsBefore)
{
    ThreadGovernor governor(2, 64);
    const std::vector<int> seen = run(governor, 30, roundTrip);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 64);
    // Four times as many at first, then twice as many while each wait stays
    // as it was: 8, 16, 32, 64.
    EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + 4), (std::vector<int>{8, 16, 32, 64}));
}

// Where each wait grows a little with the threads (a share whose server
// queues some), the walk still grows while that pays, in smaller steps past
// 16 threads.
TEST(ThreadGovernor, ClimbsInSmallerStepsOnceEachWaitGrows)
{
    ThreadGovernor governor(2, 64);
    // Each wait grows with the square root of the requests in flight.
    const std::vector<int> seen = run(governor, 7, [](int threads) {
        return std::chrono::microseconds(static_cast<long>(250 * std::sqrt(threads)));
    });
    EXPECT_EQ(seen, (std::vector<int>{8, 16, 24, 36, 54, 64, 64}));
}

// A server that answers one request at a time: more threads only wait
// longer each. The walk tries one step up, goes back, and tries again less
// and less often.
TEST(ThreadGovernor, GoesBackWhenMoreThreadsDoNotMakeTheWalkFaster)
{
    ThreadGovernor governor(2, 64);
    const std::vector<int> seen = run(governor, 200, [](int threads) { return threads * 500us; });
    // The first try quadruples; when that does not pay, twice as many are
    // tried at once, then the walk goes back; the later tries double.
    EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + 3), (std::vector<int>{8, 4, 2}));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 8), 1);
    EXPECT_EQ(most(std::vector<int>(seen.begin() + 1, seen.end())), 4);
    EXPECT_EQ(seen.back(), 2);
    const auto tries = std::count(seen.begin(), seen.end(), 4);
    EXPECT_GE(tries, 3);
    EXPECT_LE(tries, 10) << "tries again about once a second, not every other round";
}

// A link that carries 12 requests at once: the walk settles between 12 and
// the step above it, never far past.
TEST(ThreadGovernor, SettlesWhereTheLinkIsFull)
{
    ThreadGovernor governor(2, 64);
    const std::vector<int> seen =
        run(governor, 200, [](int threads) { return std::max(threads, 12) * 1000us / 12; });
    EXPECT_GE(seen.back(), 12);
    EXPECT_LE(seen.back(), 18);
    EXPECT_LE(most(seen), 27);
}

// Once the threads no longer wait (the rest is cached), the number shrinks
// back to the start, and no further.
TEST(ThreadGovernor, ShrinksBackToTheStartOnceTheThreadsNoLongerWait)
{
    ThreadGovernor governor(4, 64);
    run(governor, 30, roundTrip);
    ASSERT_EQ(governor.target(), 64);
    const std::vector<int> seen = run(governor, 30, roundTrip, Threads::working);
    EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));
    EXPECT_EQ(seen.back(), 4);

    // Waiting again: it grows again.
    run(governor, 30, roundTrip);
    EXPECT_EQ(governor.target(), 64);
}

// On a share the walk begins with many threads; it shrinks back to its
// start once they no longer wait, and a fixed number stays as it is.
TEST(ThreadGovernor, BeginsWhereAShareNeedsItAndStillShrinksToTheStart)
{
    ThreadGovernor governor(2, 64);
    governor.beginAt(16);
    EXPECT_EQ(governor.target(), 16);
    EXPECT_EQ(run(governor, 1, roundTrip).back(), 64);
    run(governor, 30, roundTrip, Threads::working);
    EXPECT_EQ(governor.target(), 2);

    ThreadGovernor narrow(2, 12);
    narrow.beginAt(16);
    EXPECT_EQ(narrow.target(), 12);

    ThreadGovernor fixed(4, 4);
    fixed.beginAt(16);
    EXPECT_EQ(fixed.target(), 4);
}

// Threads that work, or that find nothing to do (a narrow tree), are not
// joined by more; nor is a fixed number ever changed, nor a cap passed.
TEST(ThreadGovernor, GrowsOnlyWhileThreadsWaitOnRequestsWithinItsBounds)
{
    ThreadGovernor working(2, 64);
    EXPECT_EQ(most(run(working, 20, roundTrip, Threads::working)), 2);

    ThreadGovernor starved(2, 64);
    for (int i = 0; i < 20; ++i) {
        starved.decide(round(starved.target(), 1ms, Threads::waiting, 5ms));
    }
    EXPECT_EQ(starved.target(), 2);

    ThreadGovernor fixed(6, 6);
    EXPECT_TRUE(fixed.fixed());
    EXPECT_EQ(most(run(fixed, 20, roundTrip)), 6);

    ThreadGovernor capped(2, 64);
    run(capped, 4, roundTrip);
    capped.capAt(5); // no more threads could be started
    EXPECT_LE(capped.target(), 5);
    EXPECT_EQ(most(run(capped, 20, roundTrip)), 5);
}

} // namespace
} // namespace vellico::platform::walk
