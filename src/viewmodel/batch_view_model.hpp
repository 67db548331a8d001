#pragma once

#include "analysis/intake_flow.hpp"
#include "analysis/library_batch.hpp"
#include "analysis/status_text.hpp"
#include "model/editing_preset.hpp"
#include "model/folder_group.hpp"
#include "model/found_folder.hpp"
#include "platform/stop_token.hpp"
#include "platform/system_calls.hpp"
#include "platform/tree_walker.hpp"
#include "platform/walk_budget.hpp"
#include "viewmodel/view_model_types.hpp"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vellico::analysis {
class MachineAnalysis;
}

namespace vellico::viewmodel {

// What the batch asks the machine for; injectable for tests. Every service
// is called on a worker thread and must be thread-safe.
struct BatchServices {
    // Paths and searched folders to the distinct libraries to take in;
    // `found` counts the libraries a search meets, as it meets them, and
    // `onFound` takes each one at once (from any thread; see
    // analysis::collectInputs).
    std::function<analysis::BatchInputs(
        const std::vector<std::string>& paths, bool search, const platform::WalkControl& walk,
        std::atomic<std::uint64_t>* found, const analysis::LibraryFound& onFound)>
        collect;
    // One item through the intake; the batch's answers are its own rules.
    // Up to BatchViewModel::maxParallelIntakes calls run at once, each with
    // its own turn of the batch's scope (see analysis::BatchScope) and the
    // same answers. A backup listed as such is measured with `walk` (the
    // batch's budget and stop token).
    std::function<analysis::IntakeOutcome(
        const analysis::BatchInput& input, analysis::IntakeQuestions& questions,
        analysis::BatchScope& scope, const platform::WalkControl& walk)>
        takeIn;
    // Analyses the library open as `bundle`, shown as `url`.
    std::function<model::BundleInfo(platform::UniqueFd bundle, const std::filesystem::path& url,
                                    bool isFromAlias, const analysis::ProgressSink& progress,
                                    const platform::WalkControl& walk)>
        analyze;
    platform::SystemCalls* systemCalls = &platform::defaultSystemCalls();
};

// This machine's intake and analysis for a batch.
BatchServices machineBatchServices(std::shared_ptr<const analysis::MachineAnalysis> machine);

// Where one library of the batch stands.
enum class BatchRowState {
    waiting,      // taken in, its analysis not started yet
    analysing,    // `filesScanned` moves
    ready,        // analysed; counts in the totals
    openInEditor, // the editor holds it (`holder` says who); not counted
    locked,       // marked locked; not counted
    backup,       // a backup of another library (`detail`: the original); not counted
    cloudOnly,    // not downloaded; not counted
    refused,      // `detail` says why; not counted
    deleting,     // its turn in the deletion
    cleaned,      // deleted without failure (`freed`)
    failed,       // some folders could not be removed (`errors`)
    skipped,      // its turn came but nothing was removed (`detail` says why)
};

struct BatchRow {
    int id = 0; // stable for the life of the batch
    QString name;
    QString location; // the folder that holds it
    std::filesystem::path url;
    BatchRowState state = BatchRowState::waiting;
    QString detail;
    QString holder;        // who has it open: "host — application"
    qint64 totalSize = -1; // -1: not known yet
    qint64 reclaimable = 0;
    qint64 filesScanned = 0;
    qint64 freed = 0;
    QList<DeletionErrorEntry> errors;
    std::optional<model::BundleInfo> info;
    model::FolderSelection selection;
};

// Several libraries in one window: each is taken in (at most
// `maxParallelIntakes` at once: on a network share an intake is mostly
// waiting on round trips), analysed side by side with at most
// `maxParallelAnalyses` others, and shown as a row; after one
// confirmation the ready rows are cleaned one after the other, each claimed
// just before its turn and given back right after. The search and the
// analyses share one budget of walker threads (and with it of open
// directories): as many as one walk of the single window may use, shared
// out between the walks that run at once.
//
// Threads: the object and every row live on the GUI thread; the search,
// the intake, the analyses, the lock and the removals run on workers and
// come back through the event loop.
class BatchViewModel : public QObject {
    Q_OBJECT

public:
    static constexpr int maxParallelAnalyses = 2;
    static constexpr int maxParallelIntakes = 4;

    enum class Phase { empty, searching, analysing, ready, deleting, done };
    Q_ENUM(Phase)

    explicit BatchViewModel(BatchServices services, QObject* parent = nullptr);
    // Stops the analyses and the deletion after the entry in hand, waits
    // for the workers and gives back a lock still held.
    ~BatchViewModel() override;

    // Adds the libraries at `paths` (given one by one: none is searched).
    // During a deletion they wait and are added once it is over.
    void addLibraries(const QStringList& paths);
    // Searches `folder` (no link followed, no other mount, never inside a
    // library) and adds every library found, as a row as soon as it is
    // found: its intake and analysis start while the search goes on.
    void searchFolder(const QString& folder);
    // Libraries added while a deletion ran, waiting for its end.
    const QStringList& deferredPaths() const { return m_deferred; }

    // Rows sorted by reclaimable size, the largest first.
    const std::vector<BatchRow>& rows() const { return m_rows; }
    const BatchRow* row(int id) const;
    Phase phase() const { return m_phase; }
    // Libraries found so far by a running search.
    qint64 searchCount() const { return m_searchCount; }
    // The walker threads the search and the analyses share.
    const platform::WalkBudget& walkBudget() const { return m_walkBudget; }

    // The preset of every library; replaces each ready row's selection.
    model::EditingPreset preset() const { return m_preset; }
    void applyPreset(model::EditingPreset preset);

    // Totals over the rows that can be cleaned (ready, or cleaned already).
    int cleanableCount() const;
    int folderCount() const;
    qint64 totalReclaimable() const;
    qint64 totalSize() const;

    // Deletion: library `k` (from 1) of `n`, bytes freed so far. After the
    // run, the failures (library and folder) and whether it was stopped.
    int currentIndex() const { return m_currentIndex; }
    int deletionCount() const { return m_deletionCount; }
    qint64 freedSoFar() const { return m_freed; }
    int failureCount() const;
    bool wasCancelled() const { return m_cancelled; }

    // Cleans every ready row, library by library. Only in the ready phase
    // with something to delete.
    void startDeletion();
    // "Annuler": the deletion stops after the entry in hand and gives the
    // lock back; the libraries not reached keep their results. Outside a
    // deletion, stops the search and analyses.
    void cancel();
    // Checks again, for every ready or open row, whether the editor has it.
    void recheckLocks();
    // Empties the batch (not during a deletion).
    void clear();

signals:
    void rowsChanged();
    void phaseChanged();
    void searchCountChanged();
    void presetChanged();
    void deletionProgressChanged();
    // The whole batch ended: `freed` bytes, `failures` libraries with failures.
    void deletionFinished(qint64 freed, int failures);

private:
    // The batch's own answer: a backup is listed as a backup. It keeps no
    // state, so the intakes running at once share it.
    class Answers final : public analysis::IntakeQuestions {
    public:
        analysis::BackupAnswer backupFound(const analysis::BatchInput&,
                                           const std::filesystem::path&,
                                           const std::filesystem::path&) override
        {
            return {analysis::BackupAnswer::Kind::listAsBackup, {}};
        }
    };
    // Libraries a search found and the GUI thread has not listed yet:
    // filled by the search's threads, emptied on the GUI thread.
    struct FoundQueue {
        std::mutex mutex;
        std::vector<analysis::BatchInput> inputs;
    };
    // What the intake workers share. The scope hands out its turns on the
    // GUI thread, in the order of the rows.
    struct Shared {
        analysis::BatchScope scope;
        Answers answers;
        platform::StopToken stop;
    };

    QCoro::Task<> collectAndAdd(std::vector<std::string> paths, bool search);
    // Lists what `queue` holds and starts its intake; nothing when the batch
    // was cancelled or emptied since (`shared` is no longer the batch's).
    void addFound(FoundQueue& queue, const std::shared_ptr<Shared>& shared);
    QCoro::Task<> takeInAndAnalyse(analysis::BatchInput input, int id);
    QCoro::Task<> runDeletion(std::vector<int> ids);

    BatchRow* find(int id);
    int addRow(const std::string& path);
    void sortRows();
    void updatePhase();
    void setPhase(Phase phase);
    void selectFor(BatchRow& row);
    void applyRefusal(BatchRow& row, const analysis::Refusal& refusal);

    BatchServices m_services;
    QThreadPool m_search;   // the collection of paths and searches
    QThreadPool m_intake;   // at most maxParallelIntakes, started in the order of the rows
    QThreadPool m_analyses; // at most maxParallelAnalyses
    QThreadPool m_lockQueue;
    // Outlives the walks: the destructor waits for every worker.
    platform::WalkBudget m_walkBudget;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::vector<BatchRow> m_rows;
    Phase m_phase = Phase::empty;
    int m_nextId = 1;
    int m_running = 0;  // searches and rows not analysed yet
    int m_searches = 0; // searches running
    qint64 m_searchCount = 0;
    model::EditingPreset m_preset = model::EditingPreset::inProgress;
    QStringList m_deferred;
    int m_currentIndex = 0;
    int m_deletionCount = 0;
    qint64 m_freed = 0;
    bool m_cancelled = false;
    std::shared_ptr<platform::StopToken> m_stopRun; // the running deletion's
};

QString batchStateText(const BatchRow& row);

} // namespace vellico::viewmodel
