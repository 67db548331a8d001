#pragma once

#include "analysis/intake_refusal.hpp"
#include "analysis/library_batch.hpp"
#include "analysis/machine_analysis.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The one sequence that takes an item to a library ready to analyse, or to
// a refusal: resolve a link, check the extension, the lock flag, the cloud
// state and the library files, look for a backup record and the external
// cache. Where a user must decide, it asks `IntakeQuestions`; each front end
// answers its own way (the command line from its flags, a batch by rule).
// From the moment the item is decided on, the library is one open
// directory: everything after goes through it, never through its path.
namespace vellico::analysis {

// What to do with a backup bundle.
struct BackupAnswer {
    enum class Kind {
        takeOriginal, // analyse the library it was made from in its place
        listAsBackup, // list it as a backup, with its size (a batch's rule)
        refuse,       // take nothing; `refusalKey` says why (%1 its name, %2 the original)
    };
    Kind kind = Kind::refuse;
    std::string_view refusalKey;
};

class IntakeQuestions {
public:
    virtual ~IntakeQuestions() = default;

    // `input` is a backup of `original` (both absolute).
    virtual BackupAnswer backupFound(const BatchInput& input, const std::filesystem::path& backup,
                                     const std::filesystem::path& original) = 0;
};

// A library that passed every check.
struct ReadyLibrary {
    platform::UniqueFd bundle; // the library's directory, held from the decision on
    std::filesystem::path url; // absolute, as shown
    bool isFromAlias = false;
    std::optional<std::filesystem::path> backup; // the backup taken in its original's place
    std::optional<std::string> missingCache;     // where the settings say the cache is, when absent
};

// Where one item ended.
struct IntakeOutcome {
    std::optional<ReadyLibrary> library;
    std::optional<Refusal> refusal;
    std::optional<FoundBackup> backup; // listed as a backup, not analysed
    bool repeated = false;             // a library already taken in under another path
};

// Takes one item in. A library found by a search is reached again from the
// search's folder and never resolved as an alias; under a search's bounds,
// an original named by a backup record outside them is refused. Blocking.
IntakeOutcome takeInItem(const BatchInput& input, const MachineAnalysis& machine,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk = {});

} // namespace vellico::analysis
