#include "cli/analyze_command.hpp"

#include "cli/library_batch.hpp"
#include "cli/stop_signals.hpp"
#include "cli/texts.hpp"

#include <ostream>

namespace vellico::cli {

int runAnalyze(const CommandLine& options, std::ostream& out, std::ostream& err,
               const StopSignals* signals)
{
    const Inputs inputs = collectInputs(options.paths, options.recursive);
    const analysis::MachineAnalysis machine(options.home);
    ProgressLine progress(progressWanted());
    platform::WalkControl walk;
    walk.jobs = options.jobs;
    walk.stop = signals != nullptr ? &signals->token() : nullptr;
    nlohmann::ordered_json libraries = nlohmann::ordered_json::array();
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    BatchSummary summary;

    const auto fail = [&](const InputError& error) {
        errors.push_back(errorJson(error.input, error.path, error.message));
        err << errorLine(error) << "\n";
        ++summary.failed;
    };
    for (const InputError& error : inputs.errors) {
        fail(error);
    }
    std::size_t index = 0;
    for (const std::string& input : inputs.libraries) {
        const BatchPosition position{++index, inputs.libraries.size()};
        TakenIn taken = takeIn(input, options, machine, walk, progress, position);
        if (signals != nullptr && signals->token().stopRequested()) {
            progress.clear();
            err << "vellico-cli: " << say("analyse interrompue") << "\n";
            return 128 + signals->signalNumber();
        }
        if (!taken.library) {
            fail(*taken.error);
            continue;
        }
        const AnalysedLibrary& library = *taken.library;
        summary.add(library);
        printWarnings(err, library);
        if (options.json) {
            libraries.push_back(libraryJson(library));
        } else {
            printLibrary(out, library);
            out << "\n";
        }
    }
    if (options.json) {
        nlohmann::ordered_json doc = documentJson("analyze", options.preset);
        doc["libraries"] = std::move(libraries);
        doc["errors"] = std::move(errors);
        doc["summary"] = summaryJson(summary, false);
        out << dumpJson(doc) << "\n";
    } else {
        printSummary(out, summary, false);
    }
    out.flush();
    return summary.failed == 0 && summary.incomplete == 0 && out ? 0 : 1;
}

} // namespace vellico::cli
