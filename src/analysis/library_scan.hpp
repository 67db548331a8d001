#pragma once

#include "analysis/analysis_services.hpp"
#include "analysis/status_text.hpp"
#include "model/found_folder.hpp"
#include "platform/unique_fd.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace vellico::analysis {

// Top-level folders that are neither rule folders nor events; never entered.
bool isReservedRootName(std::string_view name);

// Analyses one library bundle: its total size, the rule folders at its top
// level and in each event (any other top-level folder is an event), its
// backups and external cache through `services`, in display order (backups
// first, then discovery order). Publishes French progress keys through
// `progress` as it goes. Never throws and never fails: what cannot be read
// counts as absent or 0; a bundle that cannot be listed yields its total
// size and nothing else.
//
// Symbolic links are never folders here: a link named "Render Files" in an
// event, or a top-level link to a folder elsewhere, is neither listed nor
// measured, so nothing outside the bundle can end up selected for deletion.
// Every listed folder carries the identity the scan saw, for the deletion.
//
// Blocking file-system work: call it off the GUI thread.
model::BundleInfo analyzeBundle(const std::filesystem::path& bundle, bool isFromAlias,
                                const AnalysisServices& services, const ProgressSink& progress);

// The same for a bundle already open: `bundleFd` is what is analysed,
// `bundle` its path as shown (names and locations are taken from it).
model::BundleInfo analyzeBundle(platform::UniqueFd bundleFd, const std::filesystem::path& bundle,
                                bool isFromAlias, const AnalysisServices& services,
                                const ProgressSink& progress);

// The bundle's display name: last path component without its extension.
std::string bundleDisplayName(const std::filesystem::path& bundle);

} // namespace vellico::analysis
