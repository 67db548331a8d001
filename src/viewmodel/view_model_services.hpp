#pragma once

#include "analysis/status_text.hpp"
#include "desktop/clock.hpp"
#include "model/found_folder.hpp"
#include "platform/alias_files.hpp"
#include "platform/bookmark_resolver.hpp"
#include "platform/cloud_drive.hpp"
#include "platform/item_flags.hpp"
#include "platform/system_calls.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"
#include "platform/workspace.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace vellico::viewmodel {

// Analyses the library open as `bundle`, shown as `url`; blocking, called
// on a worker thread. The progress sink is called on that same thread;
// `walk` carries the stop token of the run and the counters the GUI thread
// samples.
using Analyzer = std::function<model::BundleInfo(
    platform::UniqueFd bundle, const std::filesystem::path& url, bool isFromAlias,
    const analysis::ProgressSink& progress, const platform::WalkControl& walk)>;

// Everything the view model asks the machine for, injectable for tests.
// Services marked "worker" are called on worker threads (possibly several
// at once for an old and a new intake) and must be thread-safe; those marked
// "GUI" are called on the GUI thread only. Shared pointers keep a service
// alive for a worker job that outlives the view model's own copy.
struct ViewModelServices {
    std::shared_ptr<const platform::AliasFiles> aliases;         // worker
    std::shared_ptr<const platform::ItemFlags> itemFlags;        // worker
    std::shared_ptr<platform::CloudDrive> cloud;                 // worker
    std::shared_ptr<const platform::BookmarkResolver> bookmarks; // worker
    Analyzer analyze;                                            // worker
    std::shared_ptr<platform::Workspace> workspace;              // GUI
    std::shared_ptr<desktop::Clock> clock;                       // GUI (awaited there)
    // True once the main window exists and is visible; the intake waits for
    // it briefly so that its first sheet has a window to attach to. Empty:
    // there is no window (the wait runs its course). GUI.
    std::function<bool()> isMainWindowVisible;
    // The system calls of the library lock and the deletion (fault injection).
    platform::SystemCalls* systemCalls = &platform::defaultSystemCalls(); // worker
};

// This machine's services: symbolic links and Mac alias files, the
// immutable attribute, no cloud drive, bookmarks resolved against the
// mounted volumes, the analysis with the backup search in `home`'s Movies
// folder (the current user's by default) and on every volume, the external
// cache lookup, the freedesktop file manager and the event loop's timers.
ViewModelServices machineServices(const std::optional<std::filesystem::path>& home = std::nullopt);

} // namespace vellico::viewmodel
