#include "platform/linux/walk/thread_governor.hpp"

#include <sys/resource.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdio>

namespace vellico::platform::walk {

namespace {

// Open levels each thread keeps at least, when the open-file limit decides
// how many threads there may be (a quarter of the limit goes to the walk).
constexpr std::uint64_t kLevelsPerGrownThread = 4;
constexpr std::uint64_t kMemoryPerThread = std::uint64_t{16} << 20;

constexpr std::chrono::milliseconds kRound{10};
constexpr std::chrono::milliseconds kLongestRound{500};
constexpr long kRoundSleeps = 32;

// Below this many threads a growth doubles them, above it adds half: a
// walk on a share reaches its pace in a few rounds, and past the point
// where the link may fill, it climbs in smaller steps. The first growth of
// a walk quadruples them, and above the line a growth still doubles them
// while the last one left each wait as it was (within kSteadyWait): on a
// share behind a long link the walk reaches its pace in four rounds, not
// seven, and the first growth that fills the link ends the long strides.
constexpr int kDoublingBelow = 16;
constexpr int kFirstGrowth = 4;
constexpr double kSteadyWait = 0.2;

// Asleep at least this often per stretch (of at least 10 ms): waiting on
// the disk or the network, not on a processor taken away.
constexpr long kSleepsPerStretch = 4;

// A growth helped when each wait grew by less than this share of the
// threads added: where the waits stay as they were, the walk goes faster in
// proportion; where they grow in proportion (a full link, a device with a
// queue), it goes no faster.
constexpr double kRiseAllowed = 0.5;

// Rounds before growing again after a growth that did not help: the first
// pause, doubled each time, up to the last (a second or so).
constexpr int kFirstPause = 4;
constexpr int kLongestPause = 64;

// Requests a thread may still make once it is no longer wanted: the
// steps between two checkpoints of the walk. The stretches begun over that
// long after a change are left out, up to kLongestSettle.
constexpr int kStepsPerCheckpoint = 8;
constexpr std::chrono::milliseconds kLongestSettle{100};

// Rounds in a row without waiting before the number shrinks.
constexpr int kCalmRoundsBeforeShrinking = 2;

// Available memory (MemAvailable, which counts the page cache that can be
// given back), in bytes; 0 when unknown.
std::uint64_t availableMemory()
{
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "re")) {
        char line[128];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, meminfo) != nullptr) {
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        }
        std::fclose(meminfo);
        if (found) {
            return static_cast<std::uint64_t>(kib) * 1024;
        }
    }
    struct sysinfo info {};
    if (::sysinfo(&info) == 0) {
        return (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
    }
    return 0;
}

} // namespace

int machineThreadCeiling()
{
    std::uint64_t ceiling = kMaxWalkThreads;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        ceiling = std::min<std::uint64_t>(ceiling, files.rlim_cur / 4 / kLevelsPerGrownThread);
    }
    if (const std::uint64_t memory = availableMemory(); memory > 0) {
        ceiling = std::min(ceiling, memory / kMemoryPerThread);
    }
    return static_cast<int>(std::max<std::uint64_t>(ceiling, 1));
}

ThreadGovernor::ThreadGovernor(int start, int limit)
    : m_start(std::max(start, 1)), m_fixed(std::max(limit, 1) <= m_start), m_target(m_start),
      m_limit(std::clamp(limit, m_start, kMaxWalkThreads)), m_roundStart(Clock::now()),
      m_changedAt(m_roundStart), m_backoff(kFirstPause)
{}

bool ThreadGovernor::stretchEnded(const Stretch& stretch, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (stretch.began < m_changedAt) {
        // Begun with another number of threads: it would blur the
        // comparison of before and after.
        return false;
    }
    m_round.working += stretch.working;
    m_round.cpu += stretch.cpu;
    m_round.waitedForWork += stretch.waitedForWork;
    m_round.sleeps += stretch.sleeps;
    ++m_round.stretches;
    const auto length = now - m_roundStart;
    // Every thread is heard from: the stretches that end first are those
    // whose requests were answered soonest, and a queue at the server takes
    // a while to fill after the threads grew.
    const bool heard = m_round.sleeps >= kRoundSleeps && m_round.stretches >= target();
    if (length < kRound || (!heard && length < kLongestRound)) {
        return false;
    }
    const int before = target();
    const int after = decide(m_round);
    m_round = {};
    m_roundStart = now;
    if (after == before) {
        return false;
    }
    // Threads let go finish the few requests they are in (up to a
    // checkpoint) before they stop, and their requests still fill the
    // server's queue: stretches begun meanwhile would measure the number of
    // threads before.
    m_changedAt = now + std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(
                                                      kStepsPerCheckpoint * m_lastWaitEach),
                                                  kLongestSettle);
    return true;
}

void ThreadGovernor::capAt(int threads)
{
    std::lock_guard lock(m_mutex);
    m_limit = std::clamp(threads, 1, m_limit);
    m_probeFrom = 0;
    m_changedAt = Clock::now();
    setTarget(std::min(target(), m_limit));
}

void ThreadGovernor::beginAt(int threads)
{
    std::lock_guard lock(m_mutex);
    if (!m_fixed) {
        setTarget(std::clamp(threads, m_start, m_limit));
    }
}

int ThreadGovernor::decide(const Round& round)
{
    const int now = target();
    if (m_fixed || round.stretches == 0) {
        return now;
    }
    const bool waiting =
        2 * round.cpu < round.working && round.sleeps >= kSleepsPerStretch * round.stretches;
    // How long each wait lasted, on average: a request's round trip. Over
    // every round since the number last changed, for the number as it is.
    const double waited = std::chrono::duration<double>(round.working - round.cpu).count();
    const double waitEach = waited / static_cast<double>(std::max(round.sleeps, 1L));
    m_lastWaitEach = std::chrono::duration<double>(waitEach);
    m_levelWaited += waited;
    m_levelSleeps += round.sleeps;
    const double levelWaitEach = m_levelWaited / static_cast<double>(std::max(m_levelSleeps, 1L));
    // Threads that found nothing to do a fifth of the time or more: the
    // tree, not the threads, bounds the walk here.
    const bool starved = 4 * round.waitedForWork > round.working;

    if (m_probeFrom > 0) {
        const int from = m_probeFrom;
        m_probeFrom = 0;
        const double added = static_cast<double>(now - from) / from;
        m_waitSteady = waitEach <= m_waitBefore * (1 + kSteadyWait);
        if (!waiting || waitEach > m_waitBefore * (1 + kRiseAllowed * added)) {
            m_waitSteady = false;
            if (waiting && now >= 4 * from) {
                // Four times as many were too many: twice as many may
                // still pay, and are tried at once.
                m_probeFrom = from;
                return setTarget(2 * from);
            }
            // With more requests in flight each one waited longer (the
            // device or the link is full), or the threads stopped waiting:
            // no faster. Back to where it was, for a while.
            m_pause = m_backoff;
            m_backoff = std::min(2 * m_backoff, kLongestPause);
            return setTarget(from);
        }
        m_backoff = kFirstPause;
    }

    if (!waiting) {
        if (++m_calmRounds >= kCalmRoundsBeforeShrinking && now > m_start) {
            m_calmRounds = 0;
            m_pause = 0;
            m_backoff = kFirstPause;
            m_waitSteady = false;
            return setTarget(now - std::max(1, (now - m_start) / 2));
        }
        return now;
    }
    m_calmRounds = 0;
    if (m_pause > 0) {
        --m_pause;
        return now;
    }
    if (starved || now >= m_limit) {
        return now;
    }
    m_probeFrom = now;
    m_waitBefore = levelWaitEach;
    int grown = now < kDoublingBelow || m_waitSteady ? 2 * now : now + std::max(1, now / 2);
    if (!m_grown) {
        m_grown = true;
        grown = kFirstGrowth * now;
    }
    return setTarget(std::min(m_limit, grown));
}

int ThreadGovernor::setTarget(int threads)
{
    if (threads != target()) {
        m_levelWaited = 0;
        m_levelSleeps = 0;
    }
    m_target.store(threads, std::memory_order_relaxed);
    return threads;
}

} // namespace vellico::platform::walk
