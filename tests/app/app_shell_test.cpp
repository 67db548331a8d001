// The application shell around a real view model (fakes for the platform):
// libraries opened at launch and by a later launch, the main window, the
// menu bar and its links, and the preference reset.
#include "analysis/library_scan.hpp"
#include "analysis/machine_analysis.hpp"
#include "app/app_delegate.hpp"
#include "app/preference_reset.hpp"
#include "support/gated_removals.hpp"
#include "ui/batch_view.hpp"
#include "viewmodel/batch_view_model.hpp"
#include "viewmodel/harness.hpp"
#include "viewmodel/texts.hpp"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <semaphore>

using namespace vellico;
using test::Harness;

namespace {

// What the injected services saw.
struct Recorder {
    int alerts = 0;
    bool confirm = true;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    QString program;
    QStringList arguments;
    int processes = 0;
    QList<QUrl> openedUrls;
};

// The delegate's clock reads `now`, and its desktop notifications land in
// `notifications` as "title | body".
void withClockAndNotifications(app::AppServices& services,
                               const std::shared_ptr<std::chrono::steady_clock::time_point>& now,
                               QStringList& notifications)
{
    services.now = [now] { return *now; };
    services.notify = [&notifications](const QString& title, const QString& body) {
        notifications << title + " | " + body;
    };
}

app::AppServices servicesFor(Harness& harness, Recorder& recorder)
{
    app::AppServices services;
    services.viewModel = harness.services();
    auto home = harness.dir.path();
    services.batch = [home] {
        auto machine = std::make_shared<const analysis::MachineAnalysis>(home);
        viewmodel::BatchServices batch = viewmodel::machineBatchServices(machine);
        batch.analyze = [](platform::UniqueFd bundle, const std::filesystem::path& url, bool alias,
                           const analysis::ProgressSink& progress,
                           const platform::WalkControl& walk) {
            return analysis::analyzeBundle(std::move(bundle), url, alias, {nullptr, nullptr, walk},
                                           progress);
        };
        return batch;
    };
    services.modifiers = [&recorder] { return recorder.modifiers; };
    services.confirmReset = [&recorder] {
        ++recorder.alerts;
        return recorder.confirm;
    };
    services.startProcess = [&recorder](const QString& program, const QStringList& arguments) {
        ++recorder.processes;
        recorder.program = program;
        recorder.arguments = arguments;
        return true;
    };
    services.openUrl = [&recorder](const QUrl& url) {
        recorder.openedUrls.append(url);
        return true;
    };
    return services;
}

QString fileUrlPath(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

QStringList titles(const QList<QAction*>& actions)
{
    QStringList result;
    for (const QAction* action : actions) {
        result.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    return result;
}

} // namespace

class AppShellTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("VellicoAppTests"));
        QCoreApplication::setApplicationName(QStringLiteral("Vellico"));
        QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
        QVERIFY(viewmodel::texts::installTranslations(*QCoreApplication::instance()));
    }

    void init() { QSettings().clear(); }

    void launchWithTwoLibrariesOpensTheBatch()
    {
        Harness harness;
        Recorder recorder;
        const auto b = harness.library("B");
        const auto a = harness.library("A");
        app::AppDelegate delegate(servicesFor(harness, recorder));
        delegate.applicationWillFinishLaunching();
        delegate.openURLs({test::urlOf(b), test::urlOf(a)});
        // Queued until the window exists.
        QVERIFY(!delegate.mainWindow());
        QCOMPARE(delegate.pendingURLs(), (QList<QUrl>{test::urlOf(a), test::urlOf(b)}));
        QVERIFY(delegate.applicationDidFinishLaunching());
        QVERIFY(delegate.mainWindow() && delegate.mainWindow()->isVisible());
        QVERIFY(delegate.pendingURLs().isEmpty());

        QVERIFY(delegate.isShowingBatch());
        viewmodel::BatchViewModel* batch = delegate.batch();
        QVERIFY(batch);
        QTRY_COMPARE(batch->phase(), viewmodel::BatchViewModel::Phase::ready);
        QCOMPARE(batch->rows().size(), std::size_t(2));
        QCOMPARE(batch->cleanableCount(), 2);
        QVERIFY(batch->totalReclaimable() > 0);
        // Nothing of it in the single window: no analysis, no message.
        auto& vm = delegate.viewModel();
        QCOMPARE(vm.errorMessage(), std::nullopt);
        QCOMPARE(vm.appState(), viewmodel::AppState::idle);
        QCOMPARE(harness.analyses->load(), 0);
    }

    // Libraries opened while the single window deletes wait for its end,
    // then open in the batch.
    void librariesOpenedDuringADeletionOpenWhenItEnds()
    {
        Harness harness;
        Recorder recorder;
        const auto film = harness.library("Film");
        const auto b = harness.library("B");
        const auto a = harness.library("A");
        test::GatedRemovals calls;
        app::AppServices services = servicesFor(harness, recorder);
        services.viewModel.systemCalls = &calls;
        app::AppDelegate delegate(services);
        delegate.applicationWillFinishLaunching();
        QVERIFY(delegate.applicationDidFinishLaunching());
        auto& vm = delegate.viewModel();
        delegate.openURLs({test::urlOf(film)});
        QTRY_VERIFY(vm.appState() == viewmodel::AppState::ready);
        QVERIFY(!delegate.isShowingBatch());
        QVERIFY(!vm.selectedFolders().empty());
        vm.startDeletion();
        QTRY_COMPARE(vm.appState(), viewmodel::AppState::deleting);

        delegate.openURLs({test::urlOf(b), test::urlOf(a)});
        QTest::qWait(100);
        QCOMPARE(vm.appState(), viewmodel::AppState::deleting);
        QVERIFY(!delegate.isShowingBatch());
        QVERIFY(!vm.errorMessage());

        calls.gate.release();
        QTRY_VERIFY(delegate.isShowingBatch());
        QTRY_COMPARE(delegate.batch()->phase(), viewmodel::BatchViewModel::Phase::ready);
        QCOMPARE(delegate.batch()->rows().size(), std::size_t(2));
    }

    void runningInstanceOpensForwardedLibrariesTheSameWay()
    {
        Harness harness;
        Recorder recorder;
        const auto b = harness.library("B");
        const auto a = harness.library("A");
        const auto c = harness.library("C");
        app::AppDelegate delegate(servicesFor(harness, recorder));
        delegate.applicationWillFinishLaunching();
        QVERIFY(delegate.applicationDidFinishLaunching());
        auto& vm = delegate.viewModel();

        delegate.handleForwardedPaths(
            {fileUrlPath(b), QString(), QStringLiteral("relative"), fileUrlPath(a)});
        QTRY_VERIFY(delegate.isShowingBatch());
        QTRY_COMPARE(delegate.batch()->phase(), viewmodel::BatchViewModel::Phase::ready);
        QCOMPARE(delegate.batch()->rows().size(), std::size_t(2));

        // With the batch on screen, one more library joins it.
        delegate.handleForwardedPaths({fileUrlPath(c)});
        QTRY_COMPARE(delegate.batch()->rows().size(), std::size_t(3));

        // "Vider la liste" goes back to the single window, where one library
        // alone opens as always.
        auto* view = delegate.mainWindow()->findChild<ui::BatchView*>();
        QVERIFY(view);
        view->clearButton()->click();
        QVERIFY(!delegate.isShowingBatch());
        delegate.handleForwardedPaths({fileUrlPath(c)});
        QTRY_VERIFY(vm.bundleInfo() && vm.bundleInfo()->url == c &&
                    vm.appState() == viewmodel::AppState::ready);
        QCOMPARE(vm.errorMessage(), std::nullopt);
        QVERIFY(!delegate.isShowingBatch());
        QCOMPARE(harness.analyses->load(), 1);
    }

    void mainWindowIsResizableFromTodaysSize()
    {
        Harness harness;
        Recorder recorder;
        app::AppDelegate delegate(servicesFor(harness, recorder));
        delegate.setupMainWindow();
        QMainWindow* window = delegate.mainWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellico"));
        QCOMPARE(window->centralWidget()->minimumSize(), QSize(500, 590));
        QVERIFY(window->centralWidget()->width() >= 500);
        QVERIFY(window->minimumSize() != window->maximumSize());
        window->resize(window->width() + 200, window->height() + 100);
        QTRY_VERIFY(window->centralWidget()->width() >= 700);
        // A second call keeps the same window.
        delegate.setupMainWindow();
        QCOMPARE(delegate.mainWindow(), window);
    }

    void frameIsSavedOnCloseAndRestoredOnTheNextLaunch()
    {
        Harness harness;
        Recorder recorder;
        QPoint moved;
        QSize grown;
        {
            app::AppDelegate first(servicesFor(harness, recorder));
            first.setupMainWindow();
            QVERIFY(QTest::qWaitForWindowExposed(first.mainWindow()));
            moved = first.mainWindow()->pos() + QPoint(37, 23);
            first.mainWindow()->move(moved);
            QTRY_COMPARE(first.mainWindow()->pos(), moved);
            grown = first.mainWindow()->size() + QSize(40, 0);
            first.mainWindow()->resize(grown);
            QTRY_COMPARE(first.mainWindow()->size(), grown);
            first.mainWindow()->close();
        }
        QVERIFY(QSettings().contains(QStringLiteral("VellicoMainWindow")));
        app::AppDelegate second(servicesFor(harness, recorder));
        second.setupMainWindow();
        QCOMPARE(second.mainWindow()->pos(), moved);
        QCOMPARE(second.mainWindow()->size(), grown);
    }

    void longDeletionEndingBehindOtherWindowsIsNotified_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<bool>("windowActive");
        QTest::addColumn<bool>("notified");
        QTest::newRow("long, elsewhere") << 30 << false << true;
        QTest::newRow("long, at the window") << 30 << true << false;
        QTest::newRow("short, elsewhere") << 1 << false << false;
    }
    void longDeletionEndingBehindOtherWindowsIsNotified()
    {
        QFETCH(int, seconds);
        QFETCH(bool, windowActive);
        QFETCH(bool, notified);
        Harness harness;
        Recorder recorder;
        auto services = servicesFor(harness, recorder);
        auto now = std::make_shared<std::chrono::steady_clock::time_point>();
        QStringList notifications;
        withClockAndNotifications(services, now, notifications);
        app::AppDelegate delegate(services);
        delegate.setupMainWindow();
        QMainWindow* window = delegate.mainWindow();
        QWidget elsewhere;
        if (windowActive) {
            window->activateWindow();
            QTRY_VERIFY(window->isActiveWindow());
        } else {
            elsewhere.show();
            elsewhere.activateWindow();
            QTRY_VERIFY(!window->isActiveWindow());
        }
        auto& vm = delegate.viewModel();
        vm.handleDrop(test::urlOf(harness.library("Film")));
        QTRY_VERIFY(vm.appState() == viewmodel::AppState::ready);
        // The deletion "takes" `seconds` on the injected clock.
        connect(&vm, &viewmodel::MainViewModel::appStateChanged, this, [&] {
            if (vm.appState() == viewmodel::AppState::deleting) {
                *now += std::chrono::seconds(seconds);
            }
        });
        vm.startDeletion();
        QTRY_VERIFY(vm.appState() == viewmodel::AppState::done);
        QVERIFY(vm.freedSpace() > 0);
        if (notified) {
            QCOMPARE(notifications.size(), 1);
            QVERIFY2(notifications.front().startsWith("Terminé ! | ") &&
                         notifications.front().endsWith(" libérés"),
                     qPrintable(notifications.front()));
        } else {
            QCOMPARE(notifications, QStringList());
        }
    }

    // The batch ends like the single window: a long deletion that ends
    // while the window is elsewhere is told by a notification.
    void longBatchDeletionEndingElsewhereIsNotified()
    {
        Harness harness;
        Recorder recorder;
        auto services = servicesFor(harness, recorder);
        auto now = std::make_shared<std::chrono::steady_clock::time_point>();
        QStringList notifications;
        withClockAndNotifications(services, now, notifications);
        app::AppDelegate delegate(services);
        delegate.setupMainWindow();
        delegate.openURLs({test::urlOf(harness.library("A")), test::urlOf(harness.library("B"))});
        viewmodel::BatchViewModel* batch = delegate.batch();
        QVERIFY(batch);
        QTRY_COMPARE(batch->phase(), viewmodel::BatchViewModel::Phase::ready);
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(!delegate.mainWindow()->isActiveWindow());
        connect(batch, &viewmodel::BatchViewModel::phaseChanged, this, [&] {
            if (batch->phase() == viewmodel::BatchViewModel::Phase::deleting) {
                *now += std::chrono::seconds(30);
            }
        });
        batch->startDeletion();
        QTRY_COMPARE(batch->phase(), viewmodel::BatchViewModel::Phase::done);
        QVERIFY(batch->freedSoFar() > 0);
        QCOMPARE(notifications.size(), 1);
        QVERIFY2(notifications.front().startsWith("Terminé ! | "),
                 qPrintable(notifications.front()));
    }

    void menuBarHoldsTheApplicationMenuAndHelpOnly()
    {
        Harness harness;
        Recorder recorder;
        app::AppDelegate delegate(servicesFor(harness, recorder));
        delegate.setupMainWindow();
        const QList<QAction*> menus = delegate.mainWindow()->menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QVERIFY(menus[0]->menu() && menus[1]->menu());
        QCOMPARE(menus[0]->text(), QStringLiteral("Vellico"));
        QCOMPARE(menus[1]->text(), QStringLiteral("Aide"));

        const QList<QAction*> app = menus[0]->menu()->actions();
        QCOMPARE(titles(app),
                 (QStringList{QStringLiteral("À propos de Vellico"), QStringLiteral("---"),
                              QStringLiteral("Rechercher des bibliothèques…"),
                              QStringLiteral("---"), QStringLiteral("Quitter Vellico")}));
        QCOMPARE(app[2]->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
        QCOMPARE(app[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QVERIFY(app[0]->shortcut().isEmpty());

        const QList<QAction*> help = menus[1]->menu()->actions();
        QCOMPARE(titles(help),
                 (QStringList{QStringLiteral("Aide Vellico"), QStringLiteral("Tutoriel vidéo"),
                              QStringLiteral("Vellico Website"),
                              QStringLiteral("Contacter le support"), QStringLiteral("---"),
                              QStringLiteral("Ctrl+Alt au lancement : réinitialise les "
                                             "préférences")}));
        QCOMPARE(help[0]->shortcuts(),
                 (QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Question),
                                      QKeySequence(Qt::Key_F1)}));
        for (int i = 1; i < help.size(); ++i) {
            QVERIFY(help[i]->shortcut().isEmpty());
        }
        for (int i = 0; i < 4; ++i) {
            QVERIFY(help[i]->isEnabled());
        }
        QVERIFY(!help[5]->isEnabled());

        // The links reach the default handler with the build's addresses.
        help[1]->trigger();
        help[2]->trigger();
        help[3]->trigger();
        QCOMPARE(recorder.openedUrls.size(), 3);
        QCOMPARE(recorder.openedUrls[0].host(), QStringLiteral("www.youtube.com"));
        QCOMPARE(recorder.openedUrls[1].scheme(), QStringLiteral("https"));
        QCOMPARE(recorder.openedUrls[2].scheme(), QStringLiteral("mailto"));
        QVERIFY(recorder.openedUrls[2].query().contains(QStringLiteral("subject=")));

        // The documentation comes up, once.
        help[0]->trigger();
        QVERIFY(delegate.docWindow() && delegate.docWindow()->isVisible());
        QWidget* documentation = delegate.docWindow();
        help[0]->trigger();
        QCOMPARE(delegate.docWindow(), documentation);
    }

    void ctrlAltAndConfirmationEraseTheSettingsAndRelaunchTheExactPath()
    {
        Harness harness;
        Recorder recorder;
        recorder.modifiers = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier;
        QSettings().setValue(QStringLiteral("skipDeleteWarning"), true);
        QSettings().setValue(QStringLiteral("lastOpenPanelDirectory"), QStringLiteral("/films"));
        auto services = servicesFor(harness, recorder);
        const QString path = QStringLiteral("/opt/we\"ird $HOME `id` app/vellico");
        services.executablePath = path;
        app::AppDelegate delegate(std::move(services));
        delegate.applicationWillFinishLaunching();
        QVERIFY(QSettings().contains(QStringLiteral("NSQuitAlwaysKeepsWindows")));

        QVERIFY(!delegate.applicationDidFinishLaunching());
        QCOMPARE(recorder.alerts, 1);
        QVERIFY(!delegate.mainWindow());
        QSettings settings;
        settings.sync();
        QCOMPARE(settings.allKeys(), QStringList{});

        QCOMPARE(recorder.processes, 1);
        QCOMPARE(recorder.program, QStringLiteral("/bin/sh"));
        QCOMPARE(recorder.arguments,
                 (QStringList{QStringLiteral("-c"),
                              QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; "
                                             "done; exec \"$2\""),
                              QStringLiteral("sh"),
                              QString::number(QCoreApplication::applicationPid()), path}));
    }

    void resetSwitchOffersTheResetWithoutKeys()
    {
        Harness harness;
        Recorder recorder;
        recorder.confirm = false;
        auto services = servicesFor(harness, recorder);
        services.resetSettingsSwitch = true;
        app::AppDelegate delegate(std::move(services));
        QVERIFY(delegate.applicationDidFinishLaunching());
        QCOMPARE(recorder.alerts, 1);
    }

    void declinedResetKeepsTheSettingsAndOpensTheWindow()
    {
        Harness harness;
        Recorder recorder;
        recorder.modifiers = Qt::ControlModifier | Qt::AltModifier;
        recorder.confirm = false;
        QSettings().setValue(QStringLiteral("skipDeleteWarning"), true);
        app::AppDelegate delegate(servicesFor(harness, recorder));
        QVERIFY(delegate.applicationDidFinishLaunching());
        QCOMPARE(recorder.alerts, 1);
        QCOMPARE(recorder.processes, 0);
        QVERIFY(delegate.mainWindow() && delegate.mainWindow()->isVisible());
        QVERIFY(QSettings().value(QStringLiteral("skipDeleteWarning")).toBool());
    }

    void onlyOneOfCtrlAndAltSkipsTheAlert_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("nothing") << int(Qt::NoModifier);
        QTest::newRow("ctrl") << int(Qt::ControlModifier);
        QTest::newRow("alt") << int(Qt::AltModifier);
        QTest::newRow("ctrl+shift") << int(Qt::ControlModifier | Qt::ShiftModifier);
        QTest::newRow("alt+meta") << int(Qt::AltModifier | Qt::MetaModifier);
    }

    void onlyOneOfCtrlAndAltSkipsTheAlert()
    {
        QFETCH(int, modifiers);
        Harness harness;
        Recorder recorder;
        recorder.modifiers = Qt::KeyboardModifiers(modifiers);
        QSettings().setValue(QStringLiteral("skipDeleteWarning"), true);
        app::AppDelegate delegate(servicesFor(harness, recorder));
        QVERIFY(delegate.applicationDidFinishLaunching());
        QCOMPARE(recorder.alerts, 0);
        QCOMPARE(recorder.processes, 0);
        QVERIFY(delegate.mainWindow() && delegate.mainWindow()->isVisible());
        QVERIFY(QSettings().value(QStringLiteral("skipDeleteWarning")).toBool());
    }
};

QTEST_MAIN(AppShellTest)
#include "app_shell_test.moc"
