#include "cli/analyze_command.hpp"

#include "cli/library_batch.hpp"
#include "cli/stop_signals.hpp"
#include "cli/terminal.hpp"
#include "cli/texts.hpp"

#include <algorithm>
#include <ostream>

namespace vellico::cli {

int runAnalyze(const CommandLine& options, std::ostream& out, std::ostream& err,
               const StopSignals* signals)
{
    const analysis::MachineAnalysis machine(options.home);
    const ReportStyle style = reportStyle(options, outputIsTerminal(out));
    ProgressLine progress(progressWanted() && !options.quiet);
    platform::WalkControl walk;
    walk.jobs = options.jobs;
    walk.stop = signals != nullptr ? &signals->token() : nullptr;
    const Inputs inputs = collectInputs(options.paths, options.recursive, walk);
    nlohmann::ordered_json libraries = nlohmann::ordered_json::array();
    // The text report comes once every library is analysed, in the order
    // --sort asks for.
    std::vector<AnalysedLibrary> analysed;
    std::vector<FoundBackup> backups; // met by a search: listed, not analysed
    BatchSummary summary;
    BatchErrors errors(err, options.json, summary);
    for (const analysis::Refusal& refusal : inputs.refusals) {
        errors.fail(inputError(refusal));
    }
    const auto stopped = [signals] { return signals != nullptr && signals->stopRequested(); };
    BatchScope scope(options.recursive ? &inputs.bounds : nullptr);
    std::size_t index = 0;
    for (const Input& input : inputs.libraries) {
        const BatchPosition position{++index, inputs.libraries.size()};
        TakenIn taken = takeIn(input, options, machine, walk, progress, position, scope);
        if (stopped()) {
            break; // the analysis was cut short: nothing of it is used
        }
        if (taken.repeated) {
            continue;
        }
        if (taken.backup) {
            backups.push_back(std::move(*taken.backup));
            continue;
        }
        if (!taken.library) {
            errors.fail(withSearchHint(*taken.error, options.recursive));
            continue;
        }
        summary.add(*taken.library);
        if (options.json) {
            libraries.push_back(libraryJson(*taken.library));
        } else {
            printWarnings(err, *taken.library, options.quiet);
            analysed.push_back(std::move(*taken.library));
        }
    }
    if (options.json) {
        nlohmann::ordered_json doc = documentJson("analyze", options.preset);
        doc["libraries"] = std::move(libraries);
        doc["backups"] = backupsJson(backups);
        doc["errors"] = errors.json();
        doc["summary"] = summaryJson(summary, false);
        doc["interrupted"] = stopped();
        out << dumpJson(doc) << "\n";
    } else if (!stopped()) {
        std::stable_sort(analysed.begin(), analysed.end(),
                         [&style](const AnalysedLibrary& a, const AnalysedLibrary& b) {
                             return comesBefore(a, b, style.sort);
                         });
        if (!style.quiet) {
            for (const AnalysedLibrary& library : analysed) {
                printLibrary(out, library, style);
                out << "\n";
            }
            for (const FoundBackup& backup : backups) {
                out << backupLine(backup) << "\n";
            }
            if (!backups.empty()) {
                out << "\n";
            }
        }
        printSummary(out, summary, SummaryEnd::none, style);
    }
    out.flush();
    if (stopped()) {
        if (!options.json) {
            err << "vellico-cli: " << say("analyse interrompue") << "\n";
        }
        return 128 + signals->signalNumber();
    }
    return errors.empty() && summary.incomplete == 0 && out ? 0 : 1;
}

} // namespace vellico::cli
