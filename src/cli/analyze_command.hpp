#pragma once

#include "analysis/analysis_services.hpp"
#include "cli/report.hpp"
#include "model/editing_preset.hpp"

#include <filesystem>
#include <memory>
#include <optional>

#include <iosfwd>
#include <string>
#include <vector>

namespace vellico::cli {

struct AnalyzeOptions {
    bool json = false;
    std::optional<std::filesystem::path>
        home; // whose Movies folder holds backups; $HOME by default
    model::EditingPreset preset = model::EditingPreset::inProgress;
    std::vector<std::string> paths;
    int jobs = 0; // threads of the walk; 0: the number of cores, at most 8
};

// Takes one path through the intake checks and the analysis, then applies
// the preset. The error text is the user message when the intake refused it.
struct AnalyzeOutcome {
    std::optional<AnalysedLibrary> library;
    std::string error;
};
AnalyzeOutcome analyzeOne(const std::string& input, model::EditingPreset preset,
                          const analysis::AnalysisServices& services, bool showProgress);

// The machine's services for the analysis: mounted volumes, bookmark
// resolution, the backup search in `home`'s Movies folder and on every
// volume, the external-cache lookup.
class MachineServices {
public:
    explicit MachineServices(const std::optional<std::filesystem::path>& home);
    ~MachineServices();
    // The services, walking with `walk` (threads, stop token).
    analysis::AnalysisServices services(const platform::WalkControl& walk = {}) const;

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

// `vellico-cli analyze`: every path in turn. Exit status 0 when every path
// was analysed, 1 when any failed, 130 when SIGINT stopped the analysis (at
// once, nothing printed on stdout).
int runAnalyze(const AnalyzeOptions& options, std::ostream& out, std::ostream& err);

} // namespace vellico::cli
