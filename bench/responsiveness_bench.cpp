// How well the GUI thread keeps turning while a large library is analysed: a
// 10 ms timer keeps firing, and the longest gap between two ticks is printed
// and checked against a generous slack. A benchmark, not a test (it measures
// wall-clock time): run it alone, on a quiet machine. The file count is
// VELLICO_RESPONSIVENESS_FILES (default 200,000).

#include "sample_library.hpp"
#include "viewmodel/harness.hpp"

#include <QElapsedTimer>

#include <QTest>
#include <QTimer>
#include <algorithm>

using namespace vellico;
using namespace vellico::test;

class ResponsivenessBench : public QObject {
    Q_OBJECT

private slots:
    void eventLoopTurnsDuringAnalysis();
};

void ResponsivenessBench::eventLoopTurnsDuringAnalysis()
{
    const std::size_t files = qEnvironmentVariableIsSet("VELLICO_RESPONSIVENESS_FILES")
                                  ? qEnvironmentVariable("VELLICO_RESPONSIVENESS_FILES").toULong()
                                  : 200000;
    Harness h;
    const fs::path bundle = h.dir / "Gros.fcpbundle";
    tools::writeSyntheticLibrary(bundle, {.fileCount = files});
    auto vm = h.makeViewModel();

    constexpr int interval = 10;
    constexpr qint64 slackMs = 250;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
        ++ticks;
    });
    QStringList statuses;
    connect(vm.get(), &MainViewModel::analysisStatusChanged, this, [&] {
        if (vm->analysisStatus()) {
            statuses << *vm->analysisStatus();
        }
    });

    QList<qint64> counts; // the file count as the window would have shown it
    connect(vm.get(), &MainViewModel::filesScannedChanged, this,
            [&] { counts << vm->filesScanned(); });

    vm->handleDrop(urlOf(bundle));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::analyzing; }));
    clock.start();
    timer.start(interval);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }, 500000));
    const qint64 analysisMs = clock.elapsed();
    timer.stop();
    longestGap = std::max(longestGap, analysisMs - last);

    qInfo("analysed %zu files in %lld ms; %d timer ticks; longest GUI-thread gap %lld ms (interval "
          "%d ms)",
          files, static_cast<long long>(analysisMs), ticks, static_cast<long long>(longestGap),
          interval);
    QVERIFY(!vm->bundleInfo()->foundFolders.empty());
    QVERIFY(!statuses.isEmpty()); // progress reached the GUI thread while it ran
    // The count grew while the analysis ran and never passed the library's files.
    QVERIFY(!counts.isEmpty() && counts.back() > 0);
    QVERIFY(std::is_sorted(counts.begin(), counts.end()));
    QVERIFY(counts.back() <= static_cast<qint64>(files) + 16);
    QVERIFY2(longestGap <= slackMs,
             qPrintable(QStringLiteral("longest gap %1 ms").arg(longestGap)));
    QVERIFY(ticks >= analysisMs / (4 * interval)); // it kept firing all along, not only at the end
}

QTEST_GUILESS_MAIN(ResponsivenessBench)
#include "responsiveness_bench.moc"
