#include "viewmodel/main_view_model.hpp"

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

MainViewModel::MainViewModel(ViewModelServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    // Enough threads that a stale analysis (stopped, but maybe waiting for a
    // slow disk) or a check hanging on a dead network disk does not hold up a
    // new intake.
    m_workers.setMaxThreadCount(8);
    m_lockQueue.setMaxThreadCount(1);
}

MainViewModel::~MainViewModel()
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

quint64 MainViewModel::nextGeneration()
{
    if (m_analysisRun) {
        m_analysisRun->stop.requestStop();
        m_analysisRun.reset();
    }
    return ++m_generation;
}

int MainViewModel::lockFileDescriptor() const
{
    return m_lock ? m_lock->lockFileDescriptor() : -1;
}

std::optional<fs::path> MainViewModel::lockedBundleURL() const
{
    return m_lock ? m_lock->lockedBundleURL() : std::nullopt;
}

void MainViewModel::handleDrop(const QUrl& url)
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

void MainViewModel::openDeferredDrop()
{
    if (const std::optional<QUrl> url = std::exchange(m_deferredDrop, std::nullopt)) {
        handleDrop(*url);
        emit deferredDropStarted();
    }
}

void MainViewModel::cancelPendingContinuations()
{
    setActiveSheet(std::nullopt);
    resumeAllWithCancel();
}

void MainViewModel::resumeAllWithCancel()
{
    resumeOnce(m_aliasContinuation, AliasResponse::cancel);
    resumeOnce(m_iCloudContinuation, false);
    resumeOnce(m_backupContinuation, BackupResponse::cancel);
    resumeOnce(m_missingCacheContinuation, false);
    resumeOnce(m_fcpLockedContinuation, FCPLockedResponse::cancel);
}

void MainViewModel::handleAliasResponse(AliasResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_aliasContinuation, response);
}

void MainViewModel::handleICloudResponse(bool goOn)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_iCloudContinuation, goOn);
}

void MainViewModel::handleBackupResponse(BackupResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_backupContinuation, response);
}

void MainViewModel::handleMissingCacheResponse(bool goOn)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_missingCacheContinuation, goOn);
}

void MainViewModel::handleFCPLockedResponse(FCPLockedResponse response)
{
    setActiveSheet(std::nullopt);
    resumeOnce(m_fcpLockedContinuation, response);
}

void MainViewModel::applyAnalysisResult(model::BundleInfo info)
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

void MainViewModel::applyPreset(model::EditingPreset preset)
{
    if (!m_bundleInfo) {
        return;
    }
    setSelectedPreset(preset);
    setSelectedFolders(model::presetSelection(preset, m_bundleInfo->foundFolders));
}

model::CheckState MainViewModel::checkState(const model::FolderGroup& group) const
{
    return model::checkState(group, m_selectedFolders);
}

std::int64_t MainViewModel::selectedSize() const
{
    return model::selectedSize(m_bundleInfo ? &*m_bundleInfo : nullptr, m_selectedFolders);
}

void MainViewModel::reset()
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

void MainViewModel::setFilesScanned(qint64 files)
{
    if (files == m_filesScanned) {
        return;
    }
    m_filesScanned = files;
    emit filesScannedChanged();
}

void MainViewModel::dismissSheet()
{
    if (m_activeSheet == ActiveSheet::warning || m_activeSheet == ActiveSheet::cacheInfo) {
        setActiveSheet(std::nullopt);
    }
}

bool MainViewModel::canShowFinalCutPro() const
{
    return m_services.workspace && m_services.workspace->canActivateEditor();
}

void MainViewModel::showFinalCutPro()
{
    if (m_services.workspace) {
        m_services.workspace->activateEditor();
    }
}

// Setters: each notifies only when the value changes.

void MainViewModel::setBundleInfo(std::optional<model::BundleInfo> info)
{
    if (m_bundleInfo != info) {
        m_bundleInfo = std::move(info);
        emit bundleInfoChanged();
    }
}

void MainViewModel::setErrorMessage(std::optional<QString> message)
{
    if (m_errorMessage != message) {
        m_errorMessage = std::move(message);
        emit errorMessageChanged();
    }
}

void MainViewModel::setAppState(AppState state)
{
    if (m_appState != state) {
        m_appState = state;
        emit appStateChanged();
    }
}

void MainViewModel::setActiveSheet(std::optional<ActiveSheet> sheet)
{
    if (m_activeSheet != sheet) {
        m_activeSheet = sheet;
        emit activeSheetChanged();
    }
}

void MainViewModel::setIsFCPLocked(bool locked)
{
    if (m_isFCPLocked != locked) {
        m_isFCPLocked = locked;
        emit isFCPLockedChanged();
    }
}

void MainViewModel::setSelectedFolders(model::FolderSelection folders)
{
    if (m_selectedFolders != folders) {
        m_selectedFolders = std::move(folders);
        emit selectedFoldersChanged();
    }
}

void MainViewModel::setSelectedPreset(model::EditingPreset preset)
{
    if (m_selectedPreset != preset) {
        m_selectedPreset = preset;
        emit selectedPresetChanged();
    }
}

void MainViewModel::setFreedSpace(qint64 bytes)
{
    if (m_freedSpace != bytes) {
        m_freedSpace = bytes;
        emit freedSpaceChanged();
    }
}

void MainViewModel::setDeletionErrors(QList<DeletionErrorEntry> errors)
{
    if (m_deletionErrors != errors) {
        m_deletionErrors = std::move(errors);
        emit deletionErrorsChanged();
    }
}

void MainViewModel::setAnalysisStatus(std::optional<QString> status)
{
    if (m_analysisStatus != status) {
        m_analysisStatus = std::move(status);
        emit analysisStatusChanged();
    }
}

} // namespace vellico::viewmodel
