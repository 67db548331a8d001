#pragma once

#include "model/editing_preset.hpp"
#include "model/found_folder.hpp"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>

namespace vellico::cli {

// One analysed library with the selection its preset makes.
struct AnalysedLibrary {
    std::string input; // the argument as the user typed it
    model::BundleInfo info;
    model::EditingPreset preset = model::EditingPreset::inProgress;
    model::FolderSelection selection;
};

// "inProgress" / "done", as in the JSON output.
std::string presetKey(model::EditingPreset preset);

// The library summary and the grouped folder list, as the main window shows
// them: groups with their counts from two folders on, sizes, and check marks
// ([x] selected, [-] partly, [ ] not).
void printLibrary(std::ostream& out, const AnalysedLibrary& library);

nlohmann::ordered_json libraryJson(const AnalysedLibrary& library);

// One "vellico-cli: avertissement : …" line per thing the analysis left out.
void printNotices(std::ostream& err, const AnalysedLibrary& library);

// `text` (a name, a path, or a message holding some) as it may be sent to a
// terminal: control characters and invalid UTF-8 escaped, as `ls -b` does.
std::string shown(std::string_view text);

// JSON text with any invalid UTF-8 in names replaced, never an exception.
std::string dumpJson(const nlohmann::ordered_json& json);

} // namespace vellico::cli
