#pragma once

#include "analysis/status_text.hpp"
#include "formats/property_list.hpp"
#include "model/found_folder.hpp"
#include "platform/tree_walker.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace vellico::analysis {

// The library's external cache, when its settings name one that is on disk.
struct ExternalCache {
    std::optional<std::filesystem::path> url;
    std::int64_t size = 0;
};

// Finds the library's backup folders outside the bundle and appends them to
// the found folders. Given the library's settings dictionary; each folder is
// measured with `walk` (the analysis's threads, budget and stop token).
class BackupLocator {
public:
    virtual ~BackupLocator() = default;
    virtual void findBackups(const formats::PlistValue& settings,
                             const std::filesystem::path& bundle,
                             std::vector<model::FoundFolder>& into, const ProgressSink& progress,
                             const platform::WalkControl& walk) const = 0;
};

// Finds and measures the library's external cache from its settings, with
// `walk` as the backups are.
class ExternalCacheLocator {
public:
    virtual ~ExternalCacheLocator() = default;
    virtual ExternalCache findExternalCache(const formats::PlistValue& settings,
                                            const ProgressSink& progress,
                                            const platform::WalkControl& walk) const = 0;
};

// What the analysis calls out to. A missing service finds nothing.
struct AnalysisServices {
    const BackupLocator* backups = nullptr;
    const ExternalCacheLocator* cache = nullptr;
    // How the bundle is walked: threads, the stop token of a superseded or
    // cancelled analysis, and the counters of files seen and bytes counted
    // that a progress display samples from another thread.
    platform::WalkControl walk;
    // Folders of the library's two top levels for which this says true are
    // listed, with the identity of their directory, but not walked: their
    // size is 0 and the library's total leaves them out. For a caller that
    // counts them otherwise (a deletion that counts what it removes). Called
    // on the analysing thread. Empty: every folder is measured.
    std::function<bool(const model::FoundFolder&)> measuredLater;
};

} // namespace vellico::analysis
