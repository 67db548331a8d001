#pragma once

#include "desktop/clock.hpp"
#include "platform/alias_files.hpp"
#include "platform/cloud_drive.hpp"
#include "platform/item_flags.hpp"
#include "platform/workspace.hpp"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Fakes of the platform services for the view-model tests. Those called on
// worker threads are thread-safe.
namespace vellico::test {

// Sleeps for no real time: the waiter resumes on the next turn of the event
// loop. Records every requested duration.
class FakeClock final : public desktop::Clock {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
    std::vector<std::chrono::milliseconds> sleeps() const;
    std::size_t sleepCount(std::chrono::milliseconds duration) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::chrono::milliseconds> m_sleeps;
};

// Records reveals and editor activations.
class FakeWorkspace final : public platform::Workspace {
public:
    void revealInFileManager(const std::filesystem::path& item) override
    {
        m_revealed.push_back(item);
    }
    void activateEditor() override { ++m_activations; }
    const std::vector<std::filesystem::path>& revealed() const { return m_revealed; }
    int activations() const { return m_activations; }

private:
    std::vector<std::filesystem::path> m_revealed;
    int m_activations = 0;
};

// Items marked locked read as immutable; counts the questions.
class FakeItemFlags final : public platform::ItemFlags {
public:
    void lock(const std::filesystem::path& item);
    bool isUserImmutable(const std::filesystem::path& item) const override;

private:
    mutable std::mutex m_mutex;
    std::set<std::filesystem::path> m_locked;
};

// A cloud drive driven by the test. An item it was not told about is not
// ubiquitous. A ubiquitous item that is not current becomes current after
// `pollsUntilCurrent` status reads (never when none), or reports `error`
// from the `errorAtPoll`-th error read on.
class FakeCloudDrive final : public platform::CloudDrive {
public:
    struct Item {
        bool isCurrent = false;
        bool refuseDownload = false;
        std::optional<int> pollsUntilCurrent;
        std::optional<int> errorAtPoll;
        std::string error = "Réseau indisponible";
        // What happens when the download "arrives": called once, on a worker.
        std::function<void()> onArrival;
    };

    void setItem(const std::filesystem::path& item, Item state);
    int stateReads() const { return m_stateReads; }
    int polls(const std::filesystem::path& item) const;
    int downloadsStarted() const { return m_downloadsStarted; }

    std::optional<platform::CloudItemState>
    itemState(const std::filesystem::path& item) const override;
    std::optional<std::string> startDownloading(const std::filesystem::path& item) override;
    bool isDownloadCurrent(const std::filesystem::path& item) const override;
    std::optional<std::string> downloadError(const std::filesystem::path& item) const override;

private:
    struct Tracked {
        Item state;
        int statusPolls = 0;
        int errorPolls = 0;
        bool arrived = false;
    };
    mutable std::mutex m_mutex;
    mutable std::map<std::filesystem::path, Tracked> m_items;
    mutable std::atomic<int> m_stateReads{0};
    std::atomic<int> m_downloadsStarted{0};
};

} // namespace vellico::test
