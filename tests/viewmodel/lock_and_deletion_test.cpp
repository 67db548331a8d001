// The lock re-check on activation (both branches), reset, and the deletion
// run: nothing selected, a claim refused by the editor, removals that partly
// fail, and the requests a running deletion must refuse.

#include "formats/property_list.hpp"
#include "sample_library.hpp"
#include "support/gated_removals.hpp"
#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QSignalSpy>
#include <QTest>

#include <semaphore>

#include <sys/stat.h>

using namespace vellico;
using namespace vellico::test;
using viewmodel::FCPLockedResponse;

namespace {

// Analyses `library` to the ready state.
bool analyse(MainViewModel& vm, const fs::path& library)
{
    vm.handleDrop(urlOf(library));
    return waitUntil([&] { return vm.appState() == AppState::ready; });
}

// Lets the lock worker's probe run and its answer come back.
void settle()
{
    QTest::qWait(200);
}

} // namespace

class LockAndDeletionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { viewmodel::texts::installTranslations(*QCoreApplication::instance()); }

    void recheckAnswersTheOpenLibrarySheetOnceClosed();
    void recheckReanalysesALibraryAnalysedWhileOpen();
    void openLibrarySheetNamesTheHolderFromTheLockRecord();
    void resetClearsEverything();
    void deletionWithNothingSelectedChangesNothing();
    void deletionRefusedWhenTheEditorOpenedTheLibrary();
    void deletionRefusedWhenTheLockFileIsNotARegularFile();
    void deletionThatPartlyFails();
    void newDropClearsTheLastDeletionResults();
    void runningDeletionRefusesDropResetAndSecondRun();
    void stopDuringADeletionRemovesNothingMoreAndGivesTheLockBack();
};

void LockAndDeletionTest::recheckAnswersTheOpenLibrarySheetOnceClosed()
{
    Harness h;
    const fs::path film = h.library("Film");
    EditorHold editor(film);
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::fcpLocked));

    vm->recheckLockOnActivation(); // still open: nothing changes
    settle();
    QCOMPARE(vm->activeSheet(), std::optional(ActiveSheet::fcpLocked));
    QCOMPARE(h.analyses->load(), 0);

    editor.release();
    vm->recheckLockOnActivation();
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QVERIFY(!vm->isFCPLocked());                            // answered `unlocked`
    vm->handleFCPLockedResponse(FCPLockedResponse::cancel); // too late: nothing waits
    QCOMPARE(vm->appState(), AppState::ready);
}

void LockAndDeletionTest::recheckReanalysesALibraryAnalysedWhileOpen()
{
    Harness h;
    const fs::path film = h.library("Film");
    EditorHold editor(film);
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::fcpLocked));
    vm->handleFCPLockedResponse(FCPLockedResponse::analyzeAnyway);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QVERIFY(vm->isFCPLocked());
    vm->applyPreset(model::EditingPreset::done);
    const auto doneSelection = vm->selectedFolders();

    vm->recheckLockOnActivation(); // still open
    settle();
    QCOMPARE(h.analyses->load(), 1);
    QVERIFY(vm->isFCPLocked());

    editor.release();
    std::vector<AppState> states;
    connect(vm.get(), &MainViewModel::appStateChanged, vm.get(),
            [&] { states.push_back(vm->appState()); });
    vm->recheckLockOnActivation();
    QVERIFY(waitUntil([&] { return states.size() == 2; }));
    const std::vector<AppState> expected{AppState::analyzing, AppState::ready};
    QVERIFY(states == expected);
    QCOMPARE(h.analyses->load(), 2);
    QVERIFY(!vm->isFCPLocked());
    QVERIFY(vm->selectedPreset() == model::EditingPreset::done); // the current preset applied again
    QCOMPARE(vm->selectedFolders(), doneSelection);
    QVERIFY(!vm->activeSheet());
}

void LockAndDeletionTest::resetClearsEverything()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, film));
    vm->applyPreset(model::EditingPreset::done);
    vm->presentDeleteWarning();
    QCOMPARE(vm->activeSheet(), std::optional(ActiveSheet::warning));
    vm->reset();
    QVERIFY(!vm->bundleInfo() && !vm->errorMessage() && !vm->activeSheet() &&
            !vm->analysisStatus());
    QCOMPARE(vm->appState(), AppState::idle);
    QVERIFY(vm->selectedFolders().empty());
    QVERIFY(vm->selectedPreset() == model::EditingPreset::inProgress);
    QCOMPARE(vm->freedSpace(), 0);
    QVERIFY(vm->deletionErrors().isEmpty());
    QCOMPARE(vm->lockFileDescriptor(), -1);
    QVERIFY(!vm->lockedBundleURL());
    vm->applyPreset(model::EditingPreset::done); // no library: nothing at all
    QVERIFY(vm->selectedPreset() == model::EditingPreset::inProgress);
}

void LockAndDeletionTest::deletionWithNothingSelectedChangesNothing()
{
    Harness h;
    tools::LibraryBuilder builder(h.dir / "Film.fcpbundle");
    builder.event("Event A", {"Analysis Files"}, 4096); // the in-progress preset selects none of it
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, builder.path()));
    QVERIFY(vm->selectedFolders().empty());
    vm->presentDeleteWarning();
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    vm->startDeletion();
    QVERIFY(!vm->activeSheet());
    settle();
    QCOMPARE(states.count(), 0);
    QVERIFY(fs::exists(builder.path() / "Event A" / "Analysis Files"));
    QVERIFY(!fs::exists(builder.path() / ".lock-dir"));
}

void LockAndDeletionTest::deletionRefusedWhenTheEditorOpenedTheLibrary()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, film));
    EditorHold editor(film); // opened in the editor after the analysis
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    vm->startDeletion();
    QVERIFY(waitUntil([&] { return vm->errorMessage().has_value(); }));
    QCOMPARE(*vm->errorMessage(),
             QString::fromUtf8(
                 "Impossible de supprimer : « Film » est maintenant ouverte dans Final Cut Pro."));
    QCOMPARE(vm->appState(), AppState::ready);
    QCOMPARE(states.count(), 0);
    QVERIFY(fs::exists(film / "Event A" / "Render Files"));
    QVERIFY(!fs::exists(film / ".lock-dir")); // nothing written
    QVERIFY(!vm->lockedBundleURL());
}

void LockAndDeletionTest::deletionRefusedWhenTheLockFileIsNotARegularFile()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, film));
    fs::remove(film / ".lock");
    QCOMPARE(::mkfifo((film / ".lock").c_str(), 0644), 0); // planted after the analysis
    vm->startDeletion();
    QVERIFY(waitUntil([&] { return vm->errorMessage().has_value(); }));
    QCOMPARE(*vm->errorMessage(),
             QString::fromUtf8("Impossible de supprimer : le fichier de verrou « .lock » de "
                               "« Film » n'est pas un fichier ordinaire. Rien n'a été supprimé."));
    QCOMPARE(vm->appState(), AppState::ready);
    QVERIFY(fs::exists(film / "Event A" / "Render Files"));
    QVERIFY(!fs::exists(film / ".lock-dir"));
    QVERIFY(!vm->lockedBundleURL());
}

void LockAndDeletionTest::deletionThatPartlyFails()
{
    Harness h;
    tools::LibraryBuilder builder(h.dir / "Film.fcpbundle");
    builder.event("Event A", {"Render Files"}, 4096).event("Event B", {"Render Files"}, 8192);
    builder.file("flexo.apple.com/thumbs.bin", 1000);
    tools::writeFile(builder.path() / "__Sync__", "");
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, builder.path()));
    QCOMPARE(vm->selectedFolders().size(), std::size_t(3));
    std::int64_t expectedFreed = 0;
    for (const model::FoundFolder& folder : vm->bundleInfo()->foundFolders) {
        if (folder.parentName != "Event B") {
            expectedFreed += folder.size;
        }
    }
    QVERIFY(expectedFreed > 0);
    fs::remove_all(builder.path() / "Event B" / "Render Files"); // gone since the analysis

    vm->startDeletion();
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::done; }));
    QCOMPARE(vm->freedSpace(), expectedFreed);
    QCOMPARE(vm->deletionErrors().size(), 1);
    QCOMPARE(vm->deletionErrors().front().name, QStringLiteral("Render Files (Event B)"));
    QVERIFY(!vm->deletionErrors().front().error.isEmpty());
    QVERIFY(!fs::exists(builder.path() / "Event A" / "Render Files"));
    QVERIFY(!fs::exists(builder.path() / "flexo.apple.com"));
    // The lock is given back, files in their released form.
    QCOMPARE(vm->lockFileDescriptor(), -1);
    QVERIFY(!vm->lockedBundleURL());
    QVERIFY(fs::exists(builder.path() / "__Sync__"));
    QVERIFY(!fs::exists(builder.path() / ".lock-dir" / "Vellico 1"));
    const auto record = formats::readPropertyListDictionary(builder.path() / ".lock-info");
    QVERIFY(record);
    QVERIFY(!record->find("FFFileLockActiveSecondaryLockName"));
    QVERIFY(record->dataFor("FFFileLockIdentifier") &&
            *record->dataFor("FFFileLockIdentifier") == std::vector<std::uint8_t>(16, 0));
    QVERIFY(vm->bundleInfo()); // results only: the library stays as analysed
}

void LockAndDeletionTest::newDropClearsTheLastDeletionResults()
{
    Harness h;
    tools::LibraryBuilder builder(h.dir / "Film.fcpbundle");
    builder.event("Event A", {"Render Files"}, 4096).event("Event B", {"Render Files"}, 4096);
    auto vm = h.makeViewModel();
    QVERIFY(analyse(*vm, builder.path()));
    fs::remove_all(builder.path() / "Event B" / "Render Files");
    QStringList progress; // what a progress bar would have shown
    QObject::connect(vm.get(), &MainViewModel::deletionProgressChanged, vm.get(), [&] {
        progress << QStringLiteral("%1/%2")
                        .arg(vm->deletionFoldersDone())
                        .arg(vm->deletionFoldersTotal());
    });
    vm->startDeletion();
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::done; }));
    QVERIFY(vm->freedSpace() > 0 && !vm->deletionErrors().isEmpty());
    // Every folder counts, the failed one too; the count is cleared at the end.
    QCOMPARE(progress, (QStringList{"0/2", "1/2", "2/2", "0/0"}));
    vm->handleDrop(urlOf(h.library("Autre")));
    QCOMPARE(vm->freedSpace(), 0);
    QVERIFY(vm->deletionErrors().isEmpty());
    QCOMPARE(vm->appState(), AppState::idle);
}

void LockAndDeletionTest::runningDeletionRefusesDropResetAndSecondRun()
{
    Harness h;
    const fs::path film = h.library("Film");
    test::GatedRemovals calls;
    auto services = h.services();
    services.systemCalls = &calls;
    MainViewModel vm(services);
    QVERIFY(analyse(vm, film));
    vm.startDeletion();
    vm.startDeletion(); // a double click on "Supprimer": one run only
    QVERIFY(waitUntil([&] { return vm.appState() == AppState::deleting; }));
    QVERIFY(waitUntil([&] { return calls.entered.try_acquire(); }));
    QVERIFY(vm.lockedBundleURL() && *vm.lockedBundleURL() == film);
    QVERIFY(fs::exists(film / ".lock-dir" / "Vellico 1"));

    // Libraries opened meanwhile wait: the latest one opens once it is over.
    const fs::path latest = h.library("Encore");
    vm.handleDrop(urlOf(h.library("Autre")));
    vm.handleDrop(urlOf(latest));
    vm.reset();
    QCOMPARE(vm.appState(), AppState::deleting);
    QVERIFY(vm.lockedBundleURL()); // still held while folders are removed
    QVERIFY(vm.bundleInfo() && vm.bundleInfo()->url == film);
    QCOMPARE(vm.deferredDrop(), std::optional(urlOf(latest)));
    bool doneSeen = false;
    QObject::connect(&vm, &MainViewModel::appStateChanged, &vm,
                     [&] { doneSeen = doneSeen || vm.appState() == AppState::done; });

    calls.gate.release();
    QVERIFY(waitUntil([&] { return vm.appState() == AppState::ready; }));
    QVERIFY(doneSeen);
    QVERIFY(vm.bundleInfo() && vm.bundleInfo()->url == latest);
    QVERIFY(!vm.deferredDrop());
    QVERIFY(!vm.lockedBundleURL());
    QVERIFY(!fs::exists(film / ".lock-dir" / "Vellico 1"));
}

// Quitting during a deletion (a signal, the window closed): the files in hand
// are finished, nothing more is removed, and the lock is given back.
void LockAndDeletionTest::stopDuringADeletionRemovesNothingMoreAndGivesTheLockBack()
{
    Harness h;
    tools::LibraryBuilder builder(h.dir / "Film.fcpbundle");
    for (const char* event : {"Event A", "Event B", "Event C", "Event D"}) {
        builder.event(event, {"Render Files"}, 4096);
    }
    test::GatedRemovals calls;
    auto services = h.services();
    services.systemCalls = &calls;
    MainViewModel vm(services);
    QVERIFY(analyse(vm, builder.path()));
    const std::int64_t selected = vm.selectedSize();
    vm.startDeletion();
    QVERIFY(waitUntil([&] { return calls.entered.try_acquire(); }));
    vm.stopDeletion();
    calls.gate.release();
    QVERIFY(waitUntil([&] { return vm.appState() == AppState::done; }));

    // Every folder needs an unlink, and the first one held the run: none
    // was removed whole.
    QVERIFY(selected > 0);
    QCOMPARE(vm.freedSpace(), 0);
    int left = 0;
    for (const char* event : {"Event A", "Event B", "Event C", "Event D"}) {
        left += fs::exists(builder.path() / event / "Render Files") ? 1 : 0;
    }
    QCOMPARE(left, 4);
    QVERIFY(!vm.lockedBundleURL());
    QCOMPARE(vm.lockFileDescriptor(), -1);
    QVERIFY(fs::exists(builder.path() / "__Sync__"));
    QVERIFY(!fs::exists(builder.path() / ".lock-dir" / "Vellico 1"));
}

// The library-open sheet names the machine and the application that hold
// the library, as the lock record says; nothing when it says nothing.
void LockAndDeletionTest::openLibrarySheetNamesTheHolderFromTheLockRecord()
{
    Harness h;
    const fs::path film = h.library("Film");
    EditorHold editor(film);
    const auto record = [&](formats::PlistValue::Dict entries) {
        tools::writePropertyList(film / ".lock-info", formats::PlistValue(std::move(entries)),
                                 tools::PlistFormat::xml);
    };
    record({{"hostname", formats::PlistValue("studio-mac.local")},
            {"user", formats::PlistValue("ana")}});
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::fcpLocked));
    QCOMPARE(vm->fcpLockedSheetHost(), QStringLiteral("studio-mac.local"));
    QCOMPARE(vm->fcpLockedSheetApplication(), QString());
    QVERIFY(!vm->canShowFinalCutPro()); // the editor does not run here

    record({{"hostname", formats::PlistValue("atelier")},
            {"FFFileLockActiveSecondaryLockName", formats::PlistValue("Vellico 2")}});
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::fcpLocked));
    QCOMPARE(vm->fcpLockedSheetHost(), QStringLiteral("atelier"));
    QCOMPARE(vm->fcpLockedSheetApplication(), QStringLiteral("Vellico"));

    tools::writeFile(film / ".lock-info", "not a property list");
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::fcpLocked));
    QCOMPARE(vm->fcpLockedSheetHost(), QString());
}

QTEST_GUILESS_MAIN(LockAndDeletionTest)
#include "lock_and_deletion_test.moc"
