#pragma once

#include "app/app_services.hpp"

#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QStackedWidget;

namespace vellico::viewmodel {
class BatchViewModel;
class MainViewModel;
} // namespace vellico::viewmodel

namespace vellico::ui {
class BatchView;
}

namespace vellico::app {

// The application shell. It owns the one view model for the life of the
// process, builds the main window around the content view and its menu bar,
// keeps the documentation window, offers the preference reset at launch and
// turns every request to open libraries (the command line at launch, paths
// forwarded by a later launch, a drop) into work: one library goes to the
// view model's handleDrop, two or more together to the batch, which then
// takes the window's place.
//
// Launch order (main()): constructor (the view model), then
// applicationWillFinishLaunching(), openURLs() for the command line, then
// applicationDidFinishLaunching(), then the event loop. GUI thread.
// Where a window frame goes so that it lies inside `available` (a screen's
// area without panels): moved, never resized, by the least distance; a frame
// larger than the area keeps its top-left corner, and so its title bar, on
// the screen.
QPoint framePositionInside(const QRect& frame, const QRect& available);

class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(AppServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    viewmodel::MainViewModel& viewModel() { return *m_vm; }
    // The batch, created the first time several libraries are opened
    // together or a folder is searched; null before.
    viewmodel::BatchViewModel* batch() const { return m_batch.get(); }
    // True while the window shows the batch rather than one library.
    bool isShowingBatch() const;
    // The main window once setupMainWindow() has run; null before.
    QMainWindow* mainWindow() const { return m_mainWindow; }
    // The documentation window most recently opened; null when none is open.
    QWidget* docWindow() const { return m_docWindow; }
    // Libraries waiting for the main window.
    const QList<QUrl>& pendingURLs() const { return m_pendingURLs; }

    // Dark Fusion look whatever the desktop's setting; "NSQuitAlwaysKeepsWindows"
    // written false (nothing reopens windows on the next launch); quitting
    // when the last window closes; the lock re-check on every activation.
    void applicationWillFinishLaunching();

    // The preference reset check, then the main window. False when the user
    // chose to erase the settings: the relaunch has been started and this
    // process must end without showing anything.
    bool applicationDidFinishLaunching();

    // Libraries opened (a launch with paths, a later launch forwarding its
    // own, a drop): one alone opens in the single window, as always; two or
    // more open in the batch (after a deletion of the single window has
    // ended). While the batch is on screen, every library joins it. The
    // window is brought to the front. An empty list does nothing.
    void openURLs(const QList<QUrl>& urls);

    // "Rechercher des bibliothèques…": asks for a folder, then shows the
    // batch searching it.
    void showSearchPanel();
    // Shows the batch searching `folder`.
    void searchFolder(const QString& folder);

    // What a later launch forwarded: its paths, or only a wish to see the
    // window when it had none.
    void handleForwardedPaths(const QStringList& paths);

    // Shows the main window, creating it the first time; later calls do
    // nothing. At least 500 × 590 content and resizable, title "Vellico",
    // frame kept under "VellicoMainWindow" (centred when nothing is saved).
    // Builds the menu bar and opens the libraries that waited.
    void setupMainWindow();

    // Opens one library now, or queues it until the main window exists.
    void openLibrary(const QUrl& url);
    // Opens what waited for the main window.
    void processPendingURLs();
    // Raises and activates the main window (or, before it exists, the first
    // visible window that is not a dialog).
    void bringMainWindowToFront();

    // The menu bar: the application menu and "Aide".
    void buildMainMenu();

    // Erases the settings and relaunches when Ctrl+Alt are held (or the
    // switch was given) and the user confirms; otherwise shows the main
    // window. Returns false when the process must end.
    bool checkPreferenceReset();

    // Menu actions.
    void openDocumentation();
    void openYouTube();
    void openWebsite();
    void openSupportMail();
    void showAboutBox();

    // The application's name for the menus: the metadata's, "Vellico" when
    // it has none.
    static QString applicationName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The batch and its view, created once; the window shows it.
    void showBatch();
    void showSingleLibrary();
    void openInBatch(const QList<QUrl>& urls);
    void notifyBatchEnd(qint64 freed, int failures);
    void saveMainWindowFrame();
    // Restores the saved frame, or centres the window, then keeps it on the
    // screen it is meant for.
    void placeMainWindow();
    // Notes when a deletion starts; when it ends after a long run while the
    // window is not active, has a desktop notification say what was freed.
    void followDeletion();
    void showDocumentation();

    AppServices m_services;
    std::unique_ptr<viewmodel::MainViewModel> m_vm;
    QList<QUrl> m_pendingURLs;
    std::unique_ptr<viewmodel::BatchViewModel> m_batch;
    // Several libraries asked for while the single window deletes: they
    // open in the batch once it is over.
    QList<QUrl> m_batchAfterDeletion;
    QPointer<QStackedWidget> m_pages;
    QPointer<ui::BatchView> m_batchView;
    QPointer<QMainWindow> m_mainWindow;
    QPointer<QWidget> m_docWindow;
    // Set once the settings were erased: nothing writes them again.
    bool m_terminating = false;
    std::optional<std::chrono::steady_clock::time_point> m_deletionStarted;
};

} // namespace vellico::app
