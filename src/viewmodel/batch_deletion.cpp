#include "viewmodel/batch_view_model.hpp"

#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "viewmodel/batch_texts.hpp"
#include "viewmodel/editor_hold.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

#include <QPointer>

#include <utility>

// The batch's deletion: library by library, each claimed at its turn on the
// lock queue, with each row's outcome shown on the GUI thread.
namespace vellico::viewmodel {

namespace {

// What became of one library at its turn: left alone because the editor has
// it open, refused its claim, or deleted (with the deletion's result).
struct DeletionTurn {
    std::optional<EditorHold> openBy;
    bool claimed = false;
    cleanup::ClaimRefusal refusal = cleanup::ClaimRefusal::none;
    int refusalError = 0;
    cleanup::DeletionResult result;
};

// Claims the library and deletes `folders` under the claim. Worker (the lock
// queue).
DeletionTurn deleteOnTurn(const model::BundleInfo& info,
                          const std::vector<model::FoundFolder>& folders,
                          platform::SystemCalls& calls, const platform::StopToken& stop)
{
    DeletionTurn turn;
    turn.openBy = openBy(info.url, calls);
    if (turn.openBy) {
        return turn;
    }
    cleanup::LibraryLock lock(calls);
    turn.claimed = lock.acquire(info.url);
    if (!turn.claimed) {
        turn.refusal = lock.refusal();
        turn.refusalError = lock.refusalError();
        return turn;
    }
    platform::WalkControl walk;
    walk.stop = &stop;
    cleanup::RemovalBounds bounds;
    bounds.bundleFd = lock.bundleDescriptor();
    bounds.bundleIdentity = info.identity;
    turn.result = cleanup::performDeletion(
        info.url, folders, [](std::size_t, std::int64_t) {}, calls, walk, bounds);
    lock.release();
    return turn;
}

} // namespace

void BatchViewModel::startDeletion()
{
    if (m_phase != Phase::ready || totalReclaimable() <= 0) {
        return;
    }
    std::vector<int> ids;
    for (const BatchRow& row : m_rows) {
        if (row.state == BatchRowState::ready && !row.selection.empty()) {
            ids.push_back(row.id);
        }
    }
    if (ids.empty()) {
        return;
    }
    runDeletion(std::move(ids));
}

QCoro::Task<> BatchViewModel::runDeletion(std::vector<int> ids)
{
    QPointer<BatchViewModel> self(this);
    auto stop = std::make_shared<platform::StopToken>();
    m_stopRun = stop;
    m_cancelled = false;
    m_freed = 0;
    m_deletionCount = static_cast<int>(ids.size());
    m_currentIndex = 0;
    setPhase(Phase::deleting);
    platform::SystemCalls* calls = m_services.systemCalls;
    for (const int id : ids) {
        ++m_currentIndex;
        emit deletionProgressChanged();
        BatchRow* row = find(id);
        if (!row || !row->info) {
            continue;
        }
        if (m_cancelled) {
            row->state = BatchRowState::skipped;
            row->detail = texts::translate("Annulée avant son tour");
            emit rowsChanged();
            continue;
        }
        row->state = BatchRowState::deleting;
        emit rowsChanged();
        // Claimed at its turn, and only if the editor has not opened it since.
        auto work = runOn(&m_lockQueue,
                          [info = *row->info,
                           folders = cleanup::foldersToDelete(*row->info, row->selection), calls,
                           stop] { return deleteOnTurn(info, folders, *calls, *stop); });
        auto done = co_await work;
        if (!self) {
            co_return;
        }
        row = find(id);
        if (!row) {
            continue;
        }
        if (done.openBy) {
            row->state = BatchRowState::skipped;
            row->holder = holderText(done.openBy->holder);
            row->detail = row->holder;
        } else if (!done.claimed) {
            row->state = BatchRowState::skipped;
            row->detail = texts::claimRefused(done.refusal, row->name, done.refusalError);
        } else {
            row->freed = done.result.freedSpace;
            m_freed += done.result.freedSpace;
            for (const cleanup::DeletionFailure& failure : done.result.errors) {
                row->errors.push_back(
                    {texts::displayText(failure.name), texts::removalFailure(failure)});
            }
            row->state = row->errors.isEmpty() ? BatchRowState::cleaned : BatchRowState::failed;
        }
        emit rowsChanged();
        emit deletionProgressChanged();
    }
    m_stopRun.reset();
    setPhase(Phase::done);
    emit deletionFinished(m_freed, failureCount());
    // Libraries opened meanwhile join the batch now.
    const QStringList waiting = std::exchange(m_deferred, {});
    if (!waiting.isEmpty()) {
        addLibraries(waiting);
    }
}

} // namespace vellico::viewmodel
