#include "cli/analyze_command.hpp"

#include "cli/library_batch.hpp"
#include "cli/texts.hpp"

#include <signal.h>

#include <ostream>

namespace vellico::cli {

namespace {

// Set by SIGINT while libraries are analysed: the walk stops at once. A
// second SIGINT ends the program (SA_RESETHAND).
platform::StopToken g_interrupt;

void onInterrupt(int)
{
    g_interrupt.requestStop();
}

} // namespace

int runAnalyze(const CommandLine& options, std::ostream& out, std::ostream& err)
{
    const Inputs inputs = collectInputs(options.paths, options.recursive);
    const analysis::MachineAnalysis machine(options.home);
    ProgressLine progress(progressWanted());
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);
    platform::WalkControl walk;
    walk.jobs = options.jobs;
    walk.stop = &g_interrupt;
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
        if (g_interrupt.stopRequested()) {
            ::sigaction(SIGINT, &previous, nullptr);
            progress.clear();
            err << "vellico-cli: " << say("analyse interrompue") << "\n";
            return 130;
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
    ::sigaction(SIGINT, &previous, nullptr);
    out.flush();
    return summary.failed == 0 && summary.incomplete == 0 && out ? 0 : 1;
}

} // namespace vellico::cli
