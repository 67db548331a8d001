#include "cli/analyze_command.hpp"

#include "analysis/backup_locator.hpp"
#include "analysis/external_cache_locator.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cli/texts.hpp"
#include "model/byte_sum.hpp"
#include "platform/item_flags.hpp"
#include "platform/linux/linux_bookmark_resolver.hpp"
#include "platform/linux/proc_mount_table.hpp"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

namespace vellico::cli {

namespace {

// Progress on the terminal: one line, rewritten in place a few times a
// second from a sampling thread, cleared at the end. It shows the status of
// the analysis and the files seen and bytes counted so far by the walk.
class TerminalProgress {
public:
    explicit TerminalProgress(bool enabled) : m_enabled(enabled)
    {
        if (m_enabled) {
            m_sampler = std::thread([this] { sample(); });
        }
    }
    ~TerminalProgress()
    {
        if (!m_enabled) {
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_sampler.join();
        if (m_shown) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    platform::WalkProgress* counters() { return m_enabled ? &m_counters : nullptr; }

    analysis::ProgressSink sink()
    {
        if (!m_enabled) {
            return {};
        }
        return [this](const analysis::StatusText& status) {
            std::lock_guard lock(m_mutex);
            m_status = statusText(status);
            draw();
        };
    }

private:
    void sample()
    {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_done; })) {
            draw();
        }
    }

    // Called with m_mutex held.
    void draw()
    {
        const std::uint64_t files = m_counters.files.load(std::memory_order_relaxed);
        std::cerr << "\r\033[K" << m_status;
        if (files > 0) {
            const std::uint64_t bytes = m_counters.bytes.load(std::memory_order_relaxed);
            std::cerr << " " << files << " fichiers, " << formatBytes(model::saturatedSize(bytes));
        }
        std::cerr << std::flush;
        m_shown = true;
    }

    bool m_enabled;
    platform::WalkProgress m_counters;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_status; // guarded by m_mutex
    bool m_done = false;  // guarded by m_mutex
    bool m_shown = false; // guarded by m_mutex
    std::thread m_sampler;
};

// Set by SIGINT while an analysis runs: the walk stops at once. A second
// SIGINT ends the program (SA_RESETHAND).
platform::StopToken g_interrupt;

void onInterrupt(int)
{
    g_interrupt.requestStop();
}

} // namespace

struct MachineServices::Parts {
    explicit Parts(const std::optional<std::filesystem::path>& home)
        : mounts(std::make_shared<platform::ProcMountTable>()), bookmarks(mounts), index(mounts),
          backups(home ? platform::userFolders(*home) : platform::currentUserFolders(), bookmarks,
                  index, *mounts),
          cache(bookmarks)
    {}
    std::shared_ptr<platform::ProcMountTable> mounts;
    platform::LinuxBookmarkResolver bookmarks;
    platform::VolumeBackupIndex index;
    analysis::LibraryBackupLocator backups;
    analysis::LibraryCacheLocator cache;
};

MachineServices::MachineServices(const std::optional<std::filesystem::path>& home)
    : m_parts(std::make_unique<Parts>(home))
{}

MachineServices::~MachineServices() = default;

analysis::AnalysisServices MachineServices::services(const platform::WalkControl& walk) const
{
    return {&m_parts->backups, &m_parts->cache, walk};
}

AnalyzeOutcome analyzeOne(const std::string& input, model::EditingPreset preset,
                          const analysis::AnalysisServices& services, bool showProgress)
{
    const platform::LinuxItemFlags flags;
    const auto item = analysis::checkLibraryItem(input, flags);
    if (!item) {
        return {std::nullopt, intakeMessage(item.error())};
    }
    TerminalProgress progress(showProgress);
    analysis::AnalysisServices withProgress = services;
    withProgress.walk.progress = progress.counters();
    AnalysedLibrary library;
    library.input = input;
    library.info =
        analysis::analyzeBundle(item->url, item->isFromAlias, withProgress, progress.sink());
    library.preset = preset;
    library.selection = model::presetSelection(preset, library.info.foundFolders);
    return {std::move(library), {}};
}

int runAnalyze(const AnalyzeOptions& options, std::ostream& out, std::ostream& err)
{
    const bool showProgress = ::isatty(STDERR_FILENO) == 1;
    nlohmann::ordered_json libraries = nlohmann::ordered_json::array();
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    bool first = true;
    const MachineServices machine(options.home);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);
    platform::WalkControl walk;
    walk.jobs = options.jobs;
    walk.stop = &g_interrupt;
    for (const std::string& input : options.paths) {
        AnalyzeOutcome outcome =
            analyzeOne(input, options.preset, machine.services(walk), showProgress);
        if (g_interrupt.stopRequested()) {
            ::sigaction(SIGINT, &previous, nullptr);
            err << "vellico-cli: analyse interrompue\n";
            return 130;
        }
        if (!outcome.library) {
            errors.push_back({{"input", input}, {"message", outcome.error}});
            if (!options.json) {
                err << "vellico-cli: " << outcome.error << "\n";
            }
            continue;
        }
        if (options.json) {
            libraries.push_back(libraryJson(*outcome.library));
        } else {
            if (!first) {
                out << "\n";
            }
            printLibrary(out, *outcome.library);
            first = false;
        }
    }
    if (options.json) {
        out << dumpJson({{"libraries", std::move(libraries)}, {"errors", errors}}) << "\n";
    }
    out.flush();
    return errors.empty() ? 0 : 1;
}

} // namespace vellico::cli
