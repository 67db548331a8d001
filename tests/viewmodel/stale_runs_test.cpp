// Runs that a newer intake replaced: their analysis result, progress texts
// and download polling must change nothing.

#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <semaphore>
#include <thread>

using namespace vellico;
using namespace vellico::test;

class StaleRunsTest : public QObject {
    Q_OBJECT

private slots:
    void onlyTheNewestLibraryIsPublished();
    void resetStopsARunningAnalysis();
    void aNewIntakeStopsTheRunningAnalysis();
    void staleDownloadWaitStopsPolling();
};

void StaleRunsTest::onlyTheNewestLibraryIsPublished()
{
    Harness h;
    const fs::path first = h.library("A");
    const fs::path second = h.library("B");
    auto entered = std::make_shared<std::binary_semaphore>(0);
    auto gate = std::make_shared<std::binary_semaphore>(0);
    auto base = h.analyzer;
    h.analyzer = [=](platform::UniqueFd fd, const fs::path& bundle, bool alias,
                     const analysis::ProgressSink& progress, const platform::WalkControl& walk) {
        if (bundle == first) {
            entered->release();
            gate->acquire(); // A's analysis is still running when B arrives
            progress(analysis::StatusText{"Analyse de %1\u2026", {"A, en retard"}});
        }
        return base(std::move(fd), bundle, alias, progress, walk);
    };
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(first));
    QVERIFY(waitUntil([&] { return entered->try_acquire(); }));
    QCOMPARE(vm->appState(), AppState::analyzing);

    std::vector<fs::path> published;
    connect(vm.get(), &MainViewModel::bundleInfoChanged, vm.get(), [&] {
        if (vm->bundleInfo()) {
            published.push_back(vm->bundleInfo()->url);
        }
    });
    QSignalSpy discarded(vm.get(), &MainViewModel::analysisDiscarded);
    vm->handleDrop(urlOf(second));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    QSignalSpy status(vm.get(), &MainViewModel::analysisStatusChanged);
    QSignalSpy selection(vm.get(), &MainViewModel::selectedFoldersChanged);

    gate->release();
    QVERIFY(waitUntil([&] { return discarded.count() == 1; }));
    QTest::qWait(50); // any late progress delivery would land now
    QCOMPARE(published.size(), std::size_t(1));
    QCOMPARE(published.front(), second);
    QCOMPARE(vm->bundleInfo()->url, second);
    QCOMPARE(states.count(), 0);
    QCOMPARE(status.count(), 0);
    QCOMPARE(selection.count(), 0);
    QCOMPARE(h.analyses->load(), 2);
}

namespace {

// The analyzer of `library` waits for its stop token (or gives up after a
// few seconds) and reports whether it was told to stop.
std::function<bool()> stopWaitingAnalyzer(Harness& h, const fs::path& library)
{
    auto sawStop = std::make_shared<std::atomic<int>>(-1);
    auto base = h.analyzer;
    h.analyzer = [=](platform::UniqueFd fd, const fs::path& bundle, bool alias,
                     const analysis::ProgressSink& progress, const platform::WalkControl& walk) {
        if (bundle == library) {
            bool stopped = false;
            for (int i = 0; i < 500 && !stopped; ++i) {
                stopped = walk.stop != nullptr && walk.stop->stopRequested();
                if (!stopped) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            *sawStop = stopped ? 1 : 0;
        }
        return base(std::move(fd), bundle, alias, progress, walk);
    };
    return [sawStop] { return *sawStop == 1; };
}

} // namespace

void StaleRunsTest::resetStopsARunningAnalysis()
{
    Harness h;
    const fs::path film = h.library("Film");
    const auto sawStop = stopWaitingAnalyzer(h, film);
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::analyzing; }));
    QSignalSpy discarded(vm.get(), &MainViewModel::analysisDiscarded);
    vm->reset();
    QVERIFY(waitUntil([&] { return discarded.count() == 1; }));
    QVERIFY(sawStop());
    QCOMPARE(vm->appState(), AppState::idle);
    QVERIFY(!vm->bundleInfo());
}

void StaleRunsTest::aNewIntakeStopsTheRunningAnalysis()
{
    Harness h;
    const fs::path first = h.library("A");
    const fs::path second = h.library("B");
    const auto sawStop = stopWaitingAnalyzer(h, first);
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(first));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::analyzing; }));
    QSignalSpy discarded(vm.get(), &MainViewModel::analysisDiscarded);
    vm->handleDrop(urlOf(second));
    QVERIFY(waitUntil([&] { return discarded.count() == 1 && vm->appState() == AppState::ready; }));
    QVERIFY(sawStop());
    QCOMPARE(vm->bundleInfo()->url, second);
}

void StaleRunsTest::staleDownloadWaitStopsPolling()
{
    Harness h;
    const fs::path cloudy = h.library("Nuage");
    const fs::path local = h.library("Local");
    h.cloud->setItem(cloudy, {.isCurrent = false}); // never arrives, never fails
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, cloudy, ActiveSheet::iCloud));
    vm->handleICloudResponse(true);
    QVERIFY(waitUntil([&] { return h.cloud->polls(cloudy) >= 3; }));
    QCOMPARE(vm->appState(), AppState::analyzing);

    vm->handleDrop(urlOf(local));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    const int pollsAtSwitch = h.cloud->polls(cloudy);
    QTest::qWait(100); // dozens of fake 500 ms sleeps would pass meanwhile
    QVERIFY(h.cloud->polls(cloudy) <= pollsAtSwitch + 1); // at most the poll already under way
    QCOMPARE(vm->bundleInfo()->url, local);
    QVERIFY(!vm->errorMessage());
}

QTEST_GUILESS_MAIN(StaleRunsTest)
#include "stale_runs_test.moc"
