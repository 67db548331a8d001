// The intake of one dropped item, from the window wait to the analysis, and
// the wait for a cloud download. One coroutine reads top to bottom; each
// file-system check runs on a worker and every wait is followed by a check
// that this run is still the newest one (and that the view model is still
// there): a run that a newer drop replaced stops without touching anything.

#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "cleanup/library_lock.hpp"
#include "cleanup/lock_record.hpp"
#include "platform/file_system.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/progress_relay.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

#include <QTimer>

#include <atomic>
#include <chrono>

namespace vellico::viewmodel {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int windowWaitAttempts = 20;
constexpr auto windowWaitStep = 50ms;
constexpr auto downloadPollInterval = 500ms;

struct DownloadPoll {
    bool isCurrent = false;
    std::optional<std::string> error;
};

// One item on its way in, driven from the GUI thread and advanced on a
// worker, one step at a time. The scope is the item's own: the window takes
// in one library at a time.
struct WindowIntake {
    WindowIntake(analysis::BatchInput input, analysis::IntakeServices services)
        : flow(std::move(input), std::move(services), scope)
    {}
    analysis::BatchScope scope;
    analysis::IntakeFlow flow;
};

} // namespace

QCoro::Task<> MainViewModel::handleDropAsync(fs::path dropped, quint64 generation)
{
    QPointer<MainViewModel> self(this);
    auto intake = runIntake(std::move(dropped), generation);
    std::optional<LibraryToAnalyse> library = co_await intake;
    if (!self || !isCurrent(generation)) {
        co_return;
    }
    if (!library) {
        // Every end that does not analyse leaves the window idle, including
        // the ends after a download that had shown the analysing state.
        setAppState(AppState::idle);
        emit intakeStopped();
        co_return;
    }
    setAppState(AppState::analyzing);
    auto scan = analyze(library->bundle, library->url, library->isFromAlias, generation);
    model::BundleInfo info = co_await scan;
    if (!self) {
        co_return;
    }
    if (!isCurrent(generation)) {
        emit analysisDiscarded();
        co_return;
    }
    applyAnalysisResult(std::move(info));
}

QCoro::Task<std::optional<MainViewModel::LibraryToAnalyse>>
MainViewModel::runIntake(fs::path dropped, quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const auto current = [&] { return self && isCurrent(generation); };

    // 1. Give the main window a moment to appear, so a sheet has a parent.
    auto window = waitForMainWindow(generation);
    if (!co_await window) {
        co_return std::nullopt;
    }

    // 2.–8. The core's intake: alias followed, extension, display name, lock
    // flag, cloud drive, the library's own files and a backup record.
    auto core = takeIn(dropped, generation);
    std::optional<TakenIn> taken = co_await core;
    if (!taken || !current()) {
        co_return std::nullopt;
    }
    if (taken->outcome.refusal) {
        setErrorMessage(texts::refusalText(*taken->outcome.refusal));
        co_return std::nullopt;
    }
    if (!taken->outcome.library) {
        co_return std::nullopt; // the user stopped it in a sheet
    }
    analysis::ReadyLibrary& ready = *taken->outcome.library;
    const fs::path url = ready.url;
    // From here on the library is the directory the intake decided on: the
    // editor's lock is probed, and the library analysed, through it.
    m_library = std::make_shared<const platform::UniqueFd>(std::move(ready.bundle));
    // The name every later message shows, even after a switch to a backup's
    // original.
    const QString displayName = texts::displayText(ready.displayName);

    // 9. An external cache that is not where the settings say.
    if (ready.missingCache) {
        m_missingCachePath = texts::displayText(*ready.missingCache);
        auto cacheQuestion = ask(m_missingCacheContinuation, ActiveSheet::missingCache);
        const bool goOn = co_await cacheQuestion;
        if (!current() || !goOn) {
            co_return std::nullopt;
        }
    }

    // 10. Open in the editor: analysing is allowed, deleting will not be.
    auto editorStep = settleEditorLock(url, displayName, generation);
    if (!co_await editorStep || !current()) {
        co_return std::nullopt;
    }

    // 11. Remind that the library was reached through an alias.
    if (ready.isFromAlias) {
        auto aliasStep = confirmAlias(dropped, url, generation);
        if (!co_await aliasStep || !current()) {
            co_return std::nullopt;
        }
    }

    // 12. Remind that the library lives in the cloud drive (already local).
    if (ready.inCloudDrive && !taken->downloadedNow) {
        m_iCloudSheetLibName = displayName;
        m_iCloudSheetIsDownloaded = true;
        auto cloudQuestion = ask(m_iCloudContinuation, ActiveSheet::iCloud);
        const bool goOn = co_await cloudQuestion;
        if (!current() || !goOn) {
            co_return std::nullopt;
        }
    }

    // 13. Analyse (the caller does, so that this run's result is tagged too),
    // through the directory the intake decided on.
    co_return LibraryToAnalyse{url, ready.isFromAlias, m_library};
}

QCoro::Task<std::optional<MainViewModel::TakenIn>> MainViewModel::takeIn(fs::path dropped,
                                                                         quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const auto current = [&] { return self && isCurrent(generation); };
    auto intake = std::make_shared<WindowIntake>(
        analysis::BatchInput{dropped.string(), nullptr, {}, {}},
        analysis::IntakeServices{m_services.aliases, m_services.itemFlags, m_services.cloud,
                                 m_services.bookmarks});
    bool downloadedNow = false;
    for (;;) {
        auto step = runOn(&m_workers, [intake] { return intake->flow.advance(); });
        const std::optional<analysis::IntakeQuestion> question = co_await step;
        if (!current()) {
            co_return std::nullopt;
        }
        if (!question) {
            break;
        }
        const QString name = texts::displayText(question->name);
        switch (question->kind) {
        case analysis::IntakeQuestion::Kind::notDownloaded: {
            // A placeholder of the cloud drive: downloaded first, if the user
            // agrees.
            auto download = offerDownload(question->path, name, generation);
            const bool downloaded = co_await download;
            if (!current()) {
                co_return std::nullopt;
            }
            downloadedNow = downloadedNow || downloaded;
            intake->flow.answer(downloaded ? analysis::CloudAnswer::downloaded
                                           : analysis::CloudAnswer::stop);
            break;
        }
        case analysis::IntakeQuestion::Kind::backupFound: {
            // A backup: offer its original library instead.
            auto backupStep = askAboutBackup(name, question->original, generation);
            const analysis::BackupAnswer answer = co_await backupStep;
            if (!current()) {
                co_return std::nullopt;
            }
            intake->flow.answer(answer);
            break;
        }
        }
    }
    co_return TakenIn{intake->flow.takeOutcome(), downloadedNow};
}

QCoro::Task<bool> MainViewModel::waitForMainWindow(quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const auto clock = m_services.clock;
    for (int attempt = 0; attempt < windowWaitAttempts; ++attempt) {
        if (m_services.isMainWindowVisible && m_services.isMainWindowVisible()) {
            break;
        }
        auto nap = clock->sleep(windowWaitStep);
        co_await nap;
        if (!self || !isCurrent(generation)) {
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> MainViewModel::offerDownload(fs::path url, QString displayName,
                                               quint64 generation)
{
    QPointer<MainViewModel> self(this);
    m_iCloudSheetLibName = displayName;
    m_iCloudSheetIsDownloaded = false;
    auto downloadQuestion = ask(m_iCloudContinuation, ActiveSheet::iCloud);
    const bool wantsDownload = co_await downloadQuestion;
    if (!self || !isCurrent(generation) || !wantsDownload) {
        co_return false;
    }
    auto downloadWait = waitForDownload(url, displayName, generation);
    co_return co_await downloadWait;
}

QCoro::Task<analysis::BackupAnswer>
MainViewModel::askAboutBackup(QString displayName, fs::path original, quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const analysis::BackupAnswer stop{analysis::BackupAnswer::Kind::stop, {}};
    m_backupSheetData = BackupSheetData{displayName, original};
    auto backupQuestion = ask(m_backupContinuation, ActiveSheet::backup);
    const BackupResponse answer = co_await backupQuestion;
    if (!self || !isCurrent(generation)) {
        co_return stop;
    }
    switch (answer) {
    case BackupResponse::analyzeOriginal:
        co_return analysis::BackupAnswer{analysis::BackupAnswer::Kind::takeOriginal, {}};
    case BackupResponse::showInFinder:
        m_services.workspace->revealInFileManager(original);
        break;
    case BackupResponse::cancel:
        break;
    }
    co_return stop;
}

QCoro::Task<bool> MainViewModel::settleEditorLock(fs::path url, QString displayName,
                                                  quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const auto current = [&] { return self && isCurrent(generation); };
    auto editorCheck = isOpenInEditor(m_library);
    const bool open = co_await editorCheck;
    if (!current()) {
        co_return false;
    }
    if (!open) {
        co_return true;
    }
    // Who holds it, as its lock record (".lock-info") says; nobody named
    // when it cannot be read.
    auto holderRead = runOn(&m_workers, [bundle = m_library] {
        return cleanup::lockHolder(bundle->get()).value_or(cleanup::LockHolder{});
    });
    const cleanup::LockHolder holder = co_await holderRead;
    if (!current()) {
        co_return false;
    }
    m_fcpLockedSheetHost = texts::displayText(holder.hostname);
    m_fcpLockedSheetApplication = texts::displayText(holder.application);
    m_fcpLockedSheetLibName = displayName;
    m_pendingLockCheckURL = url;
    auto editorQuestion = ask(m_fcpLockedContinuation, ActiveSheet::fcpLocked);
    const FCPLockedResponse answer = co_await editorQuestion;
    if (!current()) {
        co_return false;
    }
    switch (answer) {
    case FCPLockedResponse::analyzeAnyway:
        setIsFCPLocked(true);
        co_return true;
    case FCPLockedResponse::unlocked:
        setIsFCPLocked(false);
        co_return true;
    case FCPLockedResponse::cancel:
    case FCPLockedResponse::showFCP:
        break;
    }
    co_return false;
}

QCoro::Task<bool> MainViewModel::confirmAlias(fs::path dropped, fs::path url, quint64 generation)
{
    QPointer<MainViewModel> self(this);
    m_aliasSheetData = AliasSheetData{texts::pathText(dropped.stem()), url};
    auto aliasQuestion = ask(m_aliasContinuation, ActiveSheet::alias);
    const AliasResponse answer = co_await aliasQuestion;
    if (!self || !isCurrent(generation)) {
        co_return false;
    }
    switch (answer) {
    case AliasResponse::analyze:
        co_return true;
    case AliasResponse::showInFinder:
        m_services.workspace->revealInFileManager(url);
        break;
    case AliasResponse::cancel:
        break;
    }
    co_return false;
}

QCoro::Task<bool> MainViewModel::waitForDownload(fs::path url, QString displayName,
                                                 quint64 generation)
{
    QPointer<MainViewModel> self(this);
    const auto current = [&] { return self && isCurrent(generation); };
    const auto cloud = m_services.cloud;
    const auto clock = m_services.clock;

    auto downloadStart = runOn(&m_workers, [cloud, url] { return cloud->startDownloading(url); });
    const std::optional<std::string> refused = co_await downloadStart;
    if (!current()) {
        co_return false;
    }
    if (refused) {
        setErrorMessage(texts::downloadCouldNotStart(displayName));
        co_return false;
    }
    setAnalysisStatus(texts::downloadingStatus());
    setAppState(AppState::analyzing);
    // No time limit: the user ends a wait that never finishes by bringing in
    // another library, which makes this run stale and stops the polling.
    for (;;) {
        auto nap = clock->sleep(downloadPollInterval);
        co_await nap;
        if (!current()) {
            co_return false;
        }
        auto pollCheck = runOn(&m_workers, [cloud, url] {
            DownloadPoll result;
            result.isCurrent = cloud->isDownloadCurrent(url); // status first, then the error
            result.error = cloud->downloadError(url);
            return result;
        });
        const DownloadPoll poll = co_await pollCheck;
        if (!current()) {
            co_return false;
        }
        if (poll.error) {
            setErrorMessage(texts::downloadFailed(texts::displayText(*poll.error)));
            setAppState(AppState::idle);
            co_return false;
        }
        if (poll.isCurrent) {
            break;
        }
    }
    setAnalysisStatus(std::nullopt);
    co_return true;
}

QCoro::Task<model::BundleInfo>
MainViewModel::analyze(std::shared_ptr<const platform::UniqueFd> bundle, fs::path url,
                       bool isFromAlias, quint64 generation)
{
    QPointer<MainViewModel> self(this);
    auto relay =
        ProgressRelay::create(this, [self, generation](const analysis::StatusText& status) {
            if (self && self->isCurrent(generation) && self->m_appState == AppState::analyzing) {
                self->setAnalysisStatus(texts::statusText(status));
            }
        });
    // The walker counts files into the run's counters; a timer on the GUI
    // thread samples them, so the count costs the walk next to nothing. A
    // newer generation asks the walk to stop through the run's token.
    auto run = std::make_shared<AnalysisRun>();
    m_analysisRun = run;
    setFilesScanned(0);
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, this, [this, run, generation] {
        if (isCurrent(generation) && m_appState == AppState::analyzing) {
            setFilesScanned(
                static_cast<qint64>(run->progress.files.load(std::memory_order_relaxed)));
        }
    });
    sampler.start(100);
    auto scan =
        runOn(&m_workers, [analyzer = m_services.analyze, bundle, url, isFromAlias, relay, run] {
            platform::WalkControl walk;
            walk.stop = &run->stop;
            walk.progress = &run->progress;
            // A descriptor of its own: a later analysis of the same library may
            // run while this one winds down.
            return analyzer(
                bundle->duplicate(), url, isFromAlias,
                [relay](const analysis::StatusText& status) { relay->post(status); }, walk);
        });
    model::BundleInfo result = co_await scan;
    if (self && m_analysisRun == run) {
        m_analysisRun.reset();
    }
    // A walk shorter than the sampling period would otherwise end with the
    // count still at zero: the last count shown is the walk's own total.
    if (self && isCurrent(generation) && m_appState == AppState::analyzing) {
        setFilesScanned(static_cast<qint64>(run->progress.files.load(std::memory_order_relaxed)));
    }
    co_return result;
}

} // namespace vellico::viewmodel
