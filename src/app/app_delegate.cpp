#include "app/app_delegate.hpp"

#include "analysis/machine_analysis.hpp"
#include "app/launch_options.hpp"
#include "app/preference_reset.hpp"
#include "ui/batch_view.hpp"
#include "ui/content_view.hpp"
#include "ui/documentation_view.hpp"
#include "ui/theme.hpp"
#include "viewmodel/batch_view_model.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/texts.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLayout>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace vellico::app {

namespace {

constexpr const char* searchTitle = QT_TRANSLATE_NOOP("Vellico", "Rechercher des bibliothèques…");

//: Help menu: documentation
constexpr const char* docWindowTitle = QT_TRANSLATE_NOOP("Vellico", "Aide Vellico");

const QString frameKey = QStringLiteral("VellicoMainWindow");
const QString quitKeepsWindowsKey = QStringLiteral("NSQuitAlwaysKeepsWindows");

// A deletion that ran at least this long is announced by a desktop
// notification when the window is not active at its end.
constexpr std::chrono::seconds notifyAfterDeletionOf{4};

constexpr int contentWidth = 500;
constexpr int contentHeight = 590;

} // namespace

AppDelegate::AppDelegate(AppServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    // The intake waits briefly for a visible window before its first sheet.
    if (!m_services.viewModel.isMainWindowVisible) {
        m_services.viewModel.isMainWindowVisible = [this] {
            return m_mainWindow && m_mainWindow->isVisible();
        };
    }
    m_vm = std::make_unique<viewmodel::MainViewModel>(m_services.viewModel);
    if (!m_services.now) {
        m_services.now = [] { return std::chrono::steady_clock::now(); };
    }
    connect(m_vm.get(), &viewmodel::MainViewModel::appStateChanged, this,
            &AppDelegate::followDeletion);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    m_vm->recheckLockOnActivation();
                    if (m_batch) {
                        m_batch->recheckLocks();
                    }
                }
            });
}

AppDelegate::~AppDelegate()
{
    // The windows show the view model: they go first.
    delete m_docWindow;
    delete m_mainWindow;
}

void AppDelegate::applicationWillFinishLaunching()
{
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        ui::applyDarkTheme(*application);
    }
    QSettings().setValue(quitKeepsWindowsKey, false);
    QGuiApplication::setQuitOnLastWindowClosed(true);
}

bool AppDelegate::applicationDidFinishLaunching()
{
    return checkPreferenceReset();
}

bool AppDelegate::checkPreferenceReset()
{
    const bool chordHeld = m_services.modifiers && isResetChord(m_services.modifiers());
    if ((chordHeld || m_services.resetSettingsSwitch) && m_services.confirmReset &&
        m_services.confirmReset()) {
        removeAllSettings();
        m_terminating = true;
        const QString executable = m_services.executablePath.isEmpty()
                                       ? QCoreApplication::applicationFilePath()
                                       : m_services.executablePath;
        // A relaunch that cannot start is not reported: the settings are
        // gone all the same, and the user starts Vellico again by hand.
        if (m_services.startProcess) {
            m_services.startProcess(
                relaunchProgram, relaunchArguments(QCoreApplication::applicationPid(), executable));
        }
        // The event loop has not started yet, so there is nothing to quit:
        // the caller ends the process instead, before any window shows.
        return false;
    }
    setupMainWindow();
    return true;
}

void AppDelegate::openURLs(const QList<QUrl>& urls)
{
    const QList<QUrl> sorted = sortedByLastPathComponent(urls);
    if (sorted.isEmpty()) {
        return;
    }
    if (!m_mainWindow) {
        // The latest request waits for the window.
        m_pendingURLs = sorted;
        return;
    }
    if (sorted.size() > 1 || isShowingBatch()) {
        openInBatch(sorted);
    } else {
        openLibrary(sorted.first());
    }
    bringMainWindowToFront();
}

void AppDelegate::handleForwardedPaths(const QStringList& paths)
{
    const QList<QUrl> urls = fileUrlsFromPaths(paths);
    if (urls.isEmpty()) {
        bringMainWindowToFront();
        return;
    }
    openURLs(urls);
}

void AppDelegate::openLibrary(const QUrl& url)
{
    if (!m_mainWindow) {
        m_pendingURLs = {url};
        return;
    }
    showSingleLibrary();
    QMetaObject::invokeMethod(
        m_vm.get(), [vm = m_vm.get(), url] { vm->handleDrop(url); }, Qt::QueuedConnection);
}

void AppDelegate::processPendingURLs()
{
    const QList<QUrl> pending = std::exchange(m_pendingURLs, {});
    if (!pending.isEmpty()) {
        openURLs(pending);
    }
}

bool AppDelegate::isShowingBatch() const
{
    return m_pages && m_batchView && m_pages->currentWidget() == m_batchView;
}

void AppDelegate::showBatch()
{
    if (!m_batch) {
        viewmodel::BatchServices services;
        if (m_services.batch) {
            services = m_services.batch();
        } else {
            services = viewmodel::machineBatchServices(
                std::make_shared<const analysis::MachineAnalysis>());
        }
        services.systemCalls = m_services.viewModel.systemCalls;
        m_batch = std::make_unique<viewmodel::BatchViewModel>(std::move(services));
        connect(m_batch.get(), &viewmodel::BatchViewModel::phaseChanged, this, [this] {
            if (m_batch->phase() == viewmodel::BatchViewModel::Phase::deleting) {
                m_deletionStarted = m_services.now();
            }
        });
        connect(m_batch.get(), &viewmodel::BatchViewModel::deletionFinished, this,
                &AppDelegate::notifyBatchEnd);
    }
    if (m_pages && !m_batchView) {
        m_batchView = new ui::BatchView(*m_batch, m_pages);
        m_pages->addWidget(m_batchView);
        connect(m_batchView, &ui::BatchView::closed, this, &AppDelegate::showSingleLibrary);
        connect(m_batchView, &ui::BatchView::librariesDropped, this, &AppDelegate::openURLs);
    }
    if (m_pages && m_batchView) {
        // The single window's library is not worked on behind the batch.
        m_vm->reset();
        m_pages->setCurrentWidget(m_batchView);
        m_batchView->list()->setFocus();
    }
}

void AppDelegate::showSingleLibrary()
{
    if (m_pages && m_pages->currentIndex() != 0) {
        if (m_batch) {
            m_batch->clear();
        }
        m_pages->setCurrentIndex(0);
    }
}

void AppDelegate::openInBatch(const QList<QUrl>& urls)
{
    if (m_vm->appState() == viewmodel::AppState::deleting) {
        // The single window's deletion keeps the window until it is over.
        m_batchAfterDeletion.append(urls);
        return;
    }
    showBatch();
    QStringList paths;
    for (const QUrl& url : urls) {
        paths << url.toLocalFile();
    }
    m_batch->addLibraries(paths);
}

void AppDelegate::showSearchPanel()
{
    if (!m_mainWindow || m_vm->appState() == viewmodel::AppState::deleting ||
        (m_batch && m_batch->phase() == viewmodel::BatchViewModel::Phase::deleting)) {
        return;
    }
    auto* panel = new QFileDialog(m_mainWindow, viewmodel::texts::translate(searchTitle));
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFileDialog::fileSelected, this, &AppDelegate::searchFolder);
    panel->open();
}

void AppDelegate::searchFolder(const QString& folder)
{
    if (folder.isEmpty()) {
        return;
    }
    showBatch();
    if (m_batch) {
        m_batch->searchFolder(folder);
    }
}

void AppDelegate::notifyBatchEnd(qint64 freed, int failures)
{
    const auto started = std::exchange(m_deletionStarted, std::nullopt);
    if (!started || !m_services.notify) {
        return;
    }
    const bool windowActive = m_mainWindow && m_mainWindow->isActiveWindow();
    if (windowActive || m_services.now() - *started < notifyAfterDeletionOf) {
        return;
    }
    using viewmodel::texts::translate;
    const QString title = failures > 0
                              ? translate(QT_TRANSLATE_NOOP("Vellico", "Terminé avec des erreurs"))
                              : translate(QT_TRANSLATE_NOOP("Vellico", "Terminé !"));
    m_services.notify(title, viewmodel::texts::fill(QT_TRANSLATE_NOOP("Vellico", "%1 libérés"),
                                                    viewmodel::byteCountFormatter().string(freed)));
}

void AppDelegate::bringMainWindowToFront()
{
    QWidget* window = m_mainWindow;
    if (!window) {
        for (QWidget* candidate : QApplication::topLevelWidgets()) {
            if (candidate->isVisible() && candidate->windowType() == Qt::Window &&
                !qobject_cast<QDialog*>(candidate)) {
                window = candidate;
                break;
            }
        }
    }
    if (!window) {
        return;
    }
    if (window->isMinimized()) {
        window->showNormal();
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void AppDelegate::setupMainWindow()
{
    if (m_mainWindow) {
        return;
    }
    auto* window = new QMainWindow;
    auto* pages = new QStackedWidget(window);
    auto* view = new ui::MainWindowContent(*m_vm, pages);
    pages->addWidget(view);
    // Today's size is the least; the batch's list takes what is added.
    pages->setMinimumSize(contentWidth, contentHeight);
    window->setCentralWidget(pages);
    m_pages = pages;
    connect(view, &ui::MainWindowContent::documentationRequested, this,
            &AppDelegate::openDocumentation);
    connect(view, &ui::MainWindowContent::librariesOpened, this, &AppDelegate::openURLs);
    connect(m_vm.get(), &viewmodel::MainViewModel::appStateChanged, this, [this] {
        if (m_vm->appState() != viewmodel::AppState::deleting && !m_batchAfterDeletion.isEmpty()) {
            openInBatch(std::exchange(m_batchAfterDeletion, {}));
        }
    });

    window->setWindowTitle(QStringLiteral("Vellico"));
    m_mainWindow = window;
    buildMainMenu();
    window->adjustSize();
    window->installEventFilter(this);

    placeMainWindow();
    window->show();
    window->raise();
    window->activateWindow();
    processPendingURLs();
}

void AppDelegate::followDeletion()
{
    using viewmodel::AppState;
    const AppState state = m_vm->appState();
    if (isShowingBatch()) {
        return;
    }
    if (state == AppState::deleting) {
        m_deletionStarted = m_services.now();
        return;
    }
    const auto started = std::exchange(m_deletionStarted, std::nullopt);
    if (state != AppState::done || !started || !m_services.notify) {
        return;
    }
    // Someone who waited at the window has seen the result already; someone
    // who went elsewhere during a long deletion is told it is over.
    const bool windowActive = m_mainWindow && m_mainWindow->isActiveWindow();
    if (windowActive || m_services.now() - *started < notifyAfterDeletionOf) {
        return;
    }
    using viewmodel::texts::translate;
    const bool failed = !m_vm->deletionErrors().isEmpty();
    const QString title = failed
                              ? translate(QT_TRANSLATE_NOOP("Vellico", "Terminé avec des erreurs"))
                              : translate(QT_TRANSLATE_NOOP("Vellico", "Terminé !"));
    const QString body =
        m_vm->freedSpace() >= 1
            ? viewmodel::texts::fill(QT_TRANSLATE_NOOP("Vellico", "%1 libérés"),
                                     viewmodel::byteCountFormatter().string(m_vm->freedSpace()))
            : translate(
                  QT_TRANSLATE_NOOP("Vellico", "Les fichiers générés par FCP ont été supprimés."));
    m_services.notify(title, body);
}

QPoint framePositionInside(const QRect& frame, const QRect& available)
{
    QPoint topLeft = frame.topLeft();
    const auto fit = [](int start, int length, int areaStart, int areaLength) {
        // Too long for the area: the start (title bar, left edge) shows.
        if (length >= areaLength) {
            return areaStart;
        }
        return std::clamp(start, areaStart, areaStart + areaLength - length);
    };
    topLeft.setX(fit(frame.x(), frame.width(), available.x(), available.width()));
    topLeft.setY(fit(frame.y(), frame.height(), available.y(), available.height()));
    return topLeft;
}

void AppDelegate::placeMainWindow()
{
    QMainWindow* window = m_mainWindow;
    const QByteArray saved = QSettings().value(frameKey).toByteArray();
    const bool restored = !saved.isEmpty() && window->restoreGeometry(saved);
    // The frame was saved under another screen layout or scale, or the
    // window is taller than the screen: keep it where the user can reach it.
    const QScreen* screen = QGuiApplication::screenAt(window->frameGeometry().center());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return;
    }
    const QRect available = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    if (!restored) {
        frame.moveCenter(available.center());
    }
    const QPoint target = framePositionInside(frame, available);
    if (target != window->frameGeometry().topLeft()) {
        window->move(target); // move() places the frame's top-left corner
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mainWindow && event->type() == QEvent::Close) {
        saveMainWindowFrame();
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::saveMainWindowFrame()
{
    if (m_terminating || !m_mainWindow) {
        return;
    }
    QSettings settings;
    settings.setValue(frameKey, m_mainWindow->saveGeometry());
}

void AppDelegate::openDocumentation()
{
    showDocumentation();
}

void AppDelegate::showDocumentation()
{
    if (m_docWindow && m_docWindow->isVisible()) {
        m_docWindow->raise();
        m_docWindow->activateWindow();
        return;
    }
    // A hidden window is not shown again: a fresh one, with a fresh view
    // that starts from the user's language, replaces it.
    if (m_docWindow) {
        m_docWindow->deleteLater();
    }
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(viewmodel::texts::translate(docWindowTitle));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new docs::DocumentationView(window);
    layout->addWidget(view);
    connect(view, &docs::DocumentationView::supportMailRequested, this,
            &AppDelegate::openSupportMail);
    window->setMinimumSize(450, 400);
    window->resize(620, 700);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    m_docWindow = window;
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace vellico::app
