#pragma once

#include "model/editing_preset.hpp"
#include "model/found_folder.hpp"
#include "platform/unique_fd.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vellico::cli {

// One analysed library with the selection its preset (refined by --only and
// --except) makes, and what the command line noticed on the way in.
struct AnalysedLibrary {
    std::string input; // the argument as the user typed it (or found below a folder given)
    model::BundleInfo info;
    model::EditingPreset preset = model::EditingPreset::inProgress;
    model::FolderSelection selection;
    // The backup bundle that was given, when --original put its original in
    // its place.
    std::optional<std::filesystem::path> backup;
    // Where the settings say the external cache is, when it is not there.
    std::optional<std::string> missingCache;
    // The library's directory, open from the moment it was decided on: the
    // analysis, the editor check, the lock and the deletion all go through it.
    std::shared_ptr<const platform::UniqueFd> bundle;
    // Folders left out of the selection because they lie outside the
    // folders a search was confined to.
    std::vector<std::filesystem::path> outsideBounds;
};

// Totals of a batch, for the summary after the libraries.
struct BatchSummary {
    std::size_t libraries = 0;  // analysed
    std::size_t failed = 0;     // inputs refused, and libraries not cleaned as asked
    std::size_t incomplete = 0; // analysed with folders that could not be read
    std::int64_t totalSize = 0;
    std::int64_t selectedSize = 0;
    std::int64_t freedSpace = 0; // clean only

    void add(const AnalysedLibrary& library);
};

// "inProgress" / "done", as in the JSON output.
std::string presetKey(model::EditingPreset preset);

// The library summary and the grouped folder list, as the main window shows
// them: groups with their counts from two folders on, sizes, and check marks
// ([x] selected, [-] partly, [ ] not), columns aligned by display width.
void printLibrary(std::ostream& out, const AnalysedLibrary& library);

// The lines that say a library was measured only in part (on stderr): how
// many folders could not be read and the first few of them.
void printUnreadable(std::ostream& err, const AnalysedLibrary& library);

// The summary of a batch, after the libraries; `clean` adds the space freed.
void printSummary(std::ostream& out, const BatchSummary& summary, bool clean);

nlohmann::ordered_json libraryJson(const AnalysedLibrary& library);
nlohmann::ordered_json summaryJson(const BatchSummary& summary, bool clean);

// Sets json[key] to `path` as text. A path that is not valid UTF-8 is shown
// with replacement characters there, and its raw bytes go to
// json[key + "Bytes"] in base64, so that it round-trips.
void putPath(nlohmann::ordered_json& json, const std::string& key,
             const std::filesystem::path& path);

// An entry of the "errors" array: the input as given (null for an error of
// the whole batch), the path concerned (null when none) and the message.
nlohmann::ordered_json errorJson(const std::optional<std::string>& input,
                                 const std::optional<std::filesystem::path>& path,
                                 const std::string& message);

// The top of every JSON document: schemaVersion, command, preset.
nlohmann::ordered_json documentJson(const char* command, model::EditingPreset preset);

// One "vellico-cli: avertissement : …" line per thing the analysis left out.
void printNotices(std::ostream& err, const AnalysedLibrary& library);

// `text` (a name, a path, or a message holding some) as it may be sent to a
// terminal: control characters and invalid UTF-8 escaped, as `ls -b` does.
std::string shown(std::string_view text);

// JSON text with any invalid UTF-8 in names replaced, never an exception.
std::string dumpJson(const nlohmann::ordered_json& json);

// The absolute, normalised form of `path` (as given when it cannot be made
// absolute).
std::filesystem::path absolutePath(const std::filesystem::path& path);

} // namespace vellico::cli
