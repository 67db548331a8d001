#include "viewmodel/main_view_model.hpp"

#include "cleanup/library_lock.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

// Watching the editor's lock: a library analysed while the editor had it
// open is analysed again once it is closed, and a waiting library-open sheet
// is answered when the editor lets go. Checks run on the lock queue, after
// any release of our own.
namespace vellico::viewmodel {

namespace fs = std::filesystem;

void MainViewModel::recheckLockOnActivation()
{
    if (m_activeSheet != ActiveSheet::fcpLocked) {
        if (!m_isFCPLocked || m_appState != AppState::ready || !m_bundleInfo) {
            return;
        }
        reanalyzeWhenClosed(m_bundleInfo->url, m_bundleInfo->isFromAlias, m_generation);
        return;
    }
    // The library the sheet asks about: the one the intake holds open.
    if (!m_library) {
        return;
    }
    answerWhenClosed(m_generation);
}

QCoro::Task<> MainViewModel::reanalyzeWhenClosed(fs::path library, bool isFromAlias,
                                                 quint64 generation)
{
    QPointer<MainViewModel> self(this);
    auto editorCheck = isOpenInEditor(m_library);
    const bool open = co_await editorCheck;
    if (!self || !isCurrent(generation) || open) {
        co_return;
    }
    // Another activation may have got here first, or the state moved on.
    if (!m_isFCPLocked || m_appState != AppState::ready || !m_bundleInfo ||
        m_bundleInfo->url != library || !m_library) {
        co_return;
    }
    const quint64 run = nextGeneration();
    setIsFCPLocked(false);
    setAppState(AppState::analyzing);
    auto scan = analyze(m_library, library, isFromAlias, run);
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

QCoro::Task<> MainViewModel::answerWhenClosed(quint64 generation)
{
    QPointer<MainViewModel> self(this);
    auto editorCheck = isOpenInEditor(m_library);
    const bool open = co_await editorCheck;
    if (!self || !isCurrent(generation) || open || m_activeSheet != ActiveSheet::fcpLocked) {
        co_return;
    }
    setActiveSheet(std::nullopt);
    resumeOnce(m_fcpLockedContinuation, FCPLockedResponse::unlocked);
}

QCoro::Task<bool> MainViewModel::isOpenInEditor(std::shared_ptr<const platform::UniqueFd> library)
{
    // On the lock queue: after any release we queued, so our own claim is
    // never mistaken for the editor's.
    auto probe = runOn(&m_lockQueue, [library, calls = m_services.systemCalls] {
        return library && cleanup::isLibraryOpenInFCP(library->get(), *calls);
    });
    co_return co_await probe;
}

} // namespace vellico::viewmodel
