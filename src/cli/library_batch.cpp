#include "cli/library_batch.hpp"

#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cleanup/removal_error.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/names.hpp"
#include "platform/file_system.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <ostream>

namespace vellico::cli {

namespace fs = std::filesystem;

namespace {

std::string joined(const std::string& folder, const std::string& rel)
{
    if (!folder.empty() && folder.back() == '/') {
        return folder + rel;
    }
    return folder + "/" + rel;
}

// Every library below `given`, a folder on device `device`.
void searchFolder(const std::string& given, dev_t device, Inputs& inputs)
{
    std::vector<std::string> found;
    std::vector<std::string> pending{std::string()}; // relative paths still to list
    while (!pending.empty()) {
        const std::string rel = std::move(pending.back());
        pending.pop_back();
        const std::string path = rel.empty() ? given : joined(given, rel);
        const platform::UniqueFd dir = platform::openDirectoryPath(path);
        const int openError = errno;
        struct stat st {};
        if (!dir || ::fstat(dir.get(), &st) != 0) {
            inputs.errors.push_back(
                {given, absolutePath(path),
                 say("dossier illisible : %1", {cleanup::systemErrorText(openError)})});
            continue;
        }
        if (st.st_dev != device) {
            continue; // another file system mounted here: not searched
        }
        const auto entries = platform::listDirectory(dir.get(), false);
        if (!entries) {
            inputs.errors.push_back(
                {given, absolutePath(path),
                 say("dossier illisible : %1", {cleanup::systemErrorText(errno)})});
            continue;
        }
        for (const platform::DirEntry& entry : *entries) {
            // Links are never followed; only real directories are taken or searched.
            if (platform::resolvedType(dir.get(), entry) != platform::EntryType::directory) {
                continue;
            }
            const std::string child = rel.empty() ? entry.name : rel + "/" + entry.name;
            if (analysis::hasLibraryExtension(entry.name)) {
                found.push_back(child); // a library is taken whole, never entered
            } else {
                pending.push_back(child);
            }
        }
    }
    std::sort(found.begin(), found.end());
    for (const std::string& rel : found) {
        inputs.libraries.push_back(joined(given, rel));
    }
}

} // namespace

Inputs collectInputs(const std::vector<std::string>& paths, bool recursive)
{
    Inputs inputs;
    for (const std::string& given : paths) {
        struct stat st {};
        if (!recursive || ::stat(given.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            analysis::hasLibraryExtension(given)) {
            inputs.libraries.push_back(given); // the intake says what is wrong with it, if anything
            continue;
        }
        searchFolder(given, st.st_dev, inputs);
    }
    return inputs;
}

model::FolderSelection refinedSelection(model::EditingPreset preset,
                                        const std::vector<model::FoundFolder>& folders,
                                        const std::optional<std::set<std::string>>& only,
                                        const std::set<std::string>& except)
{
    model::FolderSelection selection = model::presetSelection(preset, folders);
    const auto isOfKind = [](const model::FoundFolder& folder, const std::set<std::string>& kinds) {
        return std::any_of(kinds.begin(), kinds.end(), [&](const std::string& kind) {
            return model::namesEqual(folder.name, kind);
        });
    };
    for (const model::FoundFolder& folder : folders) {
        if ((only && !isOfKind(folder, *only)) || isOfKind(folder, except)) {
            selection.erase(folder.url);
        }
    }
    return selection;
}

TakenIn takeIn(const std::string& input, const CommandLine& options,
               const analysis::MachineAnalysis& machine, const platform::WalkControl& walk,
               ProgressLine& progress, BatchPosition position)
{
    using Kind = analysis::IntakeError::Kind;
    const auto refuse = [&input](const fs::path& path, std::string message) {
        return TakenIn{std::nullopt, InputError{input, absolutePath(path), std::move(message)}};
    };
    const auto item = analysis::checkLibraryItem(input, *machine.aliases(), *machine.itemFlags());
    if (!item) {
        return refuse(input, intakeMessage(item.error()));
    }
    fs::path url = item->url;
    const std::string& name = item->displayName;
    if (const auto cloud = machine.cloud()->itemState(url);
        cloud && cloud->isUbiquitous && !cloud->isCurrent) {
        return refuse(url, say("« %1 » n'est pas encore téléchargée depuis le nuage. "
                               "Téléchargez-la avant de continuer.",
                               {name}));
    }
    if (!analysis::hasLibraryFiles(url)) {
        return refuse(url, intakeMessage({Kind::notALibrary, name}));
    }
    AnalysedLibrary library;
    library.input = input;
    library.preset = options.preset;
    const analysis::BackupCheck backup = analysis::checkBackup(url, *machine.bookmarks());
    if (backup.isBackup) {
        if (!backup.original) {
            return refuse(url, intakeMessage({Kind::backupWithoutOriginal, name}));
        }
        if (!options.original) {
            return refuse(url, say("« %1 » est une sauvegarde de la bibliothèque %2 ; "
                                   "--original traite cette bibliothèque à sa place.",
                                   {name, absolutePath(*backup.original).string()}));
        }
        library.backup = url;
        url = *backup.original;
    }
    library.missingCache = analysis::missingExternalCache(url, *machine.bookmarks());

    // The analysis runs on this thread; the ticker redraws the line from its
    // own with the walk's counters, so they move between the analysis's texts.
    platform::WalkProgress counters;
    platform::WalkControl control = walk;
    control.progress = &counters;
    const std::string shownName = shown(analysis::bundleDisplayName(url));
    std::mutex statusMutex;
    std::string status = statusText({std::string(analysis::status::totalSize), {}});
    const auto line = [&] {
        std::string step;
        {
            const std::lock_guard lock(statusMutex);
            step = status;
        }
        const std::uint64_t files = counters.files.load(std::memory_order_relaxed);
        if (files > 0) {
            // The counters first: a long step is what the width cuts.
            step =
                i18n::fillPlural("%1 fichiers analysés, %2 — %3", static_cast<std::int64_t>(files),
                                 {formatBytes(static_cast<std::int64_t>(
                                      counters.bytes.load(std::memory_order_relaxed))),
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
    {
        const ProgressTicker ticker(progress, line);
        library.info =
            analysis::analyzeBundle(url, item->isFromAlias, machine.services(control), sink);
    }
    progress.clear();
    library.selection =
        refinedSelection(options.preset, library.info.foundFolders, options.only, options.except);
    return {std::move(library), std::nullopt};
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

std::string errorLine(const InputError& error)
{
    return "vellico-cli: " + shown(error.input) + ": " + shown(error.message);
}

} // namespace vellico::cli
