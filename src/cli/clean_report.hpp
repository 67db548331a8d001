#pragma once

#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "cli/command_line.hpp"
#include "cli/library_batch.hpp"
#include "cli/report.hpp"
#include "model/folder_group.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vellico::cli {

// What `clean` says about a batch: the selection before the question, the
// refusals, and what each library's deletion did, as text or in the JSON
// document.

// One library of the batch on its way to deletion.
struct Pending {
    AnalysedLibrary library;
    std::vector<model::FoundFolder> folders;       // what its selection deletes
    bool refused = false;                          // an error already says why it is not deleted
    std::optional<cleanup::DeletionResult> result; // once its deletion ran
};

// The refusal for a library someone holds, naming the holder as the lock
// record does: the editor on a host, or another Vellico.
std::string heldMessage(const AnalysedLibrary& library);

// Why the library's lock could not be claimed, for the error list.
std::string refusalMessage(const cleanup::LibraryLock& lock, const AnalysedLibrary& library);

// "12 dossiers", "1 dossier".
std::string folderCount(std::size_t count);

// One library's selection before the question: its name and path, then
// each folder to delete with its size, by path with --dry-run or --verbose.
// With `sized` false (clean --yes: the deletion measures the folders as it
// removes them), the folders come by name, without sizes, and the last line
// counts them.
void printSelection(std::ostream& out, const Pending& pending, const CommandLine& options,
                    const ReportStyle& style, bool sized);

// "3 bibliothèques", "1 bibliothèque".
std::string libraryCount(std::size_t count);

// One library's entry in the document: what the analysis found, then what
// the deletion did (nothing yet when it did not run).
nlohmann::ordered_json pendingJson(const Pending& pending, bool dryRun);

// What became of one library's deletion, as text: the outcome line, then
// where a stop left it and every failure.
// With `folders` (clean --yes), each folder the deletion tried follows the
// outcome line, with what its removal freed there.
void printOutcome(std::ostream& out, const cleanup::DeletionResult& result,
                  const AnalysedLibrary& library, std::int64_t folderCount,
                  const ReportStyle& style, const std::vector<model::FoundFolder>* folders);

} // namespace vellico::cli
