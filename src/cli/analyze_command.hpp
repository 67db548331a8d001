#pragma once

#include "cli/report.hpp"
#include "model/editing_preset.hpp"

#include <iosfwd>
#include <string>
#include <vector>

namespace vellico::cli {

struct AnalyzeOptions {
    bool json = false;
    model::EditingPreset preset = model::EditingPreset::inProgress;
    std::vector<std::string> paths;
};

// Takes one path through the intake checks and the analysis, then applies
// the preset. The error text is the user message when the intake refused it.
struct AnalyzeOutcome {
    std::optional<AnalysedLibrary> library;
    std::string error;
};
AnalyzeOutcome analyzeOne(const std::string& input, model::EditingPreset preset, bool showProgress);

// `vellico-cli analyze`: every path in turn. Exit status 0 when every path
// was analysed, 1 when any failed.
int runAnalyze(const AnalyzeOptions& options, std::ostream& out, std::ostream& err);

} // namespace vellico::cli
