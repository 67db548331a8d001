#include "analysis/intake_flow.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "platform/file_system.hpp"

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

fs::path absoluteOf(const fs::path& path)
{
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    return (ec ? path : full).lexically_normal();
}

IntakeOutcome refused(const BatchInput& input, const fs::path& path, std::string_view key,
                      std::vector<std::string> args)
{
    IntakeOutcome outcome;
    outcome.refusal = Refusal{input.path, absoluteOf(path), key, std::move(args)};
    return outcome;
}

IntakeOutcome refused(const BatchInput& input, const fs::path& path, const IntakeError& error)
{
    return refused(input, path, messageKey(error.kind), {error.name.string()});
}

} // namespace

IntakeOutcome takeInItem(const BatchInput& input, const MachineAnalysis& machine,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk)
{
    using Kind = IntakeError::Kind;
    ReadyLibrary ready;
    if (input.root) {
        // Found by the search: never resolved as an alias, and reached again
        // from the searched folder only if it is still what the search saw.
        ready.url = absoluteOf(input.path);
        ready.bundle = reopenFound(input);
        if (!ready.bundle) {
            return refused(input, ready.url,
                           "« %1 » a changé depuis la recherche : elle n'a pas été traitée.",
                           {bundleDisplayName(ready.url)});
        }
    } else {
        const auto item = checkLibraryItem(input.path, *machine.aliases(), *machine.itemFlags());
        if (!item) {
            return refused(input, input.path, item.error());
        }
        ready.url = item->url;
        ready.isFromAlias = item->isFromAlias;
        ready.bundle = platform::openDirectoryPath(ready.url.string());
        if (!ready.bundle) {
            return refused(input, ready.url, {Kind::notALibrary, item->displayName});
        }
    }
    // Path-only services reach the open directory itself through /proc.
    const auto access = [&ready] { return accessPath(ready.bundle.get(), ready.url); };
    const std::string name = bundleDisplayName(ready.url);
    // The lock flag of the directory now held, whatever the path checked
    // before it was opened.
    if (machine.itemFlags()->isUserImmutable(access())) {
        return refused(input, ready.url, {Kind::locked, name});
    }
    if (const auto cloud = machine.cloud()->itemState(access());
        cloud && cloud->isUbiquitous && !cloud->isCurrent) {
        return refused(input, ready.url,
                       "« %1 » n'est pas encore téléchargée depuis le nuage. Téléchargez-la avant "
                       "de continuer.",
                       {name});
    }
    if (!hasLibraryFiles(access())) {
        return refused(input, ready.url, {Kind::notALibrary, name});
    }
    const BackupCheck backup = checkBackup(access(), *machine.bookmarks());
    if (backup.isBackup) {
        if (!backup.original) {
            return refused(input, ready.url, {Kind::backupWithoutOriginal, name});
        }
        const fs::path original = absoluteOf(*backup.original);
        const BackupAnswer answer = questions.backupFound(input, ready.url, original);
        switch (answer.kind) {
        case BackupAnswer::Kind::refuse:
            return refused(input, ready.url, answer.refusalKey, {name, original.string()});
        case BackupAnswer::Kind::listAsBackup: {
            IntakeOutcome outcome;
            const std::optional<model::FileIdentity> id = platform::identityOf(ready.bundle.get());
            if (id && !scope.firstTime(*id)) {
                outcome.repeated = true;
                return outcome;
            }
            outcome.backup = FoundBackup{input.path, ready.url, original,
                                         folderSize(std::move(ready.bundle), walk)};
            return outcome;
        }
        case BackupAnswer::Kind::takeOriginal:
            break;
        }
        ready.backup = ready.url;
        ready.url = original;
        ready.bundle = platform::openDirectoryPath(ready.url.string());
        if (!ready.bundle) {
            return refused(input, *ready.backup, {Kind::backupWithoutOriginal, name});
        }
        // A backup record is a file anyone may plant: under a search, the
        // original it names is taken only inside the folders searched.
        if (scope.bounds() != nullptr && !insideBounds(ready.bundle.get(), *scope.bounds())) {
            return refused(input, ready.url,
                           "« %1 » est hors des dossiers parcourus : elle n'a pas été traitée.",
                           {bundleDisplayName(ready.url)});
        }
    }
    // One library, one (device, inode), whatever the paths that led to it.
    const std::optional<model::FileIdentity> id = platform::identityOf(ready.bundle.get());
    if (id && !scope.firstTime(*id)) {
        IntakeOutcome outcome;
        outcome.repeated = true;
        return outcome;
    }
    ready.missingCache = missingExternalCache(access(), *machine.bookmarks());
    IntakeOutcome outcome;
    outcome.library = std::move(ready);
    return outcome;
}

} // namespace vellico::analysis
