#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vellico::platform {

// What the cloud-drive service says about one item.
struct CloudItemState {
    bool isUbiquitous = false; // the item is stored in the cloud drive
    bool isCurrent = false;    // its local copy is up to date (only meaningful when ubiquitous)
};

// The cloud-drive service of the desktop (iCloud Drive on a Mac). Every call
// reads afresh; none waits for a download. Implementations are called from
// worker threads and must be safe to call from any thread.
class CloudDrive {
public:
    virtual ~CloudDrive() = default;

    // Ubiquity and download status, read in one request; none when they
    // cannot be read (which callers treat as "not in the cloud").
    virtual std::optional<CloudItemState> itemState(const std::filesystem::path& item) const = 0;

    // Asks the service to bring the item's contents to this machine, without
    // waiting. None on success, otherwise the service's description of why
    // it refused.
    virtual std::optional<std::string> startDownloading(const std::filesystem::path& item) = 0;

    // True when the local copy is current; false when it is not or the
    // status cannot be read.
    virtual bool isDownloadCurrent(const std::filesystem::path& item) const = 0;

    // The description of a download error the service reports for the item
    // (in the user's language); none when there is none or it cannot be read.
    virtual std::optional<std::string> downloadError(const std::filesystem::path& item) const = 0;
};

// Linux has no such service: every item reads as "not ubiquitous", so the
// intake never asks about a download and never starts one.
class LinuxCloudDrive final : public CloudDrive {
public:
    std::optional<CloudItemState> itemState(const std::filesystem::path&) const override
    {
        return CloudItemState{};
    }
    std::optional<std::string> startDownloading(const std::filesystem::path&) override
    {
        return std::string("no cloud drive on this system");
    }
    bool isDownloadCurrent(const std::filesystem::path&) const override { return true; }
    std::optional<std::string> downloadError(const std::filesystem::path&) const override
    {
        return std::nullopt;
    }
};

} // namespace vellico::platform
