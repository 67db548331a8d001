// The intake pipeline, step by step: every row of the sheet-answer table,
// the sheet sequence for one library, a second drop while each kind of sheet
// waits, a double answer, and the exact messages.

#include "formats/bookmark_writer.hpp"
#include "sample_library.hpp"
#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QSignalSpy>
#include <QTest>

using namespace vellico;
using namespace vellico::test;
using viewmodel::AliasResponse;
using viewmodel::BackupResponse;
using viewmodel::FCPLockedResponse;

namespace {

// Bookmark data whose stored path is `target`: it resolves when the path
// exists on this machine, and only reports the stored path otherwise.
std::vector<std::uint8_t> bookmarkTo(const fs::path& target)
{
    formats::BookmarkTarget shape;
    for (const auto& part : target.relative_path()) {
        shape.pathComponents.push_back(part.string());
    }
    return formats::makeBookmarkData(shape);
}

// A backup bundle of `original`, named like the editor names them.
fs::path writeBackup(const fs::path& folder, const std::optional<fs::path>& original)
{
    tools::LibraryBuilder backup(folder / "20240315_1042_GMT+1.fcpbundle");
    formats::PlistValue::Dict record;
    if (original) {
        record.emplace_back("originalURL", formats::PlistValue(tools::fileURL(*original)));
    }
    tools::writePropertyList(backup.path() / "__BackupInfo.plist", formats::PlistValue(record),
                             tools::PlistFormat::xml);
    return backup.path();
}

// Settings naming an external cache "Film.fcpcache" inside `location`.
void expectCacheIn(const fs::path& library, const fs::path& location)
{
    const auto bookmark = bookmarkTo(location);
    tools::writePropertyList(
        library / "Settings.plist",
        formats::PlistValue(formats::PlistValue::Dict{
            {"cacheFolderName", formats::PlistValue("Film.fcpcache")},
            {"cacheLocation", formats::PlistValue(formats::PlistValue::Data(bookmark))}}),
        tools::PlistFormat::xml);
}

QString fr(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

class IntakePipelineTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(viewmodel::texts::installTranslations(*QCoreApplication::instance()));
    }

    void plainLibraryGoesStraightToReady();
    void answerTable();
    void sheetSequenceForOneLibrary();
    void secondDropWhileEachSheetWaits();
    void doubleAnswerResumesOnce();
    void messagesInsertTheRightName_data();
    void messagesInsertTheRightName();
    void lockedLibraryStopsBeforeCloudAndBackupChecks();
    void backupBookmarkWithoutLibraryFallsBackToOriginalURL();
    void cacheFolderNameWithoutLocationAsksNothing();
    void unresolvedCacheBookmarkShowsStoredPath();
    void cacheInfoSheetAppearsWithReady();
    void windowWaitGivesUpAfterTwentySleeps();
    void cancelPendingContinuationsWithNothingPending();
    void missingCachePathBelongsToItsOwnLibrary();
};

void IntakePipelineTest::plainLibraryGoesStraightToReady()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto vm = h.makeViewModel();
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    QSignalSpy sheets(vm.get(), &MainViewModel::activeSheetChanged);
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QCOMPARE(sheets.count(), 0);
    QCOMPARE(states.count(), 2); // analyzing, ready
    QCOMPARE(vm->bundleInfo()->url, film);
    QCOMPARE(vm->bundleInfo()->name, std::string("Film"));
    QVERIFY(vm->selectedPreset() == model::EditingPreset::inProgress);
    // The preset chose the render files and the data folder, not the analysis files.
    QCOMPARE(vm->selectedFolders().size(), std::size_t(2));
    QVERIFY(vm->selectedFolders().count(film / "Event A" / "Render Files") == 1);
    QVERIFY(!vm->errorMessage());
}

// One row per answer of the table: what is on disk, which sheet comes, what
// is answered, and whether the run analyses or stops (and what it reveals).
void IntakePipelineTest::answerTable()
{
    enum class Setup { backup, missingCache, openInEditor, alias, cloudNotLocal, cloudLocal };
    struct Row {
        const char* name;
        Setup setup;
        ActiveSheet sheet;
        std::function<void(MainViewModel&)> answer;
        bool analyses;
        bool fcpLocked;
        std::optional<std::string> revealed; // name of the revealed item
    };
    const std::vector<Row> rows{
        {"backup analyzeOriginal",
         Setup::backup,
         ActiveSheet::backup,
         [](auto& vm) { vm.handleBackupResponse(BackupResponse::analyzeOriginal); },
         true,
         false,
         {}},
        {"backup showInFinder", Setup::backup, ActiveSheet::backup,
         [](auto& vm) { vm.handleBackupResponse(BackupResponse::showInFinder); }, false, false,
         "Film.fcpbundle"},
        {"backup cancel",
         Setup::backup,
         ActiveSheet::backup,
         [](auto& vm) { vm.handleBackupResponse(BackupResponse::cancel); },
         false,
         false,
         {}},
        {"missingCache true",
         Setup::missingCache,
         ActiveSheet::missingCache,
         [](auto& vm) { vm.handleMissingCacheResponse(true); },
         true,
         false,
         {}},
        {"missingCache false",
         Setup::missingCache,
         ActiveSheet::missingCache,
         [](auto& vm) { vm.handleMissingCacheResponse(false); },
         false,
         false,
         {}},
        {"fcpLocked analyzeAnyway",
         Setup::openInEditor,
         ActiveSheet::fcpLocked,
         [](auto& vm) { vm.handleFCPLockedResponse(FCPLockedResponse::analyzeAnyway); },
         true,
         true,
         {}},
        {"fcpLocked unlocked",
         Setup::openInEditor,
         ActiveSheet::fcpLocked,
         [](auto& vm) { vm.handleFCPLockedResponse(FCPLockedResponse::unlocked); },
         true,
         false,
         {}},
        {"fcpLocked cancel",
         Setup::openInEditor,
         ActiveSheet::fcpLocked,
         [](auto& vm) { vm.handleFCPLockedResponse(FCPLockedResponse::cancel); },
         false,
         false,
         {}},
        {"fcpLocked showFCP",
         Setup::openInEditor,
         ActiveSheet::fcpLocked,
         [](auto& vm) { vm.handleFCPLockedResponse(FCPLockedResponse::showFCP); },
         false,
         false,
         {}},
        {"alias analyze",
         Setup::alias,
         ActiveSheet::alias,
         [](auto& vm) { vm.handleAliasResponse(AliasResponse::analyze); },
         true,
         false,
         {}},
        {"alias showInFinder", Setup::alias, ActiveSheet::alias,
         [](auto& vm) { vm.handleAliasResponse(AliasResponse::showInFinder); }, false, false,
         "Film.fcpbundle"},
        {"alias cancel",
         Setup::alias,
         ActiveSheet::alias,
         [](auto& vm) { vm.handleAliasResponse(AliasResponse::cancel); },
         false,
         false,
         {}},
        {"iCloud not local true",
         Setup::cloudNotLocal,
         ActiveSheet::iCloud,
         [](auto& vm) { vm.handleICloudResponse(true); },
         true,
         false,
         {}},
        {"iCloud not local false",
         Setup::cloudNotLocal,
         ActiveSheet::iCloud,
         [](auto& vm) { vm.handleICloudResponse(false); },
         false,
         false,
         {}},
        {"iCloud local true",
         Setup::cloudLocal,
         ActiveSheet::iCloud,
         [](auto& vm) { vm.handleICloudResponse(true); },
         true,
         false,
         {}},
        {"iCloud local false",
         Setup::cloudLocal,
         ActiveSheet::iCloud,
         [](auto& vm) { vm.handleICloudResponse(false); },
         false,
         false,
         {}},
    };

    for (const Row& row : rows) {
        Harness h;
        const fs::path film = h.library("Film");
        fs::path dropped = film;
        std::optional<EditorHold> editor;
        switch (row.setup) {
        case Setup::backup:
            dropped = writeBackup(h.dir / "Backups", film);
            break;
        case Setup::missingCache:
            fs::create_directories(h.dir / "CacheDisk");
            expectCacheIn(film, h.dir / "CacheDisk");
            break;
        case Setup::openInEditor:
            editor.emplace(film);
            break;
        case Setup::alias:
            dropped = h.dir / "Film alias";
            fs::create_symlink(film, dropped);
            break;
        case Setup::cloudNotLocal:
            h.cloud->setItem(film, {.isCurrent = false, .pollsUntilCurrent = 1});
            break;
        case Setup::cloudLocal:
            h.cloud->setItem(film, {.isCurrent = true});
            break;
        }
        auto vm = h.makeViewModel();
        QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
        QVERIFY2(dropAndWaitForSheet(*vm, dropped, row.sheet), row.name);
        row.answer(*vm);
        QVERIFY2(!vm->activeSheet(), row.name);
        if (row.analyses) {
            QVERIFY2(waitUntil([&] { return vm->appState() == AppState::ready; }), row.name);
            QCOMPARE(vm->bundleInfo()->url, film); // a backup is analysed as its original
            QCOMPARE(vm->isFCPLocked(), row.fcpLocked);
            QCOMPARE(vm->bundleInfo()->isFromAlias, row.setup == Setup::alias);
        } else {
            QVERIFY2(waitUntil([&] { return stopped.count() == 1; }), row.name);
            QCOMPARE(vm->appState(), AppState::idle);
            QVERIFY2(!vm->bundleInfo() && !vm->errorMessage(), row.name);
            QCOMPARE(h.analyses->load(), 0);
        }
        if (row.revealed) {
            QCOMPARE(h.workspace->revealed().size(), std::size_t(1));
            QCOMPARE(h.workspace->revealed().front(), film);
        } else {
            QVERIFY2(h.workspace->revealed().empty(), row.name);
        }
    }
}

void IntakePipelineTest::sheetSequenceForOneLibrary()
{
    // Dropped through an alias, a backup of a library whose cache is missing,
    // that the editor has open, and that is in the cloud drive (local).
    Harness h;
    const fs::path film = h.library("Film");
    expectCacheIn(film, h.dir / "Gone");
    EditorHold editor(film);
    const fs::path backup = writeBackup(h.dir / "Backups", film);
    const fs::path alias = h.dir / "Ma sauvegarde.fcpbundle";
    fs::create_symlink(backup, alias);
    h.cloud->setItem(backup, {.isCurrent = true});

    auto vm = h.makeViewModel();
    std::vector<ActiveSheet> seen;
    connect(vm.get(), &MainViewModel::activeSheetChanged, vm.get(), [&] {
        if (vm->activeSheet()) {
            seen.push_back(*vm->activeSheet());
        }
    });
    QVERIFY(dropAndWaitForSheet(*vm, alias, ActiveSheet::backup));
    QCOMPARE(vm->backupSheetData()->backupName, fr("20240315_1042_GMT+1"));
    QCOMPARE(vm->backupSheetData()->originalURL, film);
    vm->handleBackupResponse(BackupResponse::analyzeOriginal);

    QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::missingCache; }));
    QCOMPARE(vm->missingCachePath(),
             QString::fromStdString((h.dir / "Gone" / "Film.fcpcache").string()));
    vm->handleMissingCacheResponse(true);

    QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::fcpLocked; }));
    QCOMPARE(vm->fcpLockedSheetLibName(),
             fr("20240315_1042_GMT+1")); // the display name stays the backup's
    QCOMPARE(*vm->pendingLockCheckURL(), film);
    vm->handleFCPLockedResponse(FCPLockedResponse::analyzeAnyway);

    QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::alias; }));
    QCOMPARE(vm->aliasSheetData()->aliasName, fr("Ma sauvegarde"));
    QCOMPARE(vm->aliasSheetData()->originalURL, film);
    vm->handleAliasResponse(AliasResponse::analyze);

    QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::iCloud; }));
    QCOMPARE(vm->iCloudSheetLibName(), fr("20240315_1042_GMT+1"));
    QVERIFY(vm->iCloudSheetIsDownloaded());
    vm->handleICloudResponse(true);

    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    const std::vector<ActiveSheet> expected{ActiveSheet::backup, ActiveSheet::missingCache,
                                            ActiveSheet::fcpLocked, ActiveSheet::alias,
                                            ActiveSheet::iCloud};
    QVERIFY(seen == expected);
    QVERIFY(vm->isFCPLocked());
    QVERIFY(vm->bundleInfo()->isFromAlias);
    QCOMPARE(vm->bundleInfo()->url, film);
}

void IntakePipelineTest::secondDropWhileEachSheetWaits()
{
    enum class Setup { backup, missingCache, openInEditor, alias, cloudNotLocal, cloudLocal };
    const std::vector<std::pair<Setup, ActiveSheet>> cases{
        {Setup::backup, ActiveSheet::backup},
        {Setup::missingCache, ActiveSheet::missingCache},
        {Setup::openInEditor, ActiveSheet::fcpLocked},
        {Setup::alias, ActiveSheet::alias},
        {Setup::cloudNotLocal, ActiveSheet::iCloud},
        {Setup::cloudLocal, ActiveSheet::iCloud},
    };
    for (const auto& [setup, sheet] : cases) {
        Harness h;
        const fs::path first = h.library("Premier");
        const fs::path second = h.library("Second");
        fs::path dropped = first;
        std::optional<EditorHold> editor;
        switch (setup) {
        case Setup::backup:
            dropped = writeBackup(h.dir / "Backups", first);
            break;
        case Setup::missingCache:
            expectCacheIn(first, h.dir / "Gone");
            break;
        case Setup::openInEditor:
            editor.emplace(first);
            break;
        case Setup::alias:
            dropped = h.dir / "Premier alias";
            fs::create_symlink(first, dropped);
            break;
        case Setup::cloudNotLocal:
            h.cloud->setItem(first, {.isCurrent = false, .pollsUntilCurrent = 1});
            break;
        case Setup::cloudLocal:
            h.cloud->setItem(first, {.isCurrent = true});
            break;
        }
        auto vm = h.makeViewModel();
        QSignalSpy panels(vm.get(), &MainViewModel::closePanelsRequested);
        QVERIFY(dropAndWaitForSheet(*vm, dropped, sheet));
        QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
        vm->handleDrop(urlOf(second));
        QVERIFY(!vm->activeSheet()); // the first sheet closed at once
        QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
        QCOMPARE(vm->bundleInfo()->url, second);
        QCOMPARE(h.analyses->load(), 1); // the first library was never analysed
        QCOMPARE(stopped.count(), 0);    // the first run ended without a word
        QVERIFY(h.workspace->revealed().empty());
        QCOMPARE(h.cloud->downloadsStarted(), 0);
        QVERIFY(!vm->isFCPLocked() && !vm->errorMessage() && !vm->activeSheet());
        QCOMPARE(panels.count(), 2);
    }
}

void IntakePipelineTest::doubleAnswerResumesOnce()
{
    Harness h;
    const fs::path film = h.library("Film");
    expectCacheIn(film, h.dir / "Gone");
    const fs::path backup = writeBackup(h.dir / "Backups", film);
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, backup, ActiveSheet::backup));
    vm->handleBackupResponse(BackupResponse::analyzeOriginal);
    // The next sheet may come up at once (the worker can finish before the
    // answer returns), so the second answer is given once it is up.
    QVERIFY(waitUntil([&] { return vm->activeSheet() == ActiveSheet::missingCache; }));
    // A late answer for the backup sheet only closes whatever sheet is up;
    // the missing-cache question stays pending and can still be answered.
    vm->handleBackupResponse(BackupResponse::showInFinder);
    QVERIFY(!vm->activeSheet());
    QVERIFY(h.workspace->revealed().empty());
    vm->handleMissingCacheResponse(true);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QCOMPARE(h.analyses->load(), 1);
    vm->handleMissingCacheResponse(false); // nothing waits any more
    QCOMPARE(vm->appState(), AppState::ready);
}

void IntakePipelineTest::messagesInsertTheRightName_data()
{
    QTest::addColumn<QString>("case_");
    QTest::addColumn<QString>("expected");
    QTest::newRow("not a bundle: full name")
        << "photo" << fr("« photo.jpg » n'est pas une bibliothèque Final Cut Pro valide.");
    QTest::newRow("library files missing: display name")
        << "empty" << fr("« Vide » n'est pas une bibliothèque Final Cut Pro valide.");
    QTest::newRow("locked: display name")
        << "locked"
        << fr("« Film » est verrouillée (attribut immuable). Déverrouillez-la avant de continuer, "
              "par exemple avec chattr -i.");
    QTest::newRow("backup record unreadable")
        << "badBackup"
        << fr("« 20240315_1042_GMT+1 » est une sauvegarde, mais la bibliothèque originale est "
              "introuvable.");
    QTest::newRow("alias target gone: alias name without extension")
        << "deadAlias"
        << fr("Impossible de retrouver la bibliothèque vers laquelle pointe l’alias « Mon alias ». "
              "Elle a peut-être "
              "été déplacée, renommée, ou se trouve sur un disque qui n’est pas branché.");
    QTest::newRow("upper-case extension passes") << "upper" << QString();
}

void IntakePipelineTest::messagesInsertTheRightName()
{
    QFETCH(QString, case_);
    QFETCH(QString, expected);
    Harness h;
    fs::path dropped;
    if (case_ == "photo") {
        dropped = h.dir / "photo.jpg";
        tools::writeFile(dropped, "jpeg");
    } else if (case_ == "empty") {
        dropped = h.dir / "Vide.fcpbundle";
        tools::writeFile(dropped / "Settings.plist", "");
    } else if (case_ == "locked") {
        dropped = h.library("Film");
        h.itemFlags->lock(dropped);
    } else if (case_ == "badBackup") {
        dropped = writeBackup(h.dir / "Backups", std::nullopt);
        tools::writeFile(dropped / "__BackupInfo.plist", "ceci n'est pas une liste de propriétés");
    } else if (case_ == "deadAlias") {
        dropped = h.dir / "Mon alias.fcpbundle";
        fs::create_symlink(h.dir / "Disparue.fcpbundle", dropped);
    } else if (case_ == "upper") {
        tools::LibraryBuilder builder(h.dir / "Film.FCPBUNDLE");
        dropped = builder.path();
    }
    auto vm = h.makeViewModel();
    QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
    vm->handleDrop(urlOf(dropped));
    if (expected.isEmpty()) {
        QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
        QVERIFY(!vm->errorMessage());
        return;
    }
    QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
    QVERIFY(vm->errorMessage());
    QCOMPARE(*vm->errorMessage(), expected);
    QCOMPARE(vm->appState(), AppState::idle);
    QVERIFY(!vm->activeSheet());
    QCOMPARE(h.analyses->load(), 0);
}

void IntakePipelineTest::lockedLibraryStopsBeforeCloudAndBackupChecks()
{
    Harness h;
    const fs::path film = h.library("Film");
    h.itemFlags->lock(film);
    h.cloud->setItem(film, {.isCurrent = false});
    auto vm = h.makeViewModel();
    QSignalSpy stopped(vm.get(), &MainViewModel::intakeStopped);
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return stopped.count() == 1; }));
    QCOMPARE(h.cloud->stateReads(), 0);
    QVERIFY(!vm->activeSheet());
}

void IntakePipelineTest::backupBookmarkWithoutLibraryFallsBackToOriginalURL()
{
    Harness h;
    const fs::path film = h.library("Film");
    const fs::path notALibrary = h.dir / "Ailleurs";
    fs::create_directories(notALibrary);
    const fs::path backup = writeBackup(h.dir / "Backups", film);
    tools::writePropertyList(backup / "__BackupInfo.plist",
                             formats::PlistValue(formats::PlistValue::Dict{
                                 {"originalBookmark", formats::PlistValue(formats::PlistValue::Data(
                                                          bookmarkTo(notALibrary)))},
                                 {"originalURL", formats::PlistValue(tools::fileURL(film))}}),
                             tools::PlistFormat::binary);
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, backup, ActiveSheet::backup));
    QCOMPARE(vm->backupSheetData()->originalURL, film);
}

void IntakePipelineTest::cacheFolderNameWithoutLocationAsksNothing()
{
    Harness h;
    const fs::path film = h.library("Film");
    tools::writePropertyList(film / "Settings.plist",
                             formats::PlistValue(formats::PlistValue::Dict{
                                 {"cacheFolderName", formats::PlistValue("Film.fcpcache")}}),
                             tools::PlistFormat::xml);
    auto vm = h.makeViewModel();
    QSignalSpy sheets(vm.get(), &MainViewModel::activeSheetChanged);
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QCOMPARE(sheets.count(), 0);
}

void IntakePipelineTest::unresolvedCacheBookmarkShowsStoredPath()
{
    // A cache on a Mac volume that is not mounted here: the stored path is
    // shown with the cache's name.
    Harness h;
    const fs::path film = h.library("Film");
    expectCacheIn(film, "/Volumes/Archive/Caches");
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, film, ActiveSheet::missingCache));
    QCOMPARE(vm->missingCachePath(), fr("/Volumes/Archive/Caches/Film.fcpcache"));
    vm->handleMissingCacheResponse(false);
    QVERIFY(waitUntil([&] { return !vm->activeSheet(); }));
    QCOMPARE(h.analyses->load(), 0);
}

void IntakePipelineTest::cacheInfoSheetAppearsWithReady()
{
    Harness h;
    const fs::path film = h.library("Film");
    auto base = h.analyzer;
    h.analyzer = [base, cache = h.dir / "Cache"](platform::UniqueFd fd, const fs::path& bundle,
                                                 bool alias, const analysis::ProgressSink& p,
                                                 const platform::WalkControl& walk) {
        model::BundleInfo info = base(std::move(fd), bundle, alias, p, walk);
        info.cacheURL = cache;
        info.cacheTotalSize = 1234;
        return info;
    };
    auto vm = h.makeViewModel();
    std::optional<std::optional<ActiveSheet>> sheetWhenReady;
    connect(vm.get(), &MainViewModel::appStateChanged, vm.get(), [&] {
        if (vm->appState() == AppState::ready) {
            sheetWhenReady = vm->activeSheet();
        }
    });
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QVERIFY(sheetWhenReady && *sheetWhenReady == ActiveSheet::cacheInfo);
    vm->dismissSheet();
    QVERIFY(!vm->activeSheet());
}

void IntakePipelineTest::windowWaitGivesUpAfterTwentySleeps()
{
    Harness h;
    h.windowVisible = false;
    const fs::path film = h.library("Film");
    auto vm = h.makeViewModel();
    vm->handleDrop(urlOf(film));
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QCOMPARE(h.clock->sleepCount(std::chrono::milliseconds(50)), std::size_t(20));
}

void IntakePipelineTest::cancelPendingContinuationsWithNothingPending()
{
    Harness h;
    auto vm = h.makeViewModel();
    vm->presentDeleteWarning(); // not ready: no sheet
    QVERIFY(!vm->activeSheet());
    QSignalSpy states(vm.get(), &MainViewModel::appStateChanged);
    vm->cancelPendingContinuations();
    QVERIFY(!vm->activeSheet());
    QCOMPARE(states.count(), 0);
}

// The path where library A's cache was expected never shows for library B,
// which has no external cache, nor after "Annuler".
void IntakePipelineTest::missingCachePathBelongsToItsOwnLibrary()
{
    Harness h;
    const fs::path first = h.library("A");
    expectCacheIn(first, h.dir / "Gone");
    const fs::path second = h.library("B");
    auto vm = h.makeViewModel();
    QVERIFY(dropAndWaitForSheet(*vm, first, ActiveSheet::missingCache));
    QVERIFY(!vm->missingCachePath().isEmpty());
    vm->handleMissingCacheResponse(true);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QVERIFY(!vm->missingCachePath().isEmpty()); // A's summary names it

    vm->handleDrop(urlOf(second));
    QVERIFY(vm->missingCachePath().isEmpty());
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    QVERIFY(vm->missingCachePath().isEmpty());

    QVERIFY(dropAndWaitForSheet(*vm, first, ActiveSheet::missingCache));
    vm->handleMissingCacheResponse(true);
    QVERIFY(waitUntil([&] { return vm->appState() == AppState::ready; }));
    vm->reset();
    QVERIFY(vm->missingCachePath().isEmpty());
}

QTEST_GUILESS_MAIN(IntakePipelineTest)
#include "intake_pipeline_test.moc"
