#pragma once

#include "analysis/analysis_services.hpp"
#include "platform/alias_files.hpp"
#include "platform/bookmark_resolver.hpp"
#include "platform/cloud_drive.hpp"
#include "platform/item_flags.hpp"
#include "platform/mount_table.hpp"

#include <filesystem>
#include <memory>
#include <optional>

namespace vellico::analysis {

// This machine's services for the intake and the analysis, wired once for
// both front ends: the mount table, the bookmark resolver that reads it, the
// backup index of the mounted volumes, the backup locator (the Movies folder
// of `home`, the current user's by default) and the external-cache locator,
// and for the intake the alias files, item flags and cloud drive.
//
// Every service is read-only once built and safe to use from several threads
// at once. Shared pointers let a worker job keep what it uses alive.
class MachineAnalysis {
public:
    explicit MachineAnalysis(const std::optional<std::filesystem::path>& home = std::nullopt);
    ~MachineAnalysis();
    MachineAnalysis(const MachineAnalysis&) = delete;
    MachineAnalysis& operator=(const MachineAnalysis&) = delete;

    // The analysis's services, walking with `walk` (threads, stop token, counters).
    AnalysisServices services(const platform::WalkControl& walk = {}) const;

    std::shared_ptr<const platform::BookmarkResolver> bookmarks() const;
    std::shared_ptr<const platform::AliasFiles> aliases() const;
    std::shared_ptr<const platform::ItemFlags> itemFlags() const;
    std::shared_ptr<platform::CloudDrive> cloud() const;

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

} // namespace vellico::analysis
