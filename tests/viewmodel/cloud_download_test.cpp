// The cloud-drive paths of the intake with a fake drive: refused start,
// download done after some polls, failure reported in a poll, a downloaded
// bundle that is not a library, and the state at every end.

#include "sample_library.hpp"
#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QSignalSpy>
#include <QTest>

using namespace vellico;
using namespace vellico::test;
using namespace std::chrono_literals;

class CloudDownloadTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { viewmodel::texts::installTranslations(*QCoreApplication::instance()); }

    void refusedStartSaysSoAndStaysIdle();
    void downloadAfterThreePollsGoesOnWithoutReminder();
    void errorWinsOverCurrentInTheSamePoll();
    void downloadedBundleThatIsNotALibraryReturnsToIdle();
    void stopAfterDownloadReturnsToIdle();
};

void CloudDownloadTest::refusedStartSaysSoAndStaysIdle()
{
    Harness h;
    const fs::path film = h.library("Film");
    h.cloud->setItem(film, {.isCurrent = false, .refuseDownload = true});
    auto vm = h.makeViewModel();
    QSignalSpy status(vm.get(), &MainViewModel::analysisStatusChanged);
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::iCloud));
    QVERIFY(!vm->iCloudSheetIsDownloaded());
    QCOMPARE(vm->iCloudSheetLibName(), QStringLiteral("Film"));
    vm->handleICloudResponse(true);
    QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
    QCOMPARE(
        *vm->errorMessage(),
        QString::fromUtf8("Impossible de lancer le téléchargement de « Film » depuis iCloud."));
    QCOMPARE(vm->appState(), AppState::idle);
    QCOMPARE(states.count(), 0);
    QCOMPARE(status.count(), 0);
}

void CloudDownloadTest::downloadAfterThreePollsGoesOnWithoutReminder()
{
    Harness h;
    const fs::path film = h.library("Film");
    h.cloud->setItem(film, {.isCurrent = false, .pollsUntilCurrent = 3});
    auto vm = h.makeViewModel();
    QStringList statuses;
    connect(vm.get(), &MainViewModel::analysisStatusChanged, vm.get(),
            [&] { statuses << vm->analysisStatus().value_or(QStringLiteral("<none>")); });
    std::vector<AppState> states;
    connect(vm.get(), &MainViewModel::appStateChanged, vm.get(),
            [&] { states.push_back(vm->appState()); });
    QSignalSpy sheets(vm.get(), &MainViewModel::activeSheetChanged);
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::iCloud));
    vm->handleICloudResponse(true);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QCOMPARE(h.cloud->polls(film), 3);
    QCOMPARE(h.clock->sleepCount(500ms), std::size_t(3));
    QCOMPARE(statuses.value(0), QString::fromUtf8("Téléchargement depuis iCloud\u2026"));
    QCOMPARE(statuses.value(1), QStringLiteral("<none>"));
    QCOMPARE(sheets.count(), 2); // the iCloud question shown and closed; no reminder after it
    const std::vector<AppState> expected{AppState::analyzing, AppState::ready};
    QVERIFY(states == expected);
    QCOMPARE(vm->bundleInfo()->url, film);
}

void CloudDownloadTest::errorWinsOverCurrentInTheSamePoll()
{
    Harness h;
    const fs::path film = h.library("Film");
    h.cloud->setItem(film, {.isCurrent = false, .pollsUntilCurrent = 2, .errorAtPoll = 2});
    auto vm = h.makeViewModel();
    QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::iCloud));
    vm->handleICloudResponse(true);
    QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
    QCOMPARE(*vm->errorMessage(),
             QString::fromUtf8("Échec du téléchargement iCloud : Réseau indisponible"));
    QCOMPARE(vm->appState(), AppState::idle);
    QCOMPARE(h.analyses->load(), 0);
}

void CloudDownloadTest::downloadedBundleThatIsNotALibraryReturnsToIdle()
{
    Harness h;
    const fs::path film = h.library("Film");
    h.cloud->setItem(film, {.isCurrent = false, .pollsUntilCurrent = 1, .onArrival = [film] {
                                fs::remove(film / "CurrentVersion.flexolibrary");
                            }});
    auto vm = h.makeViewModel();
    QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::iCloud));
    vm->handleICloudResponse(true);
    QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
    QCOMPARE(*vm->errorMessage(),
             QString::fromUtf8("« Film » n'est pas une bibliothèque Final Cut Pro valide."));
    QCOMPARE(vm->appState(), AppState::idle);
}

// After a download the window shows the analysing state; every later end
// that does not analyse must bring it back to idle (no endless spinner).
void CloudDownloadTest::stopAfterDownloadReturnsToIdle()
{
    for (const bool declineInSheet : {true, false}) {
        Harness h;
        const fs::path film = h.library("Film");
        fs::path dropped = film;
        if (declineInSheet) {
            h.cloud->setItem(film, {.isCurrent = false, .pollsUntilCurrent = 1});
            EditorHold hold(film); // the library-open sheet follows the download
            auto vm = h.makeViewModel();
            QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::iCloud));
            vm->handleICloudResponse(true);
            QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::fcpLocked; }));
            QCOMPARE(vm->appState(), AppState::analyzing);
            vm->handleFCPLockedResponse(viewmodel::FCPLockedResponse::cancel);
            QCOMPARE(vm->appState(), AppState::idle);
        } else {
            // A backup whose original is gone: an error after the download.
            tools::LibraryBuilder backup(h.dir / "20240315_1042_GMT+1.fcpbundle");
            tools::writeFile(backup.path() / "__BackupInfo.plist", "illisible");
            h.cloud->setItem(backup.path(), {.isCurrent = false, .pollsUntilCurrent = 1});
            auto vm = h.makeViewModel();
            QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
            QVERIFY(dropAndWaitForSheet(*vm, backup.path(), ActiveSheet::iCloud));
            vm->handleICloudResponse(true);
            QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
            QVERIFY(vm->errorMessage()->contains(QString::fromUtf8("est une sauvegarde")));
            QCOMPARE(vm->appState(), AppState::idle);
        }
    }
}

QTEST_GUILESS_MAIN(CloudDownloadTest)
#include "cloud_download_test.moc"
