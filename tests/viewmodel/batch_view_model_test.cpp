// The batch: mixed libraries (ready, locked, open in the editor, a backup,
// repeated), sorting and totals, a deletion with a failure in the middle,
// "Annuler" during a deletion, a library opened at its turn by the editor,
// and libraries opened while the deletion runs.

#include "analysis/library_intake.hpp"
#include "analysis/library_scan.hpp"
#include "analysis/machine_analysis.hpp"
#include "cleanup/library_lock.hpp"
#include "formats/property_list.hpp"
#include "sample_library.hpp"
#include "viewmodel/batch_view_model.hpp"
#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <semaphore>

using namespace vellico;
using namespace vellico::test;
using viewmodel::BatchRow;
using viewmodel::BatchRowState;
using viewmodel::BatchViewModel;
using Phase = BatchViewModel::Phase;

namespace {

// A library whose Render Files hold `bytes`.
fs::path library(const fs::path& dir, const std::string& name, std::int64_t bytes)
{
    tools::LibraryBuilder builder(dir / (name + ".fcpbundle"));
    builder.event("Event A", {"Render Files"}, bytes);
    return builder.path();
}

// A backup bundle of `original`, as the editor writes them.
fs::path backupOf(const fs::path& folder, const fs::path& original)
{
    tools::LibraryBuilder backup(folder / "20240315_1042_GMT+1.fcpbundle");
    formats::PlistValue::Dict record;
    record.emplace_back("originalURL", formats::PlistValue(tools::fileURL(original)));
    tools::writePropertyList(backup.path() / "__BackupInfo.plist", formats::PlistValue(record),
                             tools::PlistFormat::xml);
    return backup.path();
}

std::string pathOfFd(int fd)
{
    char buffer[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(proc.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Removals inside libraries whose path holds `failIn` fail; with a gate,
// every removal inside a library waits for it.
class BatchCalls final : public platform::SystemCalls {
public:
    int unlinkat(int dirFd, const char* name, int flags) override
    {
        const std::string_view entry(name);
        if (entry == "__Sync__" || entry.starts_with("Vellico")) {
            return platform::SystemCalls::unlinkat(dirFd, name, flags);
        }
        if (!failIn.empty() && pathOfFd(dirFd).find(failIn) != std::string::npos) {
            errno = EACCES;
            return -1;
        }
        if (gated) {
            entered.release();
            gate.acquire();
            gate.release();
        }
        return platform::SystemCalls::unlinkat(dirFd, name, flags);
    }
    std::string failIn;
    bool gated = false;
    std::counting_semaphore<100000> entered{0};
    std::binary_semaphore gate{0};
};

struct Batch {
    explicit Batch(platform::SystemCalls* calls = &platform::defaultSystemCalls(),
                   const std::function<void(viewmodel::BatchServices&)>& adjust = {})
    {
        auto machine = std::make_shared<const analysis::MachineAnalysis>(h.dir.path());
        viewmodel::BatchServices services = viewmodel::machineBatchServices(machine);
        // The real intake, except that the items named in `locked` read as
        // marked locked (the immutable flag needs privileges to set).
        auto takeIn = services.takeIn;
        services.takeIn = [takeIn, locked = lockedNames](const analysis::BatchInput& input,
                                                         analysis::IntakeQuestions& questions,
                                                         analysis::BatchScope& scope,
                                                         const platform::WalkControl& walk) {
            if (locked->count(fs::path(input.path).filename().string()) != 0) {
                analysis::IntakeOutcome outcome;
                outcome.refusal =
                    analysis::Refusal{input.path,
                                      fs::path(input.path),
                                      analysis::messageKey(analysis::IntakeError::Kind::locked),
                                      {fs::path(input.path).stem().string()}};
                return outcome;
            }
            return takeIn(input, questions, scope, walk);
        };
        // No backup search, no cache lookup: only the library itself.
        services.analyze = [](platform::UniqueFd bundle, const fs::path& url, bool alias,
                              const analysis::ProgressSink& progress,
                              const platform::WalkControl& walk) {
            return analysis::analyzeBundle(std::move(bundle), url, alias, {nullptr, nullptr, walk},
                                           progress);
        };
        services.systemCalls = calls;
        if (adjust) {
            adjust(services);
        }
        vm = std::make_unique<BatchViewModel>(services);
    }

    // Adds `paths` and waits until every row is analysed.
    bool add(const std::vector<fs::path>& paths)
    {
        QStringList list;
        for (const fs::path& path : paths) {
            list << QString::fromStdString(path.string());
        }
        vm->addLibraries(list);
        return waitUntil([this] { return vm->phase() == Phase::ready; });
    }

    const BatchRow& rowNamed(const QString& name) const
    {
        for (const BatchRow& row : vm->rows()) {
            if (row.name == name) {
                return row;
            }
        }
        throw std::runtime_error("no row named " + name.toStdString());
    }

    QStringList names() const
    {
        QStringList out;
        for (const BatchRow& row : vm->rows()) {
            out << row.name;
        }
        return out;
    }

    Harness h;
    std::shared_ptr<std::set<std::string>> lockedNames = std::make_shared<std::set<std::string>>();
    std::unique_ptr<BatchViewModel> vm;
};

// A search that finds `libraries` one at a time: each waits for a step of
// the test, and the search ends after the last one or at a stop.
struct SteppedSearch {
    std::vector<fs::path> libraries;
    std::counting_semaphore<16> step{0};
    std::atomic<bool> ended{false};

    static void install(const std::shared_ptr<SteppedSearch>& search,
                        viewmodel::BatchServices& services)
    {
        services.collect =
            [search](const std::vector<std::string>&, bool, const platform::WalkControl& walk,
                     std::atomic<std::uint64_t>* found, const analysis::LibraryFound& onFound) {
                for (const fs::path& lib : search->libraries) {
                    while (!search->step.try_acquire_for(std::chrono::milliseconds(10))) {
                        if (walk.stop != nullptr && walk.stop->stopRequested()) {
                            search->ended = true;
                            return analysis::BatchInputs{};
                        }
                    }
                    found->fetch_add(1);
                    onFound(analysis::BatchInput{lib.string(), {}, {}, {}});
                }
                search->ended = true;
                return analysis::BatchInputs{};
            };
    }
};

// A batch searching the folder "Drive", where the stepped search meets the
// libraries "First" and "Second" one step at a time.
struct SearchingBatch {
    SearchingBatch()
    {
        search->libraries = {library(b.h.dir / "Drive", "First", 20'000),
                             library(b.h.dir / "Drive", "Second", 30'000)};
        b.vm->searchFolder(QString::fromStdString((b.h.dir / "Drive").string()));
    }

    std::shared_ptr<SteppedSearch> search = std::make_shared<SteppedSearch>();
    Batch b{&platform::defaultSystemCalls(),
            [search = search](viewmodel::BatchServices& s) { SteppedSearch::install(search, s); }};
};

bool lockIsFree(const fs::path& lib)
{
    return !cleanup::isLibraryOpenInFCP(lib);
}

} // namespace

class BatchViewModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { viewmodel::texts::installTranslations(*QCoreApplication::instance()); }

    void mixedLibrariesAreSortedAndOnlyCleanableOnesCount();
    void searchFindsLibrariesAndListsABackupAsABackup();
    void aBackupIsMeasuredInsideTheBatchsBudget();
    void intakesRunSideBySideAndThePathGivenFirstIsKept();
    void deletionGoesLibraryByLibraryAndReportsAFailureInTheMiddle();
    void libraryOpenedByTheEditorBeforeItsTurnIsLeftAlone();
    void cancelStopsAfterTheEntryInHandAndGivesTheLockBack();
    void librariesOpenedDuringTheDeletionJoinAfterIt();
    void presetAppliesToEveryLibrary();
    void searchListsAndAnalysesLibrariesAsTheyAreFound();
    void cancelDuringASearchStopsItAndKeepsWhatWasAnalysed();
};

void BatchViewModelTest::mixedLibrariesAreSortedAndOnlyCleanableOnesCount()
{
    Batch b;
    const fs::path small = library(b.h.dir.path(), "Small", 10'000);
    const fs::path big = library(b.h.dir.path(), "Big", 500'000);
    const fs::path open = library(b.h.dir.path(), "Open", 900'000);
    const fs::path locked = library(b.h.dir.path(), "Locked", 800'000);
    const fs::path plain = b.h.dir / "Plain";
    fs::create_directories(plain);
    fs::create_directories(b.h.dir / "x");
    b.lockedNames->insert("Locked.fcpbundle");
    EditorHold editor(open);
    const fs::path link = b.h.dir / "Lien vers Small";
    fs::create_symlink(small, link);
    // "Small" three times: through a link given first, and through "..".
    QVERIFY(
        b.add({link, small, big, open, locked, plain, b.h.dir / "x" / ".." / "Small.fcpbundle"}));
    QCOMPARE(b.vm->rows().size(), std::size_t(5));
    QVERIFY2(b.rowNamed("Small").detail.contains("Lien vers Small"),
             qPrintable(b.rowNamed("Small").detail));
    QCOMPARE(b.rowNamed("Small").url, small);

    // Cleanable rows first, the largest gain first.
    QCOMPARE(b.names().mid(0, 2), (QStringList{"Big", "Small"}));
    QCOMPARE(b.rowNamed("Big").state, BatchRowState::ready);
    QCOMPARE(b.rowNamed("Open").state, BatchRowState::openInEditor);
    QVERIFY(b.rowNamed("Open").holder.contains("Final Cut Pro"));
    QCOMPARE(b.rowNamed("Locked").state, BatchRowState::locked);
    QCOMPARE(b.rowNamed("Plain").state, BatchRowState::refused);
    QVERIFY(!b.rowNamed("Plain").detail.isEmpty());

    // Totals leave out what cannot be cleaned.
    QCOMPARE(b.vm->cleanableCount(), 2);
    QCOMPARE(b.vm->totalReclaimable(),
             b.rowNamed("Big").reclaimable + b.rowNamed("Small").reclaimable);
    QVERIFY(b.rowNamed("Big").reclaimable >= 500'000);
    QCOMPARE(b.vm->folderCount(), 2);

    // The editor closes it; the re-check on activation makes it count.
    editor.release();
    b.vm->recheckLocks();
    QTRY_COMPARE(b.rowNamed("Open").state, BatchRowState::ready);
    QCOMPARE(b.names().front(), QStringLiteral("Open"));
    QCOMPARE(b.vm->cleanableCount(), 3);
}

void BatchViewModelTest::searchFindsLibrariesAndListsABackupAsABackup()
{
    Batch b;
    const fs::path root = b.h.dir / "Drive";
    const fs::path film = library(root / "Projects", "Film", 20'000);
    library(root / "Other", "Clip", 30'000);
    const fs::path backup = backupOf(root / "Backups", film);
    b.vm->searchFolder(QString::fromStdString(root.string()));
    QTRY_COMPARE(b.vm->phase(), Phase::ready);
    QCOMPARE(b.vm->rows().size(), std::size_t(3));
    QCOMPARE(b.vm->searchCount(), 3); // the live count of libraries met
    const BatchRow& listed = b.rowNamed("20240315_1042_GMT+1");
    QCOMPARE(listed.state, BatchRowState::backup);
    QVERIFY(viewmodel::batchStateText(listed).contains("Film"));
    QVERIFY(listed.totalSize > 0);
    QCOMPARE(b.vm->cleanableCount(), 2);
    // Nothing of the backup counts.
    QCOMPARE(b.vm->totalSize(), b.rowNamed("Film").totalSize + b.rowNamed("Clip").totalSize);
    QVERIFY(fs::exists(backup));
}

void BatchViewModelTest::aBackupIsMeasuredInsideTheBatchsBudget()
{
    Batch b;
    const fs::path film = library(b.h.dir.path(), "Film", 20'000);
    const fs::path backup = backupOf(b.h.dir / "Backups", film);
    // Given alone, nothing else walks: no search, no analysis (a backup is
    // listed, not analysed). Its size comes from a walk of the batch's.
    QVERIFY(b.add({backup}));
    QCOMPARE(b.vm->rows().size(), std::size_t(1));
    QCOMPARE(b.vm->rows().front().state, BatchRowState::backup);
    QVERIFY(b.vm->rows().front().totalSize > 0);
    QVERIFY(b.vm->walkBudget().peak() >= 1);
    QCOMPARE(b.vm->walkBudget().inUse(), 0);
}

void BatchViewModelTest::intakesRunSideBySideAndThePathGivenFirstIsKept()
{
    // The first intakes wait (at most a few seconds) until as many as the
    // batch allows have come in; the link to "Film", given first, waits until
    // the plain path given after it has had time to claim the library.
    struct Meeting {
        std::mutex mutex;
        std::condition_variable changed;
        int arrived = 0;
        int inside = 0;
        int most = 0;
        bool plainDone = false;
    };
    auto meeting = std::make_shared<Meeting>();
    Batch b(&platform::defaultSystemCalls(), [meeting](viewmodel::BatchServices& services) {
        services.takeIn = [meeting, takeIn = services.takeIn](const analysis::BatchInput& input,
                                                              analysis::IntakeQuestions& questions,
                                                              analysis::BatchScope& scope,
                                                              const platform::WalkControl& walk) {
            const std::string name = fs::path(input.path).filename().string();
            std::unique_lock lock(meeting->mutex);
            ++meeting->arrived;
            meeting->most = std::max(meeting->most, ++meeting->inside);
            meeting->changed.notify_all();
            meeting->changed.wait_for(lock, std::chrono::seconds(5), [&] {
                return meeting->arrived >= BatchViewModel::maxParallelIntakes;
            });
            if (name == "Lien vers Film") {
                meeting->changed.wait_for(lock, std::chrono::milliseconds(500),
                                          [&] { return meeting->plainDone; });
            }
            lock.unlock();
            analysis::IntakeOutcome outcome = takeIn(input, questions, scope, walk);
            lock.lock();
            --meeting->inside;
            meeting->plainDone = meeting->plainDone || name == "Film.fcpbundle";
            meeting->changed.notify_all();
            return outcome;
        };
    });
    const fs::path film = library(b.h.dir.path(), "Film", 40'000);
    const fs::path link = b.h.dir / "Lien vers Film";
    fs::create_symlink(film, link);
    const fs::path one = library(b.h.dir.path(), "One", 10'000);
    const fs::path two = library(b.h.dir.path(), "Two", 20'000);
    const fs::path three = library(b.h.dir.path(), "Three", 30'000);
    QVERIFY(b.add({link, film, one, two, three}));
    QCOMPARE(meeting->most, BatchViewModel::maxParallelIntakes);
    // One row for "Film": the link's, given first, whichever intake ended first.
    QCOMPARE(b.names(), (QStringList{"Film", "Three", "Two", "One"}));
    QVERIFY2(b.rowNamed("Film").detail.contains("Lien vers Film"),
             qPrintable(b.rowNamed("Film").detail));
    QCOMPARE(b.rowNamed("Film").url, film);
}

void BatchViewModelTest::deletionGoesLibraryByLibraryAndReportsAFailureInTheMiddle()
{
    BatchCalls calls;
    calls.failIn = "/Middle.fcpbundle/";
    Batch b(&calls);
    const fs::path first = library(b.h.dir.path(), "First", 300'000);
    const fs::path middle = library(b.h.dir.path(), "Middle", 200'000);
    const fs::path last = library(b.h.dir.path(), "Last", 100'000);
    QVERIFY(b.add({first, middle, last}));
    QCOMPARE(b.names(), (QStringList{"First", "Middle", "Last"}));
    const qint64 expected = b.rowNamed("First").reclaimable + b.rowNamed("Last").reclaimable;

    QList<int> indices;
    connect(b.vm.get(), &BatchViewModel::deletionProgressChanged, this,
            [&] { indices << b.vm->currentIndex(); });
    qint64 reportedFreed = -1;
    int reportedFailures = -1;
    connect(b.vm.get(), &BatchViewModel::deletionFinished, this, [&](qint64 freed, int failures) {
        reportedFreed = freed;
        reportedFailures = failures;
    });
    b.vm->startDeletion();
    QCOMPARE(b.vm->phase(), Phase::deleting);
    QCOMPARE(b.vm->deletionCount(), 3);
    QTRY_COMPARE(b.vm->phase(), Phase::done);

    QCOMPARE(b.rowNamed("First").state, BatchRowState::cleaned);
    QCOMPARE(b.rowNamed("Middle").state, BatchRowState::failed);
    QVERIFY(!b.rowNamed("Middle").errors.isEmpty());
    QCOMPARE(b.rowNamed("Last").state, BatchRowState::cleaned);
    QCOMPARE(b.vm->freedSoFar(), expected);
    QCOMPARE(reportedFreed, expected);
    QCOMPARE(reportedFailures, 1);
    QVERIFY(indices.contains(1) && indices.contains(2) && indices.contains(3));
    QVERIFY(!fs::exists(first / "Event A" / "Render Files"));
    QVERIFY(fs::exists(middle / "Event A" / "Render Files"));
    QVERIFY(!fs::exists(last / "Event A" / "Render Files"));
    for (const fs::path& lib : {first, middle, last}) {
        QVERIFY(lockIsFree(lib)); // each given back after its turn
    }
}

void BatchViewModelTest::libraryOpenedByTheEditorBeforeItsTurnIsLeftAlone()
{
    Batch b;
    const fs::path first = library(b.h.dir.path(), "First", 300'000);
    const fs::path second = library(b.h.dir.path(), "Second", 100'000);
    QVERIFY(b.add({first, second}));
    QCOMPARE(b.vm->cleanableCount(), 2);
    // Opened in the editor after the analysis: its turn checks again.
    EditorHold editor(second);
    b.vm->startDeletion();
    QTRY_COMPARE(b.vm->phase(), Phase::done);
    QCOMPARE(b.rowNamed("First").state, BatchRowState::cleaned);
    QCOMPARE(b.rowNamed("Second").state, BatchRowState::skipped);
    QVERIFY(b.rowNamed("Second").detail.contains("Final Cut Pro"));
    QVERIFY(fs::exists(second / "Event A" / "Render Files"));
    QCOMPARE(b.vm->freedSoFar(), b.rowNamed("First").freed);
}

void BatchViewModelTest::cancelStopsAfterTheEntryInHandAndGivesTheLockBack()
{
    BatchCalls calls;
    calls.gated = true;
    Batch b(&calls);
    const fs::path first = library(b.h.dir.path(), "First", 300'000);
    const fs::path second = library(b.h.dir.path(), "Second", 100'000);
    QVERIFY(b.add({first, second}));
    b.vm->startDeletion();
    QVERIFY(QTest::qWaitFor([&] { return calls.entered.try_acquire(); }, 10000));
    b.vm->cancel();
    calls.gate.release();
    QTRY_COMPARE(b.vm->phase(), Phase::done);
    QVERIFY(b.vm->wasCancelled());
    QCOMPARE(b.rowNamed("Second").state, BatchRowState::skipped);
    QVERIFY(fs::exists(second / "Event A" / "Render Files"));
    // The first library's folder was not finished: it is not counted freed.
    QVERIFY(fs::exists(first / "Event A" / "Render Files"));
    QCOMPARE(b.vm->freedSoFar(), 0);
    QVERIFY(lockIsFree(first));
    QVERIFY(lockIsFree(second));
}

void BatchViewModelTest::librariesOpenedDuringTheDeletionJoinAfterIt()
{
    BatchCalls calls;
    calls.gated = true;
    Batch b(&calls);
    const fs::path first = library(b.h.dir.path(), "First", 300'000);
    const fs::path later = library(b.h.dir.path(), "Later", 50'000);
    QVERIFY(b.add({first}));
    b.vm->startDeletion();
    QVERIFY(QTest::qWaitFor([&] { return calls.entered.try_acquire(); }, 10000));
    b.vm->addLibraries({QString::fromStdString(later.string())});
    QCOMPARE(b.vm->deferredPaths().size(), 1);
    QCOMPARE(b.vm->rows().size(), std::size_t(1)); // not while the deletion runs
    calls.gate.release();
    QTRY_VERIFY(b.vm->rows().size() == 2 && b.vm->phase() == Phase::ready);
    QCOMPARE(b.rowNamed("First").state, BatchRowState::cleaned);
    QCOMPARE(b.rowNamed("Later").state, BatchRowState::ready);
    QVERIFY(b.vm->deferredPaths().isEmpty());
    QVERIFY(fs::exists(later / "Event A" / "Render Files"));
}

void BatchViewModelTest::presetAppliesToEveryLibrary()
{
    Batch b;
    tools::LibraryBuilder one(b.h.dir / "One.fcpbundle");
    one.event("Event A", {"Render Files", "Transcoded Media"}, 100'000);
    tools::LibraryBuilder two(b.h.dir / "Two.fcpbundle");
    two.event("Event A", {"Render Files", "Transcoded Media"}, 100'000);
    QVERIFY(b.add({one.path(), two.path()}));
    const qint64 inProgress = b.vm->totalReclaimable();
    b.vm->applyPreset(model::EditingPreset::done);
    QCOMPARE(b.vm->preset(), model::EditingPreset::done);
    QVERIFY(b.vm->totalReclaimable() > inProgress);
    for (const BatchRow& row : b.vm->rows()) {
        QCOMPARE(row.selection,
                 model::presetSelection(model::EditingPreset::done, row.info->foundFolders));
    }
}

void BatchViewModelTest::searchListsAndAnalysesLibrariesAsTheyAreFound()
{
    SearchingBatch searching;
    auto& [search, b] = searching;
    QCOMPARE(b.vm->phase(), Phase::searching);

    // The first library found is a row, and analysed, while the search goes on.
    search->step.release();
    QTRY_COMPARE(b.vm->rows().size(), std::size_t(1));
    QTRY_COMPARE(b.rowNamed("First").state, BatchRowState::ready);
    QTRY_COMPARE(b.vm->searchCount(), 1);
    QCOMPARE(b.vm->phase(), Phase::searching);
    QVERIFY(!search->ended);
    QCOMPARE(b.vm->cleanableCount(), 1);

    search->step.release();
    QTRY_COMPARE(b.vm->phase(), Phase::ready);
    QVERIFY(search->ended);
    QCOMPARE(b.names(), (QStringList{"Second", "First"}));
    QCOMPARE(b.rowNamed("Second").state, BatchRowState::ready);
    QCOMPARE(b.vm->searchCount(), 2);
}

void BatchViewModelTest::cancelDuringASearchStopsItAndKeepsWhatWasAnalysed()
{
    SearchingBatch searching;
    auto& [search, b] = searching;
    search->step.release();
    QTRY_COMPARE(b.vm->rows().size(), std::size_t(1));
    QTRY_COMPARE(b.rowNamed("First").state, BatchRowState::ready);

    b.vm->cancel();
    QCOMPARE(b.vm->phase(), Phase::ready);
    QTRY_VERIFY(search->ended);                  // the stop reached the search
    QTRY_COMPARE(b.vm->walkBudget().inUse(), 0); // the analyses gave their threads back
    search->step.release();
    QTest::qWait(300);
    QCOMPARE(b.vm->rows().size(), std::size_t(1));
    QCOMPARE(b.rowNamed("First").state, BatchRowState::ready);
    QCOMPARE(b.vm->phase(), Phase::ready);
}

QTEST_GUILESS_MAIN(BatchViewModelTest)
#include "batch_view_model_test.moc"
