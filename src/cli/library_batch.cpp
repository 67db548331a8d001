#include "cli/library_batch.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/intake_flow.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cleanup/removal_error.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/file_system.hpp"
#include "platform/tree_walker.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <ostream>

namespace vellico::cli {

namespace fs = std::filesystem;

namespace {

// The command line's answers about a backup: with --original its original
// is taken; without, a backup met by a search is listed, and one given is
// refused with the way to its original.
class CommandLineAnswers final : public analysis::IntakeQuestions {
public:
    explicit CommandLineAnswers(bool original) : m_original(original) {}

    analysis::BackupAnswer backupFound(const analysis::BatchInput& input,
                                       const std::filesystem::path& /*backup*/,
                                       const std::filesystem::path& /*original*/) override
    {
        using Kind = analysis::BackupAnswer::Kind;
        if (m_original) {
            return {Kind::takeOriginal, {}};
        }
        if (input.root) {
            return {Kind::listAsBackup, {}};
        }
        return {Kind::refuse,
                i18n::catalogueKey("« %1 » est une sauvegarde de la bibliothèque %2 ; --original "
                                   "traite cette bibliothèque à sa place.")};
    }

private:
    bool m_original;
};

} // namespace

InputError inputError(const analysis::Refusal& refusal)
{
    return {refusal.input, refusal.path, i18n::fillPlaceholders(lookup(refusal.key), refusal.args)};
}

model::FolderSelection refinedSelection(model::EditingPreset preset,
                                        const std::vector<model::FoundFolder>& folders,
                                        const std::optional<std::set<std::string>>& only,
                                        const std::set<std::string>& except)
{
    const auto isOfKind = [](const model::FoundFolder& folder, const std::set<std::string>& kinds) {
        return std::any_of(kinds.begin(), kinds.end(), [&](const std::string& kind) {
            return model::namesEqual(folder.name, kind);
        });
    };
    // --only names what to delete, whatever the preset; --except takes
    // kinds out of whichever selection that is.
    model::FolderSelection selection;
    if (only) {
        for (const model::FoundFolder& folder : folders) {
            if (isOfKind(folder, *only)) {
                selection.insert(folder.url);
            }
        }
    } else {
        selection = model::presetSelection(preset, folders);
    }
    for (const model::FoundFolder& folder : folders) {
        if (isOfKind(folder, except)) {
            selection.erase(folder.url);
        }
    }
    return selection;
}

TakenIn takeIn(const Input& input, const CommandLine& options,
               const analysis::MachineAnalysis& machine, const platform::WalkControl& walk,
               ProgressLine& progress, BatchPosition position, BatchScope& scope)
{
    CommandLineAnswers answers(options.original);
    analysis::IntakeOutcome outcome = analysis::takeInItem(input, machine, answers, scope, walk);
    if (outcome.refusal) {
        return TakenIn{std::nullopt, inputError(*outcome.refusal), false, std::nullopt};
    }
    if (outcome.repeated || outcome.backup) {
        return TakenIn{std::nullopt, std::nullopt, outcome.repeated, std::move(outcome.backup)};
    }
    analysis::ReadyLibrary& ready = *outcome.library;
    const fs::path url = ready.url;
    platform::UniqueFd bundle = std::move(ready.bundle);
    AnalysedLibrary library;
    library.input = input.path;
    library.preset = options.preset;
    library.backup = ready.backup;
    library.missingCache = ready.missingCache;

    // The analysis runs on this thread; the ticker redraws the line from its
    // own with the walk's counters, so they move between the analysis's texts.
    platform::WalkProgress counters;
    platform::WalkControl control = walk;
    control.progress = &counters;
    const std::string shownName = shown(analysis::bundleDisplayName(url));
    std::mutex statusMutex;
    std::string status = statusText({std::string(analysis::status::totalSize), {}});
    ReportStyle units; // sizes in the units asked for, zero as a number
    units.units = options.units;
    const auto line = [&] {
        std::string step;
        {
            const std::lock_guard lock(statusMutex);
            step = status;
        }
        const std::uint64_t files = counters.files.load(std::memory_order_relaxed);
        if (files > 0) {
            // The counters first: a long step is what the width cuts.
            step = i18n::fillPlural(
                "%1 fichiers analysés, %2 — %3", static_cast<std::int64_t>(files),
                {sizeText(static_cast<std::int64_t>(counters.bytes.load(std::memory_order_relaxed)),
                          units),
                 step});
        }
        return progressText(position, shownName, step);
    };
    progress.show(line());
    analysis::ProgressSink sink;
    if (progress.enabled()) {
        sink = [&](const analysis::StatusText& next) {
            {
                const std::lock_guard lock(statusMutex);
                status = shown(statusText(next));
            }
            progress.show(line());
        };
    }
    analysis::AnalysisServices services = machine.services(control);
    // `clean --yes` deletes without asking: the folders it will delete are
    // not measured first, their deletion counts them as it removes them.
    const bool measuredByDeletion =
        options.command == Command::clean && options.yes && !options.dryRun;
    const auto selected = [&options](const model::FoundFolder& folder) {
        return !refinedSelection(options.preset, {folder}, options.only, options.except).empty();
    };
    if (measuredByDeletion) {
        services.measuredLater = selected;
    }
    {
        const ProgressTicker ticker(progress, line);
        library.info =
            analysis::analyzeBundle(bundle.duplicate(), url, ready.isFromAlias, services, sink);
    }
    progress.clear();
    library.selection =
        refinedSelection(options.preset, library.info.foundFolders, options.only, options.except);
    if (measuredByDeletion) {
        // The folders of the library itself the analysis left out (backups
        // lie outside it and were measured by their search).
        for (const model::FoundFolder& folder : library.info.foundFolders) {
            if (!model::namesEqual(folder.name, model::backupsFolderName) && selected(folder)) {
                library.measuredLater.insert(folder.url);
            }
        }
    }
    if (scope.bounds() != nullptr) {
        // Folders outside the library (its backups) are left alone when
        // they lie outside the folders searched.
        for (const model::FoundFolder& folder : library.info.foundFolders) {
            if (library.selection.count(folder.url) == 0) {
                continue; // not to be deleted: nothing to check
            }
            const platform::UniqueFd dir = platform::openDirectoryPath(folder.url.string());
            if (!dir || !analysis::insideBounds(dir.get(), *scope.bounds())) {
                library.selection.erase(folder.url);
                library.outsideBounds.push_back(folder.url);
            }
        }
    }
    library.bundle = std::make_shared<const platform::UniqueFd>(std::move(bundle));
    return {std::move(library), std::nullopt, false};
}

BatchErrors::BatchErrors(std::ostream& err, bool json, BatchSummary& summary)
    : m_err(err), m_json(json), m_summary(summary)
{}

void BatchErrors::fail(const InputError& error)
{
    m_entries.push_back(errorJson(error.input, error.path, error.message));
    if (!m_json) {
        m_err << errorLine(error) << "\n";
    }
    ++m_summary.failed;
}

void BatchErrors::failBatch(const std::string& message)
{
    m_entries.push_back(errorJson(std::nullopt, std::nullopt, message));
    if (!m_json) {
        m_err << "vellico-cli: " << message << "\n";
    }
}

std::string progressText(BatchPosition position, const std::string& name,
                         const std::string& activity)
{
    // A long name gives way first: what moves (counters, step) stays in sight.
    const std::size_t nameColumns = std::max<std::size_t>(12, terminalColumns() / 3);
    return say("[%1/%2] %3 : %4", {i18n::formatCount(static_cast<std::int64_t>(position.index)),
                                   i18n::formatCount(static_cast<std::int64_t>(position.count)),
                                   fitted(name, nameColumns), activity});
}

void printWarnings(std::ostream& err, const AnalysedLibrary& library, bool quiet)
{
    if (library.missingCache && !quiet) {
        err << "vellico-cli: " << shown(library.input) << ": "
            << shown(missingCacheMessage(*library.missingCache)) << "\n";
    }
    if (!quiet) {
        for (const std::filesystem::path& path : library.outsideBounds) {
            err << "vellico-cli: " << shown(library.input) << ": "
                << shown(say(cleanup::messageKey(cleanup::RemovalProblem::outsideBounds),
                             {path.string()}))
                << "\n";
        }
        printNotices(err, library);
    }
    printUnreadable(err, library);
}

InputError withSearchHint(InputError error, bool recursive)
{
    struct stat st {};
    if (!recursive && !analysis::hasLibraryExtension(error.input) &&
        ::stat(error.input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error.message += " " + say("C'est un dossier : l'option -r y cherche les bibliothèques.");
    }
    return error;
}

std::string backupLine(const FoundBackup& backup)
{
    return say("Sauvegarde %1 de la bibliothèque %2 : %3 (non traitée ; --original traite "
               "l'originale)",
               {shortPath(backup.path), shortPath(backup.original), formatBytes(backup.size)});
}

nlohmann::ordered_json backupsJson(const std::vector<FoundBackup>& backups)
{
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const FoundBackup& backup : backups) {
        nlohmann::ordered_json json;
        putPath(json, "input", backup.input);
        putPath(json, "path", backup.path);
        putPath(json, "originalPath", backup.original);
        json["size"] = backup.size;
        entries.push_back(std::move(json));
    }
    return entries;
}

std::string errorLine(const InputError& error)
{
    return "vellico-cli: " + shown(error.input) + ": " + shown(error.message);
}

} // namespace vellico::cli
