#include "cli/analyze_command.hpp"

#include "analysis/backup_locator.hpp"
#include "analysis/external_cache_locator.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cli/texts.hpp"
#include "platform/item_flags.hpp"
#include "platform/linux/linux_bookmark_resolver.hpp"
#include "platform/linux/proc_mount_table.hpp"

#include <unistd.h>

#include <iostream>

namespace vellico::cli {

namespace {

// Progress on the terminal: one line, rewritten in place, cleared at the end.
class TerminalProgress {
public:
    explicit TerminalProgress(bool enabled) : m_enabled(enabled) {}
    ~TerminalProgress()
    {
        if (m_enabled && m_shown) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }

    analysis::ProgressSink sink()
    {
        if (!m_enabled) {
            return {};
        }
        return [this](const analysis::StatusText& status) {
            m_shown = true;
            std::cerr << "\r\033[K" << shown(statusText(status)) << std::flush;
        };
    }

private:
    bool m_enabled;
    bool m_shown = false;
};

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

analysis::AnalysisServices MachineServices::services() const
{
    return {&m_parts->backups, &m_parts->cache};
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
    AnalysedLibrary library;
    library.input = input;
    library.info = analysis::analyzeBundle(item->url, item->isFromAlias, services, progress.sink());
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
    for (const std::string& input : options.paths) {
        AnalyzeOutcome outcome =
            analyzeOne(input, options.preset, machine.services(), showProgress);
        if (!outcome.library) {
            errors.push_back({{"input", input}, {"message", outcome.error}});
            if (!options.json) {
                err << "vellico-cli: " << shown(outcome.error) << "\n";
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
            printNotices(err, *outcome.library);
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
