#include "viewmodel/fakes.hpp"

#include <QCoro/QCoroTimer>
#include <QTimer>

#include <algorithm>

namespace vellico::test {

namespace {

// The services are asked about an open directory through /proc; the fakes
// know items by the path they were given.
std::filesystem::path knownAs(const std::filesystem::path& item)
{
    if (item.native().rfind("/proc/self/fd/", 0) != 0) {
        return item;
    }
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::read_symlink(item, ec);
    return ec ? item : target;
}

} // namespace

QCoro::Task<> FakeClock::sleep(std::chrono::milliseconds duration)
{
    {
        std::lock_guard lock(m_mutex);
        m_sleeps.push_back(duration);
    }
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(0);
    co_await timer;
}

std::vector<std::chrono::milliseconds> FakeClock::sleeps() const
{
    std::lock_guard lock(m_mutex);
    return m_sleeps;
}

std::size_t FakeClock::sleepCount(std::chrono::milliseconds duration) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(std::count(m_sleeps.begin(), m_sleeps.end(), duration));
}

void FakeItemFlags::lock(const std::filesystem::path& item)
{
    std::lock_guard lock(m_mutex);
    m_locked.insert(item);
}

bool FakeItemFlags::isUserImmutable(const std::filesystem::path& item) const
{
    std::lock_guard lock(m_mutex);
    return m_locked.count(knownAs(item)) != 0;
}

void FakeCloudDrive::setItem(const std::filesystem::path& item, Item state)
{
    std::lock_guard lock(m_mutex);
    m_items[item] = Tracked{std::move(state)};
}

int FakeCloudDrive::polls(const std::filesystem::path& item) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(item);
    return it == m_items.end() ? 0 : it->second.statusPolls;
}

std::optional<platform::CloudItemState>
FakeCloudDrive::itemState(const std::filesystem::path& item) const
{
    ++m_stateReads;
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(knownAs(item));
    if (it == m_items.end()) {
        return platform::CloudItemState{};
    }
    return platform::CloudItemState{true, it->second.state.isCurrent || it->second.arrived};
}

std::optional<std::string> FakeCloudDrive::startDownloading(const std::filesystem::path& item)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(item);
    if (it == m_items.end() || it->second.state.refuseDownload) {
        return std::string("L’élément est introuvable.");
    }
    ++m_downloadsStarted;
    return std::nullopt;
}

bool FakeCloudDrive::isDownloadCurrent(const std::filesystem::path& item) const
{
    std::function<void()> arrival;
    bool current = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_items.find(item);
        if (it == m_items.end()) {
            return false;
        }
        Tracked& tracked = it->second;
        ++tracked.statusPolls;
        current =
            tracked.state.isCurrent || (tracked.state.pollsUntilCurrent &&
                                        tracked.statusPolls >= *tracked.state.pollsUntilCurrent);
        if (current && !tracked.arrived) {
            tracked.arrived = true;
            arrival = tracked.state.onArrival;
        }
    }
    if (arrival) {
        arrival();
    }
    return current;
}

std::optional<std::string> FakeCloudDrive::downloadError(const std::filesystem::path& item) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.find(item);
    if (it == m_items.end()) {
        return std::nullopt;
    }
    Tracked& tracked = it->second;
    ++tracked.errorPolls;
    if (tracked.state.errorAtPoll && tracked.errorPolls >= *tracked.state.errorAtPoll) {
        return tracked.state.error;
    }
    return std::nullopt;
}

} // namespace vellico::test
