#include "platform/linux/walk/disk_wait_pacer.hpp"

#include <sys/resource.h>

#include <algorithm>

namespace vellico::platform::walk {

namespace {

constexpr std::chrono::milliseconds kPaceWindow{10};

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

std::optional<Stretch> DiskWaitPacer::stretchEnded()
{
    const auto now = std::chrono::steady_clock::now();
    const auto working = now - m_since - m_waited;
    if (working < kPaceWindow) {
        return std::nullopt;
    }
    const ThreadUsage usage = threadUsage();
    Stretch stretch;
    stretch.began = m_since;
    stretch.working = std::chrono::duration_cast<std::chrono::nanoseconds>(working);
    stretch.cpu = usage.cpu - m_usageSince.cpu;
    stretch.waitedForWork = m_waited;
    stretch.sleeps = std::max(0L, usage.sleeps - m_usageSince.sleeps - m_waits);
    m_steps = 0;
    m_since = now;
    m_usageSince = usage;
    m_waited = {};
    m_waits = 0;
    return stretch;
}

} // namespace vellico::platform::walk
