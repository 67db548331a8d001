#include "cli/clean_command.hpp"

#include "analysis/folder_size.hpp"
#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "cli/clean_report.hpp"
#include "cli/library_batch.hpp"
#include "cli/report.hpp"
#include "cli/stop_signals.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "model/byte_sum.hpp"
#include "model/folder_group.hpp"
#include "model/names.hpp"
#include "model/target_folder_rule.hpp"
#include "platform/file_identity.hpp"
#include "platform/tree_walker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace vellico::cli {

namespace {

// The path through which the library's own directory, held open since it
// was decided on, is reached by what takes a path.
std::filesystem::path libraryPath(const AnalysedLibrary& library)
{
    return library.bundle && *library.bundle ? accessPath(library.bundle->get(), library.info.url)
                                             : library.info.url;
}

} // namespace

bool isYes(const std::string& answer)

{
    if (::rpmatch(answer.c_str()) == 1) {
        return true;
    }
    const std::string yes = lookup("oui");
    return !answer.empty() && (answer == yes || answer == yes.substr(0, 1) ||
                               (answer.size() == 1 && yes.size() >= 1 &&
                                std::toupper(static_cast<unsigned char>(answer[0])) ==
                                    std::toupper(static_cast<unsigned char>(yes[0]))));
}

std::optional<bool> TerminalConfirmation::ask(const std::string& question)
{
    if (::isatty(STDIN_FILENO) != 1) {
        return std::nullopt;
    }
    // What was typed before the question was not an answer to it: a "y"
    // pressed during the analysis must not confirm a deletion not yet shown.
    ::tcflush(STDIN_FILENO, TCIFLUSH);
    std::cerr << question << " " << lookup("[o/N]") << " " << std::flush;
    // The terminal is read only once it holds a whole line, and the wait is
    // cut in slices: a signal that comes before the read would interrupt no
    // read, and the program would wait for an answer after Ctrl-C.
    for (;;) {
        if (m_signals != nullptr && m_signals->stopRequested()) {
            return false;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 100);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            break;
        }
    }
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return isYes(answer);
}

namespace {

// One `clean` from the command line to the exit status, in phases: analyse
// everything, count what would go, ask once, delete library by library,
// report. The phases share what is here.
class CleanRun {
public:
    CleanRun(const CommandLine& options, std::ostream& out, std::ostream& err,
             platform::SystemCalls& calls, StopSignals* signals)
        : m_options(options), m_out(out), m_err(err), m_calls(calls), m_signals(signals),
          m_machine(options.home), m_style(reportStyle(options, outputIsTerminal(out))),
          m_text(!options.json), m_measuring(options.yes && !options.dryRun),
          m_progress(progressWanted() && !options.quiet), m_errors(err, options.json, m_summary)
    {
        m_walk.jobs = options.jobs;
        m_walk.stop = signals != nullptr ? &signals->token() : nullptr;
    }

    int run(Confirmation& confirmation)
    {
        analyseAll();
        countWhatWouldGo();
        if (askOnce(confirmation)) {
            deleteAll();
        }
        settleSizes();
        if (m_options.json) {
            writeJson();
        } else {
            printSummary(m_out, m_summary,
                         m_options.dryRun ? SummaryEnd::wouldFree : SummaryEnd::freed, m_style);
        }
        m_out.flush();
        if (stopRequested()) {
            if (m_text) {
                m_err << "vellico-cli: " << say("suppression interrompue par un signal") << "\n";
            }
            return 128 + m_signals->signalNumber();
        }
        const bool clean =
            m_summary.failed == 0 && m_errors.empty() && m_summary.incomplete == 0 && !m_declined;
        return clean && m_out ? 0 : 1;
    }

private:
    bool stopRequested() const { return m_signals != nullptr && m_signals->stopRequested(); }

    // 1. Everything is analysed first, so that one question covers the batch.
    void analyseAll()
    {
        m_inputs = collectInputs(m_options.paths, m_options.recursive, m_walk);
        for (const analysis::Refusal& refusal : m_inputs.refusals) {
            m_errors.fail(inputError(refusal));
        }
        BatchScope scope(m_options.recursive ? &m_inputs.bounds : nullptr);
        std::size_t index = 0;
        for (const Input& input : m_inputs.libraries) {
            if (stopRequested()) {
                break; // nothing more after a stop, not even an analysis
            }
            const BatchPosition position{++index, m_inputs.libraries.size()};
            TakenIn taken =
                takeIn(input, m_options, m_machine, m_walk, m_progress, position, scope);
            if (stopRequested()) {
                break; // the analysis was cut short: nothing of it is used
            }
            if (taken.repeated) {
                continue; // the same library under another path: once is enough
            }
            if (taken.backup) {
                if (m_text && !m_options.quiet) {
                    m_out << backupLine(*taken.backup) << "\n\n";
                }
                m_backups.push_back(std::move(*taken.backup));
                continue;
            }
            if (!taken.library) {
                m_errors.fail(withSearchHint(*taken.error, m_options.recursive));
                continue;
            }
            Pending pending;
            pending.library = std::move(*taken.library);
            m_summary.add(pending.library);
            if (m_text) {
                printWarnings(m_err, pending.library, m_options.quiet);
            }
            pending.folders =
                cleanup::foldersToDelete(pending.library.info, pending.library.selection);
            m_batch.push_back(std::move(pending));
        }
        if (!m_text) {
            return; // the document keeps the order taken
        }
        std::stable_sort(m_batch.begin(), m_batch.end(),
                         [this](const Pending& a, const Pending& b) {
                             return comesBefore(a.library, b.library, m_style.sort);
                         });
        if (!m_style.quiet) {
            for (const Pending& pending : m_batch) {
                printSelection(m_out, pending, m_options, m_style, !m_measuring);
                m_out << "\n";
            }
        }
    }

    // 2. What would go, in total; libraries someone holds are left out.
    void countWhatWouldGo()
    {
        for (Pending& pending : m_batch) {
            if (pending.folders.empty()) {
                continue;
            }
            if (!m_options.dryRun && cleanup::isLibraryOpenInFCP(libraryPath(pending.library))) {
                m_errors.fail({pending.library.input, pending.library.info.url,
                               heldMessage(pending.library)});
                pending.refused = true;
                continue;
            }
            m_folderTotal += pending.folders.size();
            ++m_libraryTotal;
            m_byteTotal += model::selectedSize(&pending.library.info, pending.library.selection);
        }
        // With --yes the sizes are counted by the deletion: the summary
        // after it gives the totals.
        if (m_text && !m_style.quiet && m_batch.size() > 1 && !m_measuring) {
            m_out << say("Total : %1 (%2) dans %3",
                         {folderCount(m_folderTotal), sizeText(m_byteTotal, m_style),
                          libraryCount(m_libraryTotal)})
                  << "\n\n";
        }
    }

    // 3. One question for the whole batch. A "no" is one decision about the
    // batch, not a failure of each library: it is said once, counts no
    // library as failed, and the exit status is 1 (nothing selected was
    // removed). Without a terminal no one could answer: that is an error of
    // the batch. True when the deletion goes ahead.
    bool askOnce(Confirmation& confirmation)
    {
        if (m_options.dryRun || m_folderTotal == 0 || stopRequested()) {
            return false;
        }
        if (m_options.yes) {
            return true;
        }
        const std::optional<bool> answer =
            confirmation.ask(say("Supprimer définitivement %1 (%2) dans %3 ?",
                                 {folderCount(m_folderTotal), sizeText(m_byteTotal, m_style),
                                  libraryCount(m_libraryTotal)}));
        if (stopRequested()) {
            return false; // a signal during the question: nothing is deleted
        }
        if (!answer) {
            m_errors.failBatch(
                say("Aucun terminal pour confirmer la suppression : relancez avec --yes."));
            return false;
        }
        if (!*answer) {
            m_declined = true;
            if (m_text) {
                m_err << "vellico-cli: " << say("Suppression annulée : rien n'a été supprimé.")
                      << "\n";
            }
        }
        return *answer;
    }

    // 4. Each library under its lock, claimed just before its turn.
    void deleteAll()
    {
        std::size_t turn = 0;
        for (Pending& pending : m_batch) {
            if (stopRequested()) {
                break; // no further library is touched after a stop
            }
            if (pending.folders.empty() || pending.refused) {
                continue;
            }
            deleteLibrary(pending, ++turn);
        }
        if (m_text && !m_style.quiet) {
            m_out << "\n";
        }
    }

    void deleteLibrary(Pending& pending, std::size_t turn)
    {
        const AnalysedLibrary& library = pending.library;
        cleanup::LibraryLock lock(m_calls);
        if (!lock.acquire(libraryPath(library))) {
            m_errors.fail({library.input, library.info.url, refusalMessage(lock, library)});
            return;
        }
        // Through the directory the claim holds, only if it is still the
        // library analysed, and under a search only inside what was searched.
        cleanup::RemovalBounds bounds;
        bounds.bundleFd = lock.bundleDescriptor();
        bounds.bundleIdentity = library.info.identity;
        if (m_options.recursive) {
            bounds.within = m_inputs.bounds;
        }
        const auto totalCount = static_cast<std::int64_t>(pending.folders.size());
        // What is freed so far: the analysed sizes of the folders done, or,
        // with --yes, the removal's own count, which moves within a folder.
        platform::WalkProgress counters;
        platform::WalkControl walk = m_walk;
        walk.progress = &counters;
        std::atomic<std::size_t> foldersDone{0};
        std::atomic<std::int64_t> analysedFreed{0};
        const auto line = [&] {
            const std::int64_t freed = m_measuring
                                           ? static_cast<std::int64_t>(counters.bytes.load())
                                           : analysedFreed.load();
            return progressText(
                {turn, m_libraryTotal}, shown(library.info.name),
                i18n::fillPlural("%2/%1 dossiers, %3 libérés", totalCount,
                                 {i18n::formatCount(static_cast<std::int64_t>(foldersDone.load())),
                                  sizeText(freed, m_style)}));
        };
        {
            std::optional<ProgressTicker> ticker;
            if (m_measuring && m_progress.enabled()) {
                ticker.emplace(m_progress, line);
            }
            pending.result = cleanup::performDeletion(
                library.info.url, pending.folders,
                [&](std::size_t folders, std::int64_t freed) {
                    foldersDone = folders;
                    analysedFreed = freed;
                    m_progress.show(line());
                },
                m_calls, walk, bounds);
        }
        m_progress.clear();
        lock.release();

        cleanup::DeletionResult& result = *pending.result;
        if (m_measuring) {
            // Nothing was measured before: what is freed is what the removal
            // counted, a folder removed in part included.
            result.freedSpace = result.removedSpace;
        }
        m_summary.freedSpace = model::saturatingAdd(m_summary.freedSpace, result.freedSpace);
        if (!result.errors.empty() || result.stopped) {
            ++m_summary.failed;
        }
        if (m_text && (!m_style.quiet || !result.errors.empty() || result.stopped)) {
            printOutcome(m_out, result, library, totalCount, m_style,
                         m_measuring ? &pending.folders : nullptr);
        }
    }

    // The sizes of the folders the analysis left to the deletion (--yes):
    // what the removal counted, plus, for a folder it did not remove
    // completely (a failure, a library refused), what is left of it,
    // measured now. After a stop nothing more is walked: a folder then
    // counts what was removed from it. The library's and the batch's totals
    // follow.
    void settleSizes()
    {
        for (Pending& pending : m_batch) {
            AnalysedLibrary& library = pending.library;
            for (model::FoundFolder& folder : library.info.foundFolders) {
                if (library.measuredLater.count(folder.url) == 0) {
                    continue;
                }
                std::int64_t size = 0;
                bool complete = false;
                if (pending.result) {
                    for (std::size_t i = 0; i < pending.folders.size(); ++i) {
                        if (pending.folders[i].url == folder.url &&
                            i < pending.result->removals.size()) {
                            size = pending.result->removals[i].bytes;
                            complete = pending.result->removals[i].complete;
                        }
                    }
                }
                if (!complete && !stopRequested()) {
                    size = model::saturatingAdd(size, sizeLeft(library, folder));
                }
                folder.size = size;
                library.info.totalSize = model::saturatingAdd(library.info.totalSize, size);
                m_summary.totalSize = model::saturatingAdd(m_summary.totalSize, size);
                if (library.selection.count(folder.url) != 0) {
                    m_summary.selectedSize = model::saturatingAdd(m_summary.selectedSize, size);
                }
            }
            library.measuredLater.clear();
        }
    }

    // What is left of one of the library's folders, reached again from the
    // library's own descriptor without following a link, and only when it
    // is still the directory the analysis listed; 0 otherwise (gone).
    std::int64_t sizeLeft(const AnalysedLibrary& library, const model::FoundFolder& folder)
    {
        if (!library.bundle || !*library.bundle || !folder.identity) {
            return 0;
        }
        const std::filesystem::path relative =
            folder.url.lexically_normal().lexically_relative(library.info.url.lexically_normal());
        platform::UniqueFd dir = library.bundle->duplicate();
        for (const std::filesystem::path& part : relative) {
            if (!dir || part.empty() || part == "." || part == "..") {
                return 0;
            }
            dir.reset(::openat(dir.get(), part.c_str(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        }
        const std::optional<model::FileIdentity> id =
            dir ? platform::identityOf(dir.get()) : std::nullopt;
        if (!id || !id->sameAs(*folder.identity)) {
            return 0;
        }
        return analysis::measureTree(std::move(dir), {}, m_walk).total;
    }

    // 5. The document, from what each phase kept.
    void writeJson()
    {
        nlohmann::ordered_json libraries = nlohmann::ordered_json::array();
        for (const Pending& pending : m_batch) {
            libraries.push_back(pendingJson(pending, m_options.dryRun));
        }
        nlohmann::ordered_json doc = documentJson("clean", m_options.preset);
        doc["dryRun"] = m_options.dryRun;
        doc["declined"] = m_declined;
        doc["libraries"] = std::move(libraries);
        doc["backups"] = backupsJson(m_backups);
        doc["errors"] = m_errors.json();
        doc["summary"] = summaryJson(m_summary, true);
        doc["interrupted"] = stopRequested();
        m_out << dumpJson(doc) << "\n";
    }

    const CommandLine& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    platform::SystemCalls& m_calls;
    StopSignals* m_signals;
    const analysis::MachineAnalysis m_machine;
    const ReportStyle m_style;
    const bool m_text;
    // --yes: the folders to delete are not measured before, their deletion
    // counts what it removes.
    const bool m_measuring;
    ProgressLine m_progress;
    platform::WalkControl m_walk;
    BatchSummary m_summary;
    BatchErrors m_errors;
    Inputs m_inputs;
    std::vector<Pending> m_batch;
    std::vector<FoundBackup> m_backups; // met by a search: listed, not cleaned
    std::size_t m_folderTotal = 0;
    std::size_t m_libraryTotal = 0;
    std::int64_t m_byteTotal = 0;
    bool m_declined = false;
};

} // namespace

int runClean(const CommandLine& options, Confirmation& confirmation, std::ostream& out,
             std::ostream& err, platform::SystemCalls& calls, StopSignals* signals)
{
    return CleanRun(options, out, err, calls, signals).run(confirmation);
}

} // namespace vellico::cli
