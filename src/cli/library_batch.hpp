#pragma once

#include "analysis/library_batch.hpp"
#include "analysis/machine_analysis.hpp"
#include "cli/command_line.hpp"
#include "cli/report.hpp"
#include "cli/terminal.hpp"
#include "platform/file_identity.hpp"
#include "platform/unique_fd.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vellico::cli {

// An input that could not be taken: the argument as given, the path
// concerned (absolute; none when there is none) and the user message.
struct InputError {
    std::string input;
    std::optional<std::filesystem::path> path;
    std::string message;
};

// The batch's inputs, search and scope come from the core.
using Input = analysis::BatchInput;
using Inputs = analysis::BatchInputs;
using analysis::accessPath;
using analysis::BatchScope;
using analysis::collectInputs;
using analysis::FoundBackup;

// A refusal of the core in the user's language.
InputError inputError(const analysis::Refusal& refusal);

// The errors of one batch, each reported once: kept for the JSON document,
// and written on `err` as one line of text unless the output is JSON (the
// document carries them then, and stderr stays for usage errors). An input
// or library that fails counts as failed in `summary`; a failure of the
// whole batch (no terminal to confirm on) names no library and counts none.
class BatchErrors {
public:
    BatchErrors(std::ostream& err, bool json, BatchSummary& summary);

    void fail(const InputError& error);
    void failBatch(const std::string& message);

    // No error so far.
    bool empty() const { return m_entries.empty(); }
    // The "errors" array of the document.
    const nlohmann::ordered_json& json() const { return m_entries; }

private:
    std::ostream& m_err;
    bool m_json;
    BatchSummary& m_summary;
    nlohmann::ordered_json m_entries = nlohmann::ordered_json::array();
};

// One input taken through the intake and the analysis, with the command
// line's answers to the application's questions: an alias is followed
// (isFromAlias); a backup is refused with the original's path, or replaced
// by its original with --original; a missing external cache is noted and
// the library analysed; a locked or cloud-only library is refused.
struct TakenIn {
    std::optional<AnalysedLibrary> library;
    std::optional<InputError> error;
    bool repeated = false;             // a library already taken in under another path: left out
    std::optional<FoundBackup> backup; // a backup found by a search, without --original
};

// A found backup as one line of text; the found backups as the document's
// "backups" array.
std::string backupLine(const FoundBackup& backup);
nlohmann::ordered_json backupsJson(const std::vector<FoundBackup>& backups);

// Where a batch stands, for the progress line: library `index` (from 1) of `count`.
struct BatchPosition {
    std::size_t index = 1;
    std::size_t count = 1;
};

// `walk` says how the library is walked (threads, stop token). While the
// library is analysed, `progress` shows library k of N, the analysis's
// current step and the files and bytes counted so far.
TakenIn takeIn(const Input& input, const CommandLine& options,
               const analysis::MachineAnalysis& machine, const platform::WalkControl& walk,
               ProgressLine& progress, BatchPosition position, BatchScope& scope);

// The folders to delete among `folders`: with `only`, every folder of those
// kinds, whatever the preset; otherwise the preset's selection. Folders of a
// kind in `except` are then taken out.
model::FolderSelection refinedSelection(model::EditingPreset preset,
                                        const std::vector<model::FoundFolder>& folders,
                                        const std::optional<std::set<std::string>>& only,
                                        const std::set<std::string>& except);

// The warnings about a library that was analysed all the same, on `err`:
// a missing external cache, what the analysis left out, folders that could
// not be read.
// With `quiet`, only what is a failure (folders that could not be read).
void printWarnings(std::ostream& err, const AnalysedLibrary& library, bool quiet = false);

// `error` with a hint when its input is a folder that is not a library and
// the search was not asked for: -r would search it.
InputError withSearchHint(InputError error, bool recursive);

// The message of an input error as printed on stderr: the program, the
// input as given and the message.
std::string errorLine(const InputError& error);

// "[k/N] name : activity", the progress line's text for one library; a
// name longer than a third of the terminal is cut.
std::string progressText(BatchPosition position, const std::string& name,
                         const std::string& activity);

} // namespace vellico::cli
