// Runs that a newer intake replaced: their analysis result, progress texts
// and download polling must change nothing.

#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QSignalSpy>
#include <QTest>

#include <semaphore>

using namespace vellico;
using namespace vellico::test;

class StaleRunsTest : public QObject {
    Q_OBJECT

private slots:
    void onlyTheNewestLibraryIsPublished();
    void resetMakesARunningAnalysisInert();
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
    h.analyzer = [=](const fs::path& bundle, bool alias, const analysis::ProgressSink& progress,
                     std::atomic<std::uint64_t>* files) {
        if (bundle == first) {
            entered->release();
            gate->acquire(); // A's analysis is still running when B arrives
            progress(analysis::StatusText{"Analyse de %1\u2026", {"A, en retard"}});
        }
        return base(bundle, alias, progress, files);
    };
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(first));
    QVERIFY(waitUntil([&] { return entered->try_acquire(); }));
    QCOMPARE(vm->appState(), AppState::analyzing);

    std::vector<fs::path> published;
    connect(vm.get(), &VARAvevadaViewModel::bundleInfoChanged, vm.get(), [&] {
        if (vm->bundleInfo()) {
            published.push_back(vm->bundleInfo()->url);
        }
    });
    QSignalSpy discarded(vm.get(), &VARAvevadaViewModel::analysisDiscarded);
    vm->handleDrop(urlOf(second));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QSignalSpy states(vm.get(), &VARAvevadaViewModel::appStateChanged);
    QSignalSpy status(vm.get(), &VARAvevadaViewModel::analysisStatusChanged);
    QSignalSpy selection(vm.get(), &VARAvevadaViewModel::selectedFoldersChanged);

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

void StaleRunsTest::resetMakesARunningAnalysisInert()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto gate = std::make_shared<std::binary_semaphore>(0);
    auto base = h.analyzer;
    h.analyzer = [=](const fs::path& bundle, bool alias, const analysis::ProgressSink& progress,
                     std::atomic<std::uint64_t>* files) {
        gate->acquire();
        return base(bundle, alias, progress, files);
    };
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::analyzing; }));
    QSignalSpy discarded(vm.get(), &VARAvevadaViewModel::analysisDiscarded);
    vm->reset();
    gate->release();
    QVERIFY(waitUntil([&] { return discarded.count() == 1; }));
    QCOMPARE(vm->appState(), AppState::idle);
    QVERIFY(!vm->bundleInfo());
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
