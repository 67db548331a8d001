#pragma once

#include "analysis/intake_refusal.hpp"
#include "analysis/library_batch.hpp"
#include "platform/alias_files.hpp"
#include "platform/bookmark_resolver.hpp"
#include "platform/cloud_drive.hpp"
#include "platform/item_flags.hpp"
#include "platform/tree_walker.hpp"
#include "platform/unique_fd.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The one sequence that takes an item to a library ready to analyse, or to
// a refusal: resolve a link, check the extension, the lock flag, the cloud
// state and the library files, look for a backup record and the external
// cache. Where a user must decide, the flow stops with a question; each
// front end answers its own way (the window with its sheets, the command
// line from its flags, a batch by rule) and the flow goes on from there.
// From the moment the item is decided on, the library is one open
// directory: everything after goes through it, never through its path.
namespace vellico::analysis {

class MachineAnalysis;

// The services the intake reads; each safe to use from several threads.
struct IntakeServices {
    std::shared_ptr<const platform::AliasFiles> aliases;
    std::shared_ptr<const platform::ItemFlags> itemFlags;
    std::shared_ptr<platform::CloudDrive> cloud;
    std::shared_ptr<const platform::BookmarkResolver> bookmarks;
};

IntakeServices intakeServices(const MachineAnalysis& machine);

// Where the flow needs a decision.
struct IntakeQuestion {
    enum class Kind {
        notDownloaded, // the library is only a placeholder of the cloud drive here
        backupFound,   // the library is a backup of `original`
    };
    Kind kind = Kind::notDownloaded;
    std::string name;               // the library's display name
    std::filesystem::path path;     // the library, absolute
    std::filesystem::path original; // backupFound: the library it was made from
};

// What to do with a library that is not downloaded.
enum class CloudAnswer {
    refuse,     // refuse it: it must be downloaded first
    downloaded, // it was downloaded meanwhile: go on
    stop,       // the user declined; nothing to report
};

// What to do with a backup bundle.
struct BackupAnswer {
    enum class Kind {
        takeOriginal, // analyse the library it was made from in its place
        listAsBackup, // list it as a backup, with its size (a batch's rule)
        refuse,       // take nothing; `refusalKey` says why (%1 its name, %2 the original)
        stop,         // the user declined; nothing to report
    };
    Kind kind = Kind::refuse;
    std::string_view refusalKey;
};

// A library that passed every check.
struct ReadyLibrary {
    platform::UniqueFd bundle; // the library's directory, held from the decision on
    std::filesystem::path url; // absolute, as shown
    std::string displayName;   // of the item taken in (a backup's, when its original replaced it)
    bool isFromAlias = false;
    bool inCloudDrive = false;                   // kept by the cloud drive, downloaded
    std::optional<std::filesystem::path> backup; // the backup taken in its original's place
    std::optional<std::string> missingCache;     // where the settings say the cache is, when absent
};

// Where one item ended. All empty: the user stopped it.
struct IntakeOutcome {
    std::optional<ReadyLibrary> library;
    std::optional<Refusal> refusal;
    std::optional<FoundBackup> backup; // listed as a backup, not analysed
    bool repeated = false;             // a library already taken in under another path
};

// One item on its way in. A library found by a search is reached again from
// the search's folder and never resolved as an alias; under a search's
// bounds, an original named by a backup record outside them is refused.
// Not thread-safe: one thread at a time drives it (it may change threads
// between calls).
class IntakeFlow {
public:
    IntakeFlow(BatchInput input, IntakeServices services, BatchScope& scope,
               platform::WalkControl walk = {});

    // Runs the checks up to the next question, answered with answer() before
    // the next call, or to the end: none, and outcome() is ready. Blocking.
    std::optional<IntakeQuestion> advance();
    void answer(CloudAnswer answer);
    void answer(BackupAnswer answer);

    IntakeOutcome takeOutcome() { return std::move(m_outcome); }

private:
    enum class Step { open, cloud, libraryFiles, backup, original, identity, done };

    bool openItem();
    std::optional<IntakeQuestion> checkCloud();
    std::optional<IntakeQuestion> checkBackup();
    bool openOriginal();
    void finish();
    void refuse(const std::filesystem::path& path, std::string_view key,
                std::vector<std::string> args);
    std::filesystem::path access() const;

    BatchInput m_input;
    IntakeServices m_services;
    BatchScope& m_scope;
    platform::WalkControl m_walk;
    Step m_step = Step::open;
    ReadyLibrary m_ready;
    std::filesystem::path m_original;
    IntakeOutcome m_outcome;
};

// The command line's and a batch's questions, answered on the spot.
class IntakeQuestions {
public:
    virtual ~IntakeQuestions() = default;

    // `input` is a backup of `original` (both absolute).
    virtual BackupAnswer backupFound(const BatchInput& input, const std::filesystem::path& backup,
                                     const std::filesystem::path& original) = 0;
};

// Takes one item in, answering `questions`; a library not downloaded is
// refused. Blocking.
IntakeOutcome takeInItem(const BatchInput& input, const IntakeServices& services,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk = {});
IntakeOutcome takeInItem(const BatchInput& input, const MachineAnalysis& machine,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk = {});

} // namespace vellico::analysis
