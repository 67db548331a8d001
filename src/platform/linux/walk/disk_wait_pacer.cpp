#include "platform/linux/walk/disk_wait_pacer.hpp"

#include <sys/resource.h>

namespace vellico::platform::walk {

namespace {

constexpr std::chrono::milliseconds kPaceWindow{10};
constexpr long kPaceSleeps = 4;

} // namespace

ThreadUsage threadUsage()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec),
            usage.ru_nvcsw};
}

void DiskWaitPacer::start()
{
    m_steps = 0;
    m_since = std::chrono::steady_clock::now();
    m_usageSince = threadUsage();
    m_waited = {};
    m_waits = 0;
}

bool DiskWaitPacer::waitingOnDisk()
{
    const auto now = std::chrono::steady_clock::now();
    const auto working = now - m_since - m_waited;
    if (working < kPaceWindow) {
        return false;
    }
    const ThreadUsage usage = threadUsage();
    const auto cpu = usage.cpu - m_usageSince.cpu;
    const long sleeps = usage.sleeps - m_usageSince.sleeps - m_waits;
    const bool waitingOnDisk = 2 * cpu < working && sleeps >= kPaceSleeps;
    m_steps = 0;
    m_since = now;
    m_usageSince = usage;
    m_waited = {};
    m_waits = 0;
    return waitingOnDisk;
}

} // namespace vellico::platform::walk
