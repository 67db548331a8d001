#include "viewmodel/batch_view_model.hpp"

#include "viewmodel/batch_texts.hpp"

#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "analysis/machine_analysis.hpp"
#include "cleanup/deletion_run.hpp"
#include "cleanup/library_lock.hpp"
#include "cleanup/lock_record.hpp"
#include "i18n/translations.hpp"
#include "platform/file_system.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/editor_hold.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/worker.hpp"

#include <QPointer>
#include <QTimer>

#include <fcntl.h>

#include <algorithm>
#include <utility>

namespace vellico::viewmodel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view cloudOnlyKey = i18n::catalogueKey(
    "« %1 » n'est pas encore téléchargée depuis le nuage. Téléchargez-la avant de continuer.");

bool counts(BatchRowState state)
{
    return state == BatchRowState::ready || state == BatchRowState::deleting ||
           state == BatchRowState::cleaned || state == BatchRowState::failed;
}

} // namespace

std::optional<EditorHold> openBy(const fs::path& library, platform::SystemCalls& calls)
{
    if (!cleanup::isLibraryOpenInFCP(library, calls)) {
        return std::nullopt;
    }
    const platform::UniqueFd bundle = platform::openDirectoryPath(library.string());
    return EditorHold{bundle ? cleanup::lockHolder(bundle.get()) : std::nullopt};
}

BatchServices machineBatchServices(std::shared_ptr<const analysis::MachineAnalysis> machine)
{
    BatchServices services;
    services.collect = [](const std::vector<std::string>& paths, bool search,
                          const platform::WalkControl& walk, std::atomic<std::uint64_t>* found,
                          const analysis::LibraryFound& onFound) {
        return analysis::collectInputs(paths, search, walk, found, onFound);
    };
    services.takeIn = [machine](const analysis::BatchInput& input,
                                analysis::IntakeQuestions& questions, analysis::BatchScope& scope,
                                const platform::WalkControl& walk) {
        return analysis::takeInItem(input, *machine, questions, scope, walk);
    };
    services.analyze = [machine](platform::UniqueFd bundle, const fs::path& url, bool isFromAlias,
                                 const analysis::ProgressSink& progress,
                                 const platform::WalkControl& walk) {
        return analysis::analyzeBundle(std::move(bundle), url, isFromAlias, machine->services(walk),
                                       progress);
    };
    return services;
}

BatchViewModel::BatchViewModel(BatchServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)),
      m_walkBudget(platform::walkThreadLimit({}),
                   platform::walkThreadLimit({}) / maxParallelAnalyses)
{
    m_search.setMaxThreadCount(1);
    // The turns of the scope rely on the pool starting the intakes in the
    // order they were queued: an intake never waits for a later one.
    m_intake.setMaxThreadCount(maxParallelIntakes);
    m_analyses.setMaxThreadCount(maxParallelAnalyses);
    m_lockQueue.setMaxThreadCount(1);
}

BatchViewModel::~BatchViewModel()
{
    m_shared->stop.requestStop();
    if (m_stopRun) {
        m_stopRun->requestStop();
    }
    m_search.waitForDone();
    m_intake.waitForDone();
    m_analyses.waitForDone();
    m_lockQueue.waitForDone();
}

const BatchRow* BatchViewModel::row(int id) const
{
    const auto it =
        std::find_if(m_rows.begin(), m_rows.end(), [id](const BatchRow& r) { return r.id == id; });
    return it == m_rows.end() ? nullptr : &*it;
}

BatchRow* BatchViewModel::find(int id)
{
    return const_cast<BatchRow*>(std::as_const(*this).row(id));
}

void BatchViewModel::addLibraries(const QStringList& paths)
{
    if (m_phase == Phase::deleting) {
        m_deferred.append(paths);
        return;
    }
    std::vector<std::string> list;
    for (const QString& path : paths) {
        list.push_back(path.toStdString());
    }
    collectAndAdd(std::move(list), false);
}

void BatchViewModel::searchFolder(const QString& folder)
{
    if (m_phase == Phase::deleting) {
        return;
    }
    collectAndAdd({folder.toStdString()}, true);
}

QCoro::Task<> BatchViewModel::collectAndAdd(std::vector<std::string> paths, bool search)
{
    QPointer<BatchViewModel> self(this);
    std::shared_ptr<Shared> shared = m_shared;
    ++m_running;
    if (search) {
        ++m_searches;
        m_searchCount = 0;
        emit searchCountChanged();
    }
    updatePhase();
    auto found = std::make_shared<std::atomic<std::uint64_t>>(0);
    auto queue = std::make_shared<FoundQueue>();
    // The search's threads only fill the queue; the rows are made here, on
    // the GUI thread, at each tick and once more at the end.
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [this, found, queue, shared, search] {
        if (shared != m_shared) {
            return;
        }
        if (search) {
            m_searchCount = static_cast<qint64>(found->load(std::memory_order_relaxed));
            emit searchCountChanged();
        }
        addFound(*queue, shared);
    });
    ticker.start(100);
    analysis::LibraryFound onFound = [queue](analysis::BatchInput input) {
        const std::lock_guard lock(queue->mutex);
        queue->inputs.push_back(std::move(input));
    };
    // A search has a worker of its own, so that the intake and analyses of
    // the libraries already found go on beside it.
    auto collect =
        runOn(search ? &m_search : &m_intake, [collect = m_services.collect, paths, search, shared,
                                               found, onFound, budget = &m_walkBudget] {
            platform::WalkControl walk;
            walk.stop = &shared->stop;
            walk.budget = budget;
            return collect(paths, search, walk, found.get(), onFound);
        });
    analysis::BatchInputs inputs = co_await collect;
    if (!self || shared != m_shared) {
        co_return;
    }
    ticker.stop();
    --m_running;
    if (search) {
        --m_searches;
        m_searchCount = static_cast<qint64>(found->load());
        emit searchCountChanged();
    }
    for (const analysis::Refusal& refusal : inputs.refusals) {
        applyRefusal(*find(addRow(refusal.input)), refusal);
    }
    // A collection that does not hand libraries over one by one.
    for (analysis::BatchInput& input : inputs.libraries) {
        onFound(std::move(input));
    }
    addFound(*queue, shared);
    sortRows();
    updatePhase();
}

void BatchViewModel::addFound(FoundQueue& queue, const std::shared_ptr<Shared>& shared)
{
    if (shared != m_shared) {
        return;
    }
    std::vector<analysis::BatchInput> inputs;
    {
        const std::lock_guard lock(queue.mutex);
        inputs.swap(queue.inputs);
    }
    if (inputs.empty()) {
        return;
    }
    for (analysis::BatchInput& input : inputs) {
        const int id = addRow(input.path);
        takeInAndAnalyse(std::move(input), id);
    }
    sortRows();
    updatePhase();
}

int BatchViewModel::addRow(const std::string& path)
{
    BatchRow row;
    row.id = m_nextId++;
    const fs::path item(path);
    const fs::path name = item.has_filename() ? item : item.parent_path();
    row.url = name;
    row.name = texts::displayText(analysis::bundleDisplayName(name));
    row.location = texts::pathText(name.parent_path());
    m_rows.push_back(std::move(row));
    return m_rows.back().id;
}

void BatchViewModel::applyRefusal(BatchRow& row, const analysis::Refusal& refusal)
{
    if (refusal.key == analysis::messageKey(analysis::IntakeError::Kind::locked)) {
        row.state = BatchRowState::locked;
    } else if (refusal.key == cloudOnlyKey) {
        row.state = BatchRowState::cloudOnly;
    } else {
        row.state = BatchRowState::refused;
    }
    row.detail = texts::displayText(
        i18n::fillPlaceholders(texts::translate(refusal.key).toStdString(), refusal.args));
}

QCoro::Task<> BatchViewModel::takeInAndAnalyse(analysis::BatchInput input, int id)
{
    QPointer<BatchViewModel> self(this);
    std::shared_ptr<Shared> shared = m_shared;
    ++m_running;
    // The turn is taken here, in the order of the rows, and ended when the
    // intake is done with it, so that of two paths to one library the row
    // given first is the one kept.
    auto intake = runOn(&m_intake, [takeIn = m_services.takeIn, input, shared,
                                    scope = std::make_shared<analysis::BatchScope>(
                                        shared->scope.turn(&shared->stop)),
                                    budget = &m_walkBudget] {
        // A backup is measured by the intake: inside the batch's budget,
        // and stopped with the rest.
        platform::WalkControl walk;
        walk.stop = &shared->stop;
        walk.budget = budget;
        auto outcome =
            std::make_shared<analysis::IntakeOutcome>(takeIn(input, shared->answers, *scope, walk));
        scope->endTurn(); // claimed or not: the later turns go on
        return outcome;
    });
    std::shared_ptr<analysis::IntakeOutcome> outcome = co_await intake;
    if (!self || shared != m_shared) {
        co_return;
    }
    BatchRow* row = find(id);
    if (outcome->repeated || !row) {
        // The same library under another path: one row is enough.
        std::erase_if(m_rows, [id](const BatchRow& r) { return r.id == id; });
        --m_running;
        updatePhase();
        emit rowsChanged();
        co_return;
    }
    if (outcome->refusal) {
        applyRefusal(*row, *outcome->refusal);
    } else if (outcome->backup) {
        row->state = BatchRowState::backup;
        row->url = outcome->backup->path;
        row->detail = texts::displayText(analysis::bundleDisplayName(outcome->backup->original));
        row->totalSize = outcome->backup->size;
    }
    if (!outcome->library) {
        --m_running;
        sortRows();
        updatePhase();
        co_return;
    }
    analysis::ReadyLibrary& ready = *outcome->library;
    row->url = ready.url;
    row->name = texts::displayText(analysis::bundleDisplayName(ready.url));
    row->location = texts::pathText(ready.url.parent_path());
    if (ready.missingCache) {
        row->detail =
            texts::fill("Cache externe introuvable : %1", texts::displayText(*ready.missingCache));
    } else if (ready.isFromAlias) {
        // A link given for the library: followed, and said so on the row.
        row->detail = texts::fill("Ouverte par le lien « %1 »", texts::pathText(input.path));
    }
    row->state = BatchRowState::analysing;
    emit rowsChanged();

    auto progress = std::make_shared<platform::WalkProgress>();
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [this, id, progress] {
        if (BatchRow* r = find(id); r && r->state == BatchRowState::analysing) {
            r->filesScanned = static_cast<qint64>(progress->files.load());
            emit rowsChanged();
        }
    });
    ticker.start(250);
    auto analysis =
        runOn(&m_analyses, [analyze = m_services.analyze, calls = m_services.systemCalls,
                            bundle = std::make_shared<platform::UniqueFd>(std::move(ready.bundle)),
                            url = ready.url, alias = ready.isFromAlias, shared, progress,
                            budget = &m_walkBudget] {
            platform::WalkControl walk;
            walk.stop = &shared->stop;
            walk.budget = budget;
            walk.progress = progress.get();
            auto result = std::make_pair(analyze(std::move(*bundle), url, alias, {}, walk),
                                         openBy(url, *calls));
            return std::make_shared<decltype(result)>(std::move(result));
        });
    auto result = co_await analysis;
    if (!self || shared != m_shared) {
        co_return;
    }
    ticker.stop();
    --m_running;
    row = find(id);
    if (row) {
        row->info = std::move(result->first);
        row->totalSize = row->info->totalSize;
        if (result->second) {
            row->state = BatchRowState::openInEditor;
            row->holder = holderText(result->second->holder);
        } else {
            row->state = BatchRowState::ready;
        }
        selectFor(*row);
    }
    sortRows();
    updatePhase();
}

void BatchViewModel::selectFor(BatchRow& row)
{
    if (!row.info) {
        return;
    }
    row.selection = model::presetSelection(m_preset, row.info->foundFolders);
    // A batch cleans inside its libraries only: folders elsewhere (backups
    // kept beside another library) are left for the single window.
    const fs::path inside = row.info->url.lexically_normal();
    std::erase_if(row.selection, [&inside](const fs::path& folder) {
        const fs::path relative = folder.lexically_normal().lexically_relative(inside);
        return relative.empty() || *relative.begin() == "..";
    });
    row.reclaimable = model::selectedSize(&*row.info, row.selection);
}

void BatchViewModel::sortRows()
{
    // Largest gain first; rows that cannot be cleaned after those that can.
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const BatchRow& a, const BatchRow& b) {
        if (counts(a.state) != counts(b.state)) {
            return counts(a.state);
        }
        return a.reclaimable > b.reclaimable;
    });
    emit rowsChanged();
}

void BatchViewModel::applyPreset(model::EditingPreset preset)
{
    if (m_phase == Phase::deleting || m_phase == Phase::done) {
        return;
    }
    if (preset != m_preset) {
        m_preset = preset;
        emit presetChanged();
    }
    for (BatchRow& row : m_rows) {
        selectFor(row);
    }
    sortRows();
}

int BatchViewModel::cleanableCount() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(),
                                          [](const BatchRow& r) { return counts(r.state); }));
}

int BatchViewModel::folderCount() const
{
    int folders = 0;
    for (const BatchRow& row : m_rows) {
        if (counts(row.state)) {
            folders += static_cast<int>(row.selection.size());
        }
    }
    return folders;
}

qint64 BatchViewModel::totalReclaimable() const
{
    qint64 total = 0;
    for (const BatchRow& row : m_rows) {
        total += counts(row.state) ? row.reclaimable : 0;
    }
    return total;
}

qint64 BatchViewModel::totalSize() const
{
    qint64 total = 0;
    for (const BatchRow& row : m_rows) {
        total += counts(row.state) ? row.totalSize : 0;
    }
    return total;
}

int BatchViewModel::failureCount() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const BatchRow& r) {
        return r.state == BatchRowState::failed;
    }));
}

void BatchViewModel::setPhase(Phase phase)
{
    if (phase != m_phase) {
        m_phase = phase;
        emit phaseChanged();
    }
}

void BatchViewModel::updatePhase()
{
    if (m_phase == Phase::deleting) {
        return;
    }
    if (m_searches > 0) {
        setPhase(Phase::searching); // rows found so far are analysed meanwhile
        return;
    }
    if (m_running > 0) {
        setPhase(Phase::analysing);
        return;
    }
    if (m_rows.empty()) {
        setPhase(Phase::empty);
    } else if (m_phase != Phase::done) {
        setPhase(Phase::ready);
    }
}

void BatchViewModel::recheckLocks()
{
    if (m_phase == Phase::deleting) {
        return;
    }
    for (const BatchRow& row : m_rows) {
        if (row.state != BatchRowState::ready && row.state != BatchRowState::openInEditor) {
            continue;
        }
        [](QPointer<BatchViewModel> self, int id, fs::path url, QThreadPool* queue,
           platform::SystemCalls* calls) -> QCoro::Task<> {
            auto probe = runOn(queue, [url, calls] { return openBy(url, *calls); });
            const std::optional<EditorHold> hold = co_await probe;
            if (!self || self->m_phase == Phase::deleting) {
                co_return;
            }
            BatchRow* r = self->find(id);
            if (!r ||
                (r->state != BatchRowState::ready && r->state != BatchRowState::openInEditor)) {
                co_return;
            }
            r->state = hold ? BatchRowState::openInEditor : BatchRowState::ready;
            r->holder = hold ? holderText(hold->holder) : QString();
            self->sortRows();
        }(this, row.id, row.url, &m_lockQueue, m_services.systemCalls);
    }
}

void BatchViewModel::clear()
{
    if (m_phase == Phase::deleting) {
        return;
    }
    m_shared->stop.requestStop();
    m_shared = std::make_shared<Shared>();
    m_running = 0;
    m_searches = 0;
    m_rows.clear();
    m_cancelled = false;
    m_freed = 0;
    emit rowsChanged();
    setPhase(Phase::empty);
}

void BatchViewModel::cancel()
{
    if (m_phase == Phase::deleting) {
        m_cancelled = true;
        if (m_stopRun) {
            m_stopRun->requestStop();
        }
        return;
    }
    if (m_running == 0) {
        return;
    }
    // The search and analyses stop; rows not analysed say so.
    m_shared->stop.requestStop();
    m_shared = std::make_shared<Shared>();
    m_running = 0;
    m_searches = 0;
    for (BatchRow& row : m_rows) {
        if (row.state == BatchRowState::waiting || row.state == BatchRowState::analysing) {
            row.state = BatchRowState::skipped;
            row.detail = texts::translate("Analyse annulée");
        }
    }
    sortRows();
    updatePhase();
}

} // namespace vellico::viewmodel
