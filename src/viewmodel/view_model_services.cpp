#include "viewmodel/view_model_services.hpp"

#include "analysis/library_scan.hpp"
#include "analysis/machine_analysis.hpp"
#include "desktop/desktop_workspace.hpp"

namespace vellico::viewmodel {

ViewModelServices machineServices(const std::optional<std::filesystem::path>& home)
{
    auto machine = std::make_shared<const analysis::MachineAnalysis>(home);

    ViewModelServices services;
    services.aliases = machine->aliases();
    services.itemFlags = machine->itemFlags();
    services.cloud = machine->cloud();
    services.bookmarks = machine->bookmarks();
    services.analyze = [machine](platform::UniqueFd bundle, const std::filesystem::path& url,
                                 bool isFromAlias, const analysis::ProgressSink& progress,
                                 const platform::WalkControl& walk) {
        return analysis::analyzeBundle(std::move(bundle), url, isFromAlias, machine->services(walk),
                                       progress);
    };
    services.workspace = std::make_shared<desktop::DesktopWorkspace>();
    services.clock = std::make_shared<desktop::EventLoopClock>();
    return services;
}

} // namespace vellico::viewmodel
