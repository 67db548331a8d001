#include "analysis/intake_flow.hpp"

#include "analysis/folder_size.hpp"
#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "analysis/machine_analysis.hpp"
#include "platform/file_system.hpp"

namespace vellico::analysis {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view changedSinceSearchKey =
    "« %1 » a changé depuis la recherche : elle n'a pas été traitée.";
constexpr std::string_view notDownloadedKey =
    "« %1 » n'est pas encore téléchargée depuis le nuage. Téléchargez-la avant de continuer.";
constexpr std::string_view outsideSearchKey =
    "« %1 » est hors des dossiers parcourus : elle n'a pas été traitée.";

fs::path absoluteOf(const fs::path& path)
{
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    return (ec ? path : full).lexically_normal();
}

} // namespace

IntakeServices intakeServices(const MachineAnalysis& machine)
{
    return {machine.aliases(), machine.itemFlags(), machine.cloud(), machine.bookmarks()};
}

IntakeFlow::IntakeFlow(BatchInput input, IntakeServices services, BatchScope& scope,
                       platform::WalkControl walk)
    : m_input(std::move(input)), m_services(std::move(services)), m_scope(scope), m_walk(walk)
{}

fs::path IntakeFlow::access() const
{
    // Path-only services reach the open directory itself through /proc.
    return accessPath(m_ready.bundle.get(), m_ready.url);
}

void IntakeFlow::refuse(const fs::path& path, std::string_view key, std::vector<std::string> args)
{
    m_outcome.refusal = Refusal{m_input.path, absoluteOf(path), key, std::move(args)};
    m_step = Step::done;
}

std::optional<IntakeQuestion> IntakeFlow::advance()
{
    using Kind = IntakeError::Kind;
    for (;;) {
        switch (m_step) {
        case Step::open:
            if (!openItem()) {
                return std::nullopt;
            }
            m_step = Step::cloud;
            break;
        case Step::cloud:
            if (auto question = checkCloud()) {
                return question;
            }
            m_step = Step::libraryFiles;
            break;
        case Step::libraryFiles:
            if (!hasLibraryFiles(access())) {
                refuse(m_ready.url, messageKey(Kind::notALibrary), {m_ready.displayName});
                return std::nullopt;
            }
            m_step = Step::backup;
            break;
        case Step::backup:
            if (auto question = checkBackup()) {
                return question;
            }
            if (m_step == Step::done) {
                return std::nullopt;
            }
            break;
        case Step::original:
            if (!openOriginal()) {
                return std::nullopt;
            }
            m_step = Step::identity;
            break;
        case Step::identity:
            finish();
            return std::nullopt;
        case Step::done:
            return std::nullopt;
        }
    }
}

bool IntakeFlow::openItem()
{
    using Kind = IntakeError::Kind;
    if (m_input.root) {
        // Found by the search: never resolved as an alias, and reached again
        // from the searched folder only if it is still what the search saw.
        m_ready.url = absoluteOf(m_input.path);
        m_ready.displayName = bundleDisplayName(m_ready.url);
        m_ready.bundle = reopenFound(m_input);
        if (!m_ready.bundle) {
            refuse(m_ready.url, changedSinceSearchKey, {m_ready.displayName});
            return false;
        }
    } else {
        const auto item =
            checkLibraryItem(m_input.path, *m_services.aliases, *m_services.itemFlags);
        if (!item) {
            refuse(m_input.path, messageKey(item.error().kind), {item.error().name.string()});
            return false;
        }
        m_ready.url = item->url;
        m_ready.displayName = item->displayName;
        m_ready.isFromAlias = item->isFromAlias;
        m_ready.bundle = platform::openDirectoryPath(m_ready.url.string());
        if (!m_ready.bundle) {
            refuse(m_ready.url, messageKey(Kind::notALibrary), {m_ready.displayName});
            return false;
        }
    }
    // The lock flag of the directory now held, whatever the path checked
    // before it was opened.
    if (m_services.itemFlags->isUserImmutable(access())) {
        refuse(m_ready.url, messageKey(Kind::locked), {m_ready.displayName});
        return false;
    }
    return true;
}

std::optional<IntakeQuestion> IntakeFlow::checkCloud()
{
    const auto cloud = m_services.cloud->itemState(access());
    if (!cloud || !cloud->isUbiquitous) {
        return std::nullopt;
    }
    if (cloud->isCurrent) {
        m_ready.inCloudDrive = true;
        return std::nullopt;
    }
    return IntakeQuestion{
        IntakeQuestion::Kind::notDownloaded, m_ready.displayName, m_ready.url, {}};
}

void IntakeFlow::answer(CloudAnswer answer)
{
    switch (answer) {
    case CloudAnswer::refuse:
        refuse(m_ready.url, notDownloadedKey, {m_ready.displayName});
        break;
    case CloudAnswer::downloaded:
        m_step = Step::libraryFiles;
        break;
    case CloudAnswer::stop:
        m_step = Step::done;
        break;
    }
}

std::optional<IntakeQuestion> IntakeFlow::checkBackup()
{
    const BackupCheck backup = analysis::checkBackup(access(), *m_services.bookmarks);
    if (!backup.isBackup) {
        m_step = Step::identity;
        return std::nullopt;
    }
    if (!backup.original) {
        refuse(m_ready.url, messageKey(IntakeError::Kind::backupWithoutOriginal),
               {m_ready.displayName});
        return std::nullopt;
    }
    m_original = absoluteOf(*backup.original);
    return IntakeQuestion{IntakeQuestion::Kind::backupFound, m_ready.displayName, m_ready.url,
                          m_original};
}

void IntakeFlow::answer(BackupAnswer answer)
{
    switch (answer.kind) {
    case BackupAnswer::Kind::refuse:
        refuse(m_ready.url, answer.refusalKey, {m_ready.displayName, m_original.string()});
        return;
    case BackupAnswer::Kind::stop:
        m_step = Step::done;
        return;
    case BackupAnswer::Kind::listAsBackup: {
        m_step = Step::done;
        const std::optional<model::FileIdentity> id = platform::identityOf(m_ready.bundle.get());
        if (id && !m_scope.firstTime(*id)) {
            m_outcome.repeated = true;
            return;
        }
        m_outcome.backup = FoundBackup{m_input.path, m_ready.url, m_original,
                                       folderSize(std::move(m_ready.bundle), m_walk)};
        return;
    }
    case BackupAnswer::Kind::takeOriginal:
        m_step = Step::original;
        return;
    }
}

bool IntakeFlow::openOriginal()
{
    m_ready.backup = m_ready.url;
    m_ready.url = m_original;
    m_ready.bundle = platform::openDirectoryPath(m_ready.url.string());
    if (!m_ready.bundle) {
        refuse(*m_ready.backup, messageKey(IntakeError::Kind::backupWithoutOriginal),
               {m_ready.displayName});
        return false;
    }
    // A backup record is a file anyone may plant: under a search, the
    // original it names is taken only inside the folders searched.
    if (m_scope.bounds() != nullptr && !insideBounds(m_ready.bundle.get(), *m_scope.bounds())) {
        refuse(m_ready.url, outsideSearchKey, {bundleDisplayName(m_ready.url)});
        return false;
    }
    return true;
}

void IntakeFlow::finish()
{
    m_step = Step::done;
    // One library, one (device, inode), whatever the paths that led to it.
    const std::optional<model::FileIdentity> id = platform::identityOf(m_ready.bundle.get());
    if (id && !m_scope.firstTime(*id)) {
        m_outcome.repeated = true;
        return;
    }
    m_ready.missingCache = missingExternalCache(access(), *m_services.bookmarks);
    m_outcome.library = std::move(m_ready);
}

IntakeOutcome takeInItem(const BatchInput& input, const IntakeServices& services,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk)
{
    IntakeFlow flow(input, services, scope, walk);
    while (const std::optional<IntakeQuestion> question = flow.advance()) {
        switch (question->kind) {
        case IntakeQuestion::Kind::notDownloaded:
            flow.answer(CloudAnswer::refuse);
            break;
        case IntakeQuestion::Kind::backupFound:
            flow.answer(questions.backupFound(input, question->path, question->original));
            break;
        }
    }
    return flow.takeOutcome();
}

IntakeOutcome takeInItem(const BatchInput& input, const MachineAnalysis& machine,
                         IntakeQuestions& questions, BatchScope& scope,
                         const platform::WalkControl& walk)
{
    return takeInItem(input, intakeServices(machine), questions, scope, walk);
}

} // namespace vellico::analysis
