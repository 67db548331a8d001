#include "viewmodel/va_ravevada_view_model.hpp"

#include "cleanup/deletion_run.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

#include <QFile>

namespace vellico::viewmodel {

namespace fs = std::filesystem;

namespace {

// The dropped item as an absolute path without a trailing "/", so that its
// last component is its name ("Film.fcpbundle/" is "Film.fcpbundle").
fs::path droppedPath(const QUrl& url)
{
    const QString text = url.isLocalFile() ? url.toLocalFile() : url.path();
    std::string path = QFile::encodeName(text).toStdString();
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? fs::path(path) : absolute;
}

} // namespace

VARAvevadaViewModel::VARAvevadaViewModel(ViewModelServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    // Enough threads that a stale analysis (stopped, but maybe waiting for a
    // slow disk) or a check hanging on a dead network disk does not hold up a
    // new intake.
    m_workers.setMaxThreadCount(8);
    m_lockQueue.setMaxThreadCount(1);
}

VARAvevadaViewModel::~VARAvevadaViewModel()
{
    // A waiting intake resumes with its cancel value, finds itself stale and
    // ends without touching anything; its coroutine frame is freed.
    nextGeneration();
    resumeAllWithCancel();
    // Workers post progress to this object and read services it shares:
    // they must be done before it goes. Coroutines still awaiting their
    // results find the object gone when they resume and return.
    m_workers.waitForDone();
    m_lockQueue.waitForDone();
    if (m_lock) {
        m_lock->release();
    }
}

quint64 VARAvevadaViewModel::nextGeneration()
{
    if (m_analysisRun) {
        m_analysisRun->stop.requestStop();
        m_analysisRun.reset();
    }
    return ++m_generation;
}

int VARAvevadaViewModel::lockFileDescriptor() const
{
    return m_lock ? m_lock->lockFileDescriptor() : -1;
}

std::optional<fs::path> VARAvevadaViewModel::lockedBundleURL() const
{
    return m_lock ? m_lock->lockedBundleURL() : std::nullopt;
}

void VARAvevadaViewModel::handleDrop(const QUrl& url)
{
    if (isDeleting()) {
        // The library must stay claimed until its deletion ends; the newest
        // request waits and is opened then.
        m_deferredDrop = url;
        return;
    }
    m_deferredDrop.reset();
    // A new generation first: the runs resumed below must see themselves stale.
    const quint64 generation = nextGeneration();
    cancelPendingContinuations();
    emit closePanelsRequested();
    releaseLibraryLock();
    setErrorMessage(std::nullopt);
    setBundleInfo(std::nullopt);
    setAppState(AppState::idle);
    setAnalysisStatus(std::nullopt);
    setDeletionErrors({});
    setFreedSpace(0);
    setIsFCPLocked(false);
    // Each library's external cache is its own: the path expected for the
    // last one must never show in the summary of this one.
    m_missingCachePath.clear();
    // Not kept: the run ends by itself, and a newer generation makes it inert.
    handleDropAsync(droppedPath(url), generation);
}

void VARAvevadaViewModel::openDeferredDrop()
{
    if (const std::optional<QUrl> url = std::exchange(m_deferredDrop, std::nullopt)) {
        handleDrop(*url);
        emit deferredDropStarted();
    }
}

void VARAvevadaViewModel::cancelPendingContinuations()
{
    setActiveSheet(std::nullopt);
    resumeAllWithCancel();
}

void VARAvevadaViewModel::resumeAllWithCancel()
{
    resumeOnce(m_aliasContinuation, AliasResponse::cancel);
    resumeOnce(m_iCloudContinuation, false);
    resumeOnce(m_backupContinuation, BackupResponse::cancel);
    resumeOnce(m_missingCacheContinuation, false);
    resumeOnce(m_fcpLockedContinuation, FCPLockedResponse::cancel);
}

void VARAvevadaViewModel::handleAliasResponse(AliasResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_aliasContinuation, response);
}

void VARAvevadaViewModel::handleICloudResponse(bool goOn)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_iCloudContinuation, goOn);
}

void VARAvevadaViewModel::handleBackupResponse(BackupResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_backupContinuation, response);
}

void VARAvevadaViewModel::handleMissingCacheResponse(bool goOn)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_missingCacheContinuation, goOn);
}

void VARAvevadaViewModel::handleFCPLockedResponse(FCPLockedResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_fcpLockedContinuation, response);
}

void VARAvevadaViewModel::applyAnalysisResult(model::BundleInfo info)
{
    const bool hasExternalCache = info.cacheURL.has_value();
    setBundleInfo(std::move(info));
    setSelectedPreset(model::EditingPreset::inProgress);
    applyPreset(m_selectedPreset);
    setAnalysisStatus(std::nullopt);
    if (hasExternalCache) {
        setActiveSheet(ActiveSheet::cacheInfo);
    }
    setAppState(AppState::ready);
}

void VARAvevadaViewModel::applyPreset(model::EditingPreset preset)
{
    if (!m_bundleInfo) {
        return;
    }
    setSelectedPreset(preset);
    setSelectedFolders(model::presetSelection(preset, m_bundleInfo->foundFolders));
}

model::CheckState VARAvevadaViewModel::checkState(const model::FolderGroup& group) const
{
    return model::checkState(group, m_selectedFolders);
}

std::int64_t VARAvevadaViewModel::selectedSize() const
{
    return model::selectedSize(m_bundleInfo ? &*m_bundleInfo : nullptr, m_selectedFolders);
}

void VARAvevadaViewModel::recheckLockOnActivation()
{
    if (m_activeSheet != ActiveSheet::fcpLocked) {
        if (!m_isFCPLocked || m_appState != AppState::ready || !m_bundleInfo) {
            return;
        }
        reanalyzeWhenClosed(m_bundleInfo->url, m_bundleInfo->isFromAlias, m_generation);
        return;
    }
    const std::optional<fs::path> library =
        m_bundleInfo ? std::optional(m_bundleInfo->url) : m_pendingLockCheckURL;
    if (!library) {
        return;
    }
    answerWhenClosed(*library, m_generation);
}

QCoro::Task<> VARAvevadaViewModel::reanalyzeWhenClosed(fs::path library, bool isFromAlias,
                                                       quint64 generation)
{
    QPointer<VARAvevadaViewModel> self(this);
    auto editorCheck = isOpenInEditor(library);
    const bool open = co_await editorCheck;
    if (!self || !isCurrent(generation) || open) {
        co_return;
    }
    // Another activation may have got here first, or the state moved on.
    if (!m_isFCPLocked || m_appState != AppState::ready || !m_bundleInfo ||
        m_bundleInfo->url != library) {
        co_return;
    }
    const quint64 run = nextGeneration();
    setIsFCPLocked(false);
    setAppState(AppState::analyzing);
    auto scan = analyze(library, isFromAlias, run);
    model::BundleInfo info = co_await scan;
    if (!self) {
        co_return;
    }
    if (!isCurrent(run)) {
        emit analysisDiscarded();
        co_return;
    }
    setBundleInfo(std::move(info));
    applyPreset(m_selectedPreset);
    setAnalysisStatus(std::nullopt);
    setAppState(AppState::ready);
}

QCoro::Task<> VARAvevadaViewModel::answerWhenClosed(fs::path library, quint64 generation)
{
    QPointer<VARAvevadaViewModel> self(this);
    auto editorCheck = isOpenInEditor(library);
    const bool open = co_await editorCheck;
    if (!self || !isCurrent(generation) || open || m_activeSheet != ActiveSheet::fcpLocked) {
        co_return;
    }
    setActiveSheet(std::nullopt);
    resumeOnce(m_fcpLockedContinuation, FCPLockedResponse::unlocked);
}

QCoro::Task<bool> VARAvevadaViewModel::isOpenInEditor(fs::path library)
{
    // On the lock queue: after any release we queued, so our own claim is
    // never mistaken for the editor's.
    auto probe = runOn(&m_lockQueue, [library, calls = m_services.systemCalls] {
        return cleanup::isLibraryOpenInFCP(library, *calls);
    });
    co_return co_await probe;
}

void VARAvevadaViewModel::reset()
{
    if (isDeleting()) {
        return;
    }
    nextGeneration(); // a running analysis stops, a download wait publishes nothing now
    resumeAllWithCancel();
    releaseLibraryLock();
    setBundleInfo(std::nullopt);
    setErrorMessage(std::nullopt);
    setAppState(AppState::idle);
    setActiveSheet(std::nullopt);
    setSelectedFolders({});
    setSelectedPreset(model::EditingPreset::inProgress);
    setFreedSpace(0);
    setDeletionErrors({});
    setIsFCPLocked(false);
    setAnalysisStatus(std::nullopt);
    m_missingCachePath.clear();
}

void VARAvevadaViewModel::releaseLibraryLock()
{
    std::shared_ptr<cleanup::LibraryLock> lock = std::exchange(m_lock, nullptr);
    if (!lock) {
        return;
    }
    m_lockQueue.start([lock] { lock->release(); });
}

void VARAvevadaViewModel::startDeletion()
{
    setActiveSheet(std::nullopt);
    if (!m_bundleInfo) {
        return;
    }
    // One run at a time: a second press while the claim is on its way, or a
    // call in any other state, would claim again and release the first run's
    // lock under it.
    if (m_appState != AppState::ready || m_claimPending) {
        return;
    }
    std::vector<model::FoundFolder> folders =
        cleanup::foldersToDelete(*m_bundleInfo, m_selectedFolders);
    if (folders.empty()) {
        return;
    }
    m_claimPending = true;
    runDeletion(*m_bundleInfo, std::move(folders), m_generation);
}

void VARAvevadaViewModel::setFilesScanned(qint64 files)
{
    if (files == m_filesScanned) {
        return;
    }
    m_filesScanned = files;
    emit filesScannedChanged();
}

void VARAvevadaViewModel::setDeletionProgress(int done, int total)
{
    if (done == m_deletionFoldersDone && total == m_deletionFoldersTotal) {
        return;
    }
    m_deletionFoldersDone = done;
    m_deletionFoldersTotal = total;
    emit deletionProgressChanged();
}

QCoro::Task<> VARAvevadaViewModel::runDeletion(model::BundleInfo info,
                                               std::vector<model::FoundFolder> folders,
                                               quint64 generation)
{
    QPointer<VARAvevadaViewModel> self(this);
    platform::SystemCalls* calls = m_services.systemCalls;
    releaseLibraryLock();
    auto lock = std::make_shared<cleanup::LibraryLock>(*calls);
    auto claim = runOn(&m_lockQueue, [lock, bundle = info.url] { return lock->acquire(bundle); });
    const bool claimed = co_await claim;
    if (!self) {
        co_return; // the lock's owner is gone: the last holder releases it
    }
    m_claimPending = false;
    if (!isCurrent(generation)) {
        if (claimed) {
            m_lockQueue.start([lock] { lock->release(); });
        }
        openDeferredDrop();
        co_return;
    }
    if (!claimed) {
        setErrorMessage(texts::claimRefused(lock->refusal(), texts::displayText(info.name),
                                            lock->refusalError()));
        openDeferredDrop();
        co_return;
    }
    m_lock = lock;
    setDeletionProgress(0, static_cast<int>(folders.size()));
    setAppState(AppState::deleting);
    // Progress crosses to the GUI thread as queued calls. The view model
    // outlives the job: its destructor waits for running worker jobs.
    cleanup::DeletionProgress progress = [this](std::size_t done, std::int64_t) {
        QMetaObject::invokeMethod(
            this,
            [this, done] { setDeletionProgress(static_cast<int>(done), m_deletionFoldersTotal); },
            Qt::QueuedConnection);
    };
    // The release happens on the worker right after the last removal, so
    // that the lock files are back in their released form when `done` shows.
    auto deletion = runOn(&m_lockQueue, [lock, bundle = info.url, identity = info.identity,
                                         folders = std::move(folders), calls,
                                         progress = std::move(progress), stop = &m_stopDeletion] {
        platform::WalkControl walk;
        walk.stop = stop;
        // Through the directory the claim opened, and only if it is still
        // the library that was analysed.
        cleanup::RemovalBounds bounds;
        bounds.bundleFd = lock->bundleDescriptor();
        bounds.bundleIdentity = identity;
        cleanup::DeletionResult outcome =
            cleanup::performDeletion(bundle, folders, progress, *calls, walk, bounds);
        lock->release();
        return outcome;
    });
    const cleanup::DeletionResult result = co_await deletion;
    if (!self) {
        co_return;
    }
    QList<DeletionErrorEntry> errors;
    for (const cleanup::DeletionFailure& failure : result.errors) {
        errors.push_back({texts::displayText(failure.name), texts::removalFailure(failure)});
    }
    setFreedSpace(result.freedSpace);
    setDeletionErrors(std::move(errors));
    m_lock.reset(); // given back on the worker already
    setDeletionProgress(0, 0);
    setAppState(AppState::done);
    // A library asked for meanwhile: its intake replaces the results.
    openDeferredDrop();
}

void VARAvevadaViewModel::presentDeleteWarning()
{
    if (m_appState == AppState::ready) {
        setActiveSheet(ActiveSheet::warning);
    }
}

void VARAvevadaViewModel::dismissSheet()
{
    if (m_activeSheet == ActiveSheet::warning || m_activeSheet == ActiveSheet::cacheInfo) {
        setActiveSheet(std::nullopt);
    }
}

bool VARAvevadaViewModel::canShowFinalCutPro() const
{
    return m_services.workspace && m_services.workspace->canActivateEditor();
}

void VARAvevadaViewModel::showFinalCutPro()
{
    if (m_services.workspace) {
        m_services.workspace->activateEditor();
    }
}

// Setters: each notifies only when the value changes.

void VARAvevadaViewModel::setBundleInfo(std::optional<model::BundleInfo> info)
{
    if (m_bundleInfo != info) {
        m_bundleInfo = std::move(info);
        emit bundleInfoChanged();
    }
}

void VARAvevadaViewModel::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage != message) {
        m_errorMessage = std::move(message);
        emit errorMessageChanged();
    }
}

void VARAvevadaViewModel::setAppState(AppState state)
{
    if (m_appState != state) {
        m_appState = state;
        emit appStateChanged();
    }
}

void VARAvevadaViewModel::setActiveSheet(std::optional<ActiveSheet> sheet)
{
    if (m_activeSheet != sheet) {
        m_activeSheet = sheet;
        emit activeSheetChanged();
    }
}

void VARAvevadaViewModel::setIsFCPLocked(bool locked)
{
    if (m_isFCPLocked != locked) {
        m_isFCPLocked = locked;
        emit isFCPLockedChanged();
    }
}

void VARAvevadaViewModel::setSelectedFolders(model::FolderSelection folders)
{
    if (m_selectedFolders != folders) {
        m_selectedFolders = std::move(folders);
        emit selectedFoldersChanged();
    }
}

void VARAvevadaViewModel::setSelectedPreset(model::EditingPreset preset)
{
    if (m_selectedPreset != preset) {
        m_selectedPreset = preset;
        emit selectedPresetChanged();
    }
}

void VARAvevadaViewModel::setFreedSpace(qint64 bytes)
{
    if (m_freedSpace != bytes) {
        m_freedSpace = bytes;
        emit freedSpaceChanged();
    }
}

void VARAvevadaViewModel::setDeletionErrors(QList<DeletionErrorEntry> errors)
{
    if (m_deletionErrors != errors) {
        m_deletionErrors = std::move(errors);
        emit deletionErrorsChanged();
    }
}

void VARAvevadaViewModel::setAnalysisStatus(std::optional<QString> status)
{
    if (m_analysisStatus != status) {
        m_analysisStatus = std::move(status);
        emit analysisStatusChanged();
    }
}

} // namespace vellico::viewmodel
