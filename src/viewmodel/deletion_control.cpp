#include "viewmodel/main_view_model.hpp"

#include "cleanup/deletion_run.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

// The deletion: the claim on the library, the removal on the lock queue with
// progress crossing to the GUI thread, the release, and the outcome.
namespace vellico::viewmodel {

namespace fs = std::filesystem;

void MainViewModel::releaseLibraryLock()
{
    std::shared_ptr<cleanup::LibraryLock> lock = std::exchange(m_lock, nullptr);
    if (!lock) {
        return;
    }
    m_lockQueue.start([lock] { lock->release(); });
}

void MainViewModel::startDeletion()
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

void MainViewModel::setDeletionProgress(int done, int total)
{
    if (done == m_deletionFoldersDone && total == m_deletionFoldersTotal) {
        return;
    }
    m_deletionFoldersDone = done;
    m_deletionFoldersTotal = total;
    emit deletionProgressChanged();
}

QCoro::Task<> MainViewModel::runDeletion(model::BundleInfo info,
                                         std::vector<model::FoundFolder> folders,
                                         quint64 generation)
{
    QPointer<MainViewModel> self(this);
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

void MainViewModel::presentDeleteWarning()
{
    if (m_appState == AppState::ready) {
        setActiveSheet(ActiveSheet::warning);
    }
}

} // namespace vellico::viewmodel
