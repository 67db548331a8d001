#pragma once

#include "cli/command_line.hpp"
#include "model/editing_preset.hpp"
#include "model/found_folder.hpp"
#include "platform/unique_fd.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
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
    // Folders the analysis listed but did not measure (`clean --yes`): their
    // size is 0 until the deletion has counted what it removed from them.
    std::set<std::filesystem::path> measuredLater;
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

// How the text output looks, from the command line and the terminal.
struct ReportStyle {
    SizeUnits units = SizeUnits::decimal;
    SortOrder sort = SortOrder::size;
    bool colour = false;  // sizes and selection marks in colour
    bool quiet = false;   // only errors and the summary
    bool verbose = false; // every folder's path under its line
};

// The style the command line asks for. Colour is on with --color=always,
// or with the default when `outIsTerminal`, TERM is set and not "dumb", and
// NO_COLOR is unset or empty.
ReportStyle reportStyle(const CommandLine& options, bool outIsTerminal);

// A size in the units of `style`, as a word in a sentence: "5,57 Go",
// "5,19 Gio", "5570000000 octets"; zero is a number too ("0 octet").
std::string sizeText(std::int64_t bytes, const ReportStyle& style);

// The same for a column: the number's integer part right-aligned and its
// fraction padded, so that the decimal separators of a column line up; in
// colour when the style says so.
std::string sizeColumn(std::int64_t bytes, const ReportStyle& style);

// `path` made absolute, "~" in place of the home folder ($HOME), escaped for
// the terminal.
std::string shortPath(const std::filesystem::path& path);

// A folder as one line names it: a backup folder by its own path (two
// backups of one location differ by their last name), any other by its
// display name.
std::string folderLabel(const model::FoundFolder& folder);

// True when `a` comes before `b` in the order of `sort`: largest total size
// first (equal sizes by name), or by name.
bool comesBefore(const AnalysedLibrary& a, const AnalysedLibrary& b, SortOrder sort);

// "inProgress" / "done", as in the JSON output.
std::string presetKey(model::EditingPreset preset);

// The library summary and the grouped folder list, as the main window shows
// them: groups with their counts from two folders on, sizes, and check marks
// ([x] selected, [-] partly, [ ] not), columns aligned by display width.
// Groups (events) and the folders in each come in the style's order.
void printLibrary(std::ostream& out, const AnalysedLibrary& library, const ReportStyle& style = {});

// The lines that say a library was measured only in part (on stderr): how
// many folders could not be read and the first few of them.
void printUnreadable(std::ostream& err, const AnalysedLibrary& library);

// What the summary ends with: nothing more (analyze), the space freed
// (clean), or the space a clean would free (clean --dry-run).
enum class SummaryEnd { none, freed, wouldFree };

// The summary of a batch, after the libraries. Nothing when every input
// failed before its analysis: the errors said why.
void printSummary(std::ostream& out, const BatchSummary& summary, SummaryEnd end,
                  const ReportStyle& style = {});

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
