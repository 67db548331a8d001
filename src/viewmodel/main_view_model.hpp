#pragma once

#include "analysis/intake_flow.hpp"
#include "cleanup/library_lock.hpp"
#include "model/editing_preset.hpp"
#include "model/folder_group.hpp"
#include "model/found_folder.hpp"
#include "viewmodel/sheet_answer.hpp"
#include "viewmodel/view_model_services.hpp"
#include "viewmodel/view_model_types.hpp"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace vellico::viewmodel {

// The one object that holds the application's state: the library being
// worked on, the phase, the last error, the sheet on screen and what it
// shows, the pending answers of the asking sheets, the selection, the
// deletion results and the library lock. A window observes it through the
// properties (each has a change signal, emitted when the value changes) and
// drives it through the operations below.
//
// Threads: it lives on the GUI thread; every field is read and written and
// every operation runs there. File-system work (the intake's checks, the
// analysis, the lock and the deletion) runs on worker threads and comes back
// through the event loop; progress texts arrive as queued calls.
//
// Runs: every intake (handleDrop), re-analysis and reset starts a new
// generation. A run checks its generation after every wait; once a newer
// one has started, an older run changes nothing any more: its sheet answer,
// download wait, analysis result and progress texts are dropped.
class MainViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<vellico::model::BundleInfo> bundleInfo READ bundleInfo NOTIFY
                   bundleInfoChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(vellico::viewmodel::AppState appState READ appState NOTIFY appStateChanged)
    Q_PROPERTY(std::optional<vellico::viewmodel::ActiveSheet> activeSheet READ activeSheet NOTIFY
                   activeSheetChanged)
    Q_PROPERTY(bool isFCPLocked READ isFCPLocked NOTIFY isFCPLockedChanged)
    Q_PROPERTY(vellico::model::FolderSelection selectedFolders READ selectedFolders NOTIFY
                   selectedFoldersChanged)
    Q_PROPERTY(vellico::model::EditingPreset selectedPreset READ selectedPreset NOTIFY
                   selectedPresetChanged)
    Q_PROPERTY(qint64 freedSpace READ freedSpace NOTIFY freedSpaceChanged)
    Q_PROPERTY(QList<vellico::viewmodel::DeletionErrorEntry> deletionErrors READ deletionErrors
                   NOTIFY deletionErrorsChanged)
    Q_PROPERTY(
        std::optional<QString> analysisStatus READ analysisStatus NOTIFY analysisStatusChanged)

public:
    explicit MainViewModel(ViewModelServices services, QObject* parent = nullptr);
    // Makes every run inert, lets waiting runs end, waits for the worker
    // jobs still running (an analysis or deletion in progress finishes
    // first) and gives back a library lock still held.
    ~MainViewModel() override;

    // Published state.
    const std::optional<model::BundleInfo>& bundleInfo() const { return m_bundleInfo; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    AppState appState() const { return m_appState; }
    std::optional<ActiveSheet> activeSheet() const { return m_activeSheet; }
    bool isFCPLocked() const { return m_isFCPLocked; }
    const model::FolderSelection& selectedFolders() const { return m_selectedFolders; }
    model::EditingPreset selectedPreset() const { return m_selectedPreset; }
    qint64 freedSpace() const { return m_freedSpace; }
    // How far the running deletion is: folders tried so far, out of how
    // many. Both 0 outside a deletion.
    int deletionFoldersDone() const { return m_deletionFoldersDone; }
    int deletionFoldersTotal() const { return m_deletionFoldersTotal; }
    const QList<DeletionErrorEntry>& deletionErrors() const { return m_deletionErrors; }
    const std::optional<QString>& analysisStatus() const { return m_analysisStatus; }
    // Files measured so far by the running analysis (sampled a few times a
    // second); 0 before the first sample.
    qint64 filesScanned() const { return m_filesScanned; }

    // What the sheets show; each is written just before its sheet is raised.
    const std::optional<AliasSheetData>& aliasSheetData() const { return m_aliasSheetData; }
    const QString& iCloudSheetLibName() const { return m_iCloudSheetLibName; }
    bool iCloudSheetIsDownloaded() const { return m_iCloudSheetIsDownloaded; }
    const QString& missingCachePath() const { return m_missingCachePath; }
    const std::optional<BackupSheetData>& backupSheetData() const { return m_backupSheetData; }
    const QString& fcpLockedSheetLibName() const { return m_fcpLockedSheetLibName; }
    // Who holds the library, from its lock record: the machine (empty when
    // the record does not say) and the application (empty: the editor).
    const QString& fcpLockedSheetHost() const { return m_fcpLockedSheetHost; }
    const QString& fcpLockedSheetApplication() const { return m_fcpLockedSheetApplication; }
    // True when "Voir Final Cut Pro" can do something here (never on Linux).
    bool canShowFinalCutPro() const;
    // The library for which the library-open sheet was raised.
    const std::optional<std::filesystem::path>& pendingLockCheckURL() const
    {
        return m_pendingLockCheckURL;
    }

    // The library lock the application holds: the descriptor of its ".lock"
    // (-1 when none) and the library (none when nothing is claimed).
    int lockFileDescriptor() const;
    std::optional<std::filesystem::path> lockedBundleURL() const;

    // The single entry for a new library (drop, open panel, document-open
    // event): answers any waiting sheet with its cancel value, asks the
    // window to close its panels, gives back a held library lock, clears the
    // results and starts the intake. While a deletion is being claimed or
    // runs, the lock must stay held until it ends: the request is kept (only
    // the latest one) and its intake starts once the deletion is over.
    void handleDrop(const QUrl& url);
    // The library that waits for the running deletion to end; none when none.
    const std::optional<QUrl>& deferredDrop() const { return m_deferredDrop; }

    // Answers every waiting sheet with its cancel value and closes the sheet.
    void cancelPendingContinuations();

    // Answers of the asking sheets: close the sheet, then resume its waiting
    // intake once; a second answer only closes the sheet.
    void handleAliasResponse(AliasResponse response);
    void handleICloudResponse(bool goOn);
    void handleBackupResponse(BackupResponse response);
    void handleMissingCacheResponse(bool goOn);
    void handleFCPLockedResponse(FCPLockedResponse response);

    // Publishes a finished analysis: the result, the "in progress" preset and
    // its selection, no progress text, the cache sheet when the library has
    // an external cache, then the ready state.
    void applyAnalysisResult(model::BundleInfo info);

    // Selects the folders of a preset, replacing the selection. Does nothing
    // at all before an analysis.
    void applyPreset(model::EditingPreset preset);

    // How much of a group is selected, and the size of the selection.
    model::CheckState checkState(const model::FolderGroup& group) const;
    std::int64_t selectedSize() const;

    // Call each time the application becomes active. With the library-open
    // sheet up, answers it with `unlocked` once the editor has closed the
    // library; in the ready state of a library analysed while open, analyses
    // it again once the editor has closed it. The probe runs on a worker, so
    // the effect comes a moment later.
    void recheckLockOnActivation();

    // Back to the start (the "Annuler" button): gives back the lock, clears
    // every result and the selection. Ignored while a deletion runs.
    void reset();

    // Deletes the selected folders of the analysed library: claims the
    // library, removes the folders on a worker, then publishes the freed
    // bytes and the failures, gives the lock back and moves to `done`. Only
    // from `ready`; nothing happens without a library or a selection. A
    // claim refused because the editor has the library open sets
    // errorMessage and leaves the state `ready`.
    void startDeletion();

    // The session is ending (SIGTERM, SIGHUP, SIGINT): a running deletion
    // finishes the file in hand, removes nothing more and gives the lock back
    // as after a normal run; the application then quits, and its teardown
    // waits for that. Any thread; there is no way back.
    void stopDeletion() { m_stopDeletion.requestStop(); }

    // Gives back the library the application holds, if any (on the lock
    // worker; the fields read "nothing held" at once).
    void releaseLibraryLock();

    // The delete button's confirmation sheet, and the dismissal of a sheet
    // that waits for no answer (confirmation, cache information).
    void presentDeleteWarning();
    void dismissSheet();

    // "Voir Final Cut Pro": brings the editor to the front when it runs.
    void showFinalCutPro();

    // Shows `message` as the window's error text (none: hides it), as the
    // application shell does after opening several libraries at once.
    void setErrorMessage(std::optional<QString> message);

signals:
    void bundleInfoChanged();
    void errorMessageChanged();
    void appStateChanged();
    void activeSheetChanged();
    void isFCPLockedChanged();
    void selectedFoldersChanged();
    void selectedPresetChanged();
    void freedSpaceChanged();
    void deletionErrorsChanged();
    void analysisStatusChanged();
    void deletionProgressChanged();
    void filesScannedChanged();

    // The window should close its open panels (a new library is coming in).
    void closePanelsRequested();
    // The current intake ended without starting an analysis (an error, a
    // refusal in a sheet, a failed download).
    void intakeStopped();
    // An analysis finished for a run that a newer one replaced; its result
    // was dropped and nothing changed.
    void analysisDiscarded();
    // The library kept during a deletion has just started its intake (the
    // error text is clear again).
    void deferredDropStarted();

private:
    struct LibraryToAnalyse {
        std::filesystem::path url;
        bool isFromAlias = false;
        std::shared_ptr<const platform::UniqueFd> bundle; // the directory the intake decided on
    };
    // Where the core's intake left an item, and whether the window
    // downloaded it from the cloud drive on the way.
    struct TakenIn {
        analysis::IntakeOutcome outcome;
        bool downloadedNow = false;
    };

    QCoro::Task<> handleDropAsync(std::filesystem::path dropped, quint64 generation);
    QCoro::Task<std::optional<LibraryToAnalyse>> runIntake(std::filesystem::path dropped,
                                                           quint64 generation);
    // The intake's steps, each ending false (or none) when the intake stops
    // there: the user declined, an error was shown, or a newer run began.
    QCoro::Task<bool> waitForMainWindow(quint64 generation);
    QCoro::Task<std::optional<TakenIn>> takeIn(std::filesystem::path dropped, quint64 generation);
    QCoro::Task<bool> offerDownload(std::filesystem::path url, QString displayName,
                                    quint64 generation);
    QCoro::Task<analysis::BackupAnswer>
    askAboutBackup(QString displayName, std::filesystem::path original, quint64 generation);
    QCoro::Task<bool> settleEditorLock(std::filesystem::path url, QString displayName,
                                       quint64 generation);
    QCoro::Task<bool> confirmAlias(std::filesystem::path dropped, std::filesystem::path url,
                                   quint64 generation);
    QCoro::Task<bool> waitForDownload(std::filesystem::path url, QString displayName,
                                      quint64 generation);
    QCoro::Task<model::BundleInfo> analyze(std::shared_ptr<const platform::UniqueFd> bundle,
                                           std::filesystem::path url, bool isFromAlias,
                                           quint64 generation);
    QCoro::Task<bool> isOpenInEditor(std::shared_ptr<const platform::UniqueFd> library);
    QCoro::Task<> reanalyzeWhenClosed(std::filesystem::path library, bool isFromAlias,
                                      quint64 generation);
    QCoro::Task<> answerWhenClosed(quint64 generation);
    QCoro::Task<> runDeletion(model::BundleInfo info, std::vector<model::FoundFolder> folders,
                              quint64 generation);

    template <typename T>
    SheetAnswer<T> ask(std::optional<SheetContinuation<T>>& field, ActiveSheet sheet)
    {
        return SheetAnswer<T>(field, [this, sheet] { setActiveSheet(sheet); });
    }

    // True while `generation` is the newest run.
    bool isCurrent(quint64 generation) const { return generation == m_generation; }
    // Starts a new generation: every older run is stale from now on, and the
    // walk of a running analysis is asked to stop.
    quint64 nextGeneration();
    // True while a deletion is being claimed or runs.
    bool isDeleting() const { return m_claimPending || m_appState == AppState::deleting; }
    void resumeAllWithCancel();
    // Starts the intake of the library kept during the deletion, if any.
    void openDeferredDrop();

    void setBundleInfo(std::optional<model::BundleInfo> info);
    void setAppState(AppState state);
    void setActiveSheet(std::optional<ActiveSheet> sheet);
    void setIsFCPLocked(bool locked);
    void setSelectedFolders(model::FolderSelection folders);
    void setSelectedPreset(model::EditingPreset preset);
    void setFreedSpace(qint64 bytes);
    void setDeletionProgress(int done, int total);
    void setDeletionErrors(QList<DeletionErrorEntry> errors);
    void setAnalysisStatus(std::optional<QString> status);
    void setFilesScanned(qint64 files);

    ViewModelServices m_services;
    // Intake checks and analyses; several may run at once (an old run's
    // analysis keeps going while a new intake checks its library).
    QThreadPool m_workers;
    // The lock probe, claim, deletion and release, one at a time and in
    // order, so that a probe never sees a claim of our own that a release
    // queued before it has not given back yet.
    QThreadPool m_lockQueue;
    quint64 m_generation = 0;
    bool m_claimPending = false;
    // The running analysis's stop token and counters, shared with its worker.
    struct AnalysisRun {
        platform::StopToken stop;
        platform::WalkProgress progress;
    };
    std::shared_ptr<AnalysisRun> m_analysisRun;
    // The directory of the library last taken in: its lock is probed, and it
    // is analysed again, through it.
    std::shared_ptr<const platform::UniqueFd> m_library;

    std::optional<model::BundleInfo> m_bundleInfo;
    std::optional<QString> m_errorMessage;
    AppState m_appState = AppState::idle;
    std::optional<ActiveSheet> m_activeSheet;
    bool m_isFCPLocked = false;
    std::optional<AliasSheetData> m_aliasSheetData;
    QString m_iCloudSheetLibName;
    bool m_iCloudSheetIsDownloaded = false;
    QString m_missingCachePath;
    std::optional<SheetContinuation<AliasResponse>> m_aliasContinuation;
    std::optional<SheetContinuation<bool>> m_iCloudContinuation;
    std::optional<SheetContinuation<bool>> m_missingCacheContinuation;
    std::optional<BackupSheetData> m_backupSheetData;
    std::optional<SheetContinuation<BackupResponse>> m_backupContinuation;
    QString m_fcpLockedSheetLibName;
    QString m_fcpLockedSheetHost;
    QString m_fcpLockedSheetApplication;
    std::optional<std::filesystem::path> m_pendingLockCheckURL;
    std::optional<SheetContinuation<FCPLockedResponse>> m_fcpLockedContinuation;
    model::FolderSelection m_selectedFolders;
    model::EditingPreset m_selectedPreset = model::EditingPreset::inProgress;
    qint64 m_freedSpace = 0;
    int m_deletionFoldersDone = 0;
    int m_deletionFoldersTotal = 0;
    QList<DeletionErrorEntry> m_deletionErrors;
    std::optional<QString> m_analysisStatus;
    qint64 m_filesScanned = 0;
    // The latest library asked for while a deletion ran.
    std::optional<QUrl> m_deferredDrop;
    // The claim held for a deletion run; shared with the lock worker.
    std::shared_ptr<cleanup::LibraryLock> m_lock;
    // Read by the deletion on the lock worker; the destructor waits for it.
    platform::StopToken m_stopDeletion;
};

} // namespace vellico::viewmodel
