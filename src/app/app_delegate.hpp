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

namespace vellico::viewmodel {
class MainViewModel;
}

namespace vellico::app {

// The application shell. It owns the one view model for the life of the
// process, builds the main window around the content view and its menu bar,
// keeps the documentation window, offers the preference reset at launch and
// turns every request to open libraries (the command line at launch, paths
// forwarded by a later launch) into a call of the view model's handleDrop.
// Only one library is worked on at a time: of several opened together the
// first by name is taken and the user is told so.
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

    // Several libraries opened together (a launch with paths, or a later
    // launch forwarding its own): sorted by name, the first one opened, the
    // others dropped with a message, the window brought to the front. An
    // empty list does nothing.
    void openURLs(const QList<QUrl>& urls);

    // What a later launch forwarded: its paths, or only a wish to see the
    // window when it had none.
    void handleForwardedPaths(const QStringList& paths);

    // Shows the main window, creating it the first time; later calls do
    // nothing. 500 × 590 content, not resizable, no full screen, title
    // "Vellico", frame kept under "VellicoMainWindow" (centred when nothing
    // is saved). Builds the menu bar and opens the library that waited.
    void setupMainWindow();

    // Opens one library now, or queues it until the main window exists.
    void openLibrary(const QUrl& url);
    // Opens the first queued library and drops the rest.
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
    void scheduleMultipleLibrariesMessage();
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
    // Several libraries were asked for before the window existed: the
    // message follows the queued one, so that its intake, which clears the
    // error text, cannot wipe it out.
    bool m_pendingMultipleLibraries = false;
    // Several libraries were asked for during a deletion: the message shows
    // once the kept one's intake has started.
    bool m_messageAfterDeferredDrop = false;
    QPointer<QMainWindow> m_mainWindow;
    QPointer<QWidget> m_docWindow;
    // Set once the settings were erased: nothing writes them again.
    bool m_terminating = false;
    std::optional<std::chrono::steady_clock::time_point> m_deletionStarted;
};

} // namespace vellico::app
