#pragma once

#include "viewmodel/batch_view_model.hpp"
#include "viewmodel/view_model_services.hpp"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <Qt>

#include <chrono>
#include <functional>

namespace vellico::app {

// Everything the application shell asks of the machine, injectable for
// tests. All of it is called on the GUI thread.
struct AppServices {
    viewmodel::ViewModelServices viewModel;
    // The batch's services, built the first time several libraries are
    // opened together. Empty: this machine's.
    std::function<viewmodel::BatchServices()> batch;
    // The keyboard modifiers held right now (read once, at launch).
    std::function<Qt::KeyboardModifiers()> modifiers;
    // Shows the preference-reset alert; true when the user chose to erase.
    std::function<bool()> confirmReset;
    // Starts a detached process; false when it could not be started.
    std::function<bool(const QString& program, const QStringList& arguments)> startProcess;
    // Opens a web page or a mailto URL with the user's default handler.
    std::function<bool(const QUrl& url)> openUrl;
    // Shows a desktop notification; must not block. Empty: none is shown.
    std::function<void(const QString& title, const QString& body)> notify;
    // A steady clock, for how long a deletion ran. Empty: the system's.
    std::function<std::chrono::steady_clock::time_point()> now;
    // The executable that a relaunch starts; empty: this program's own.
    QString executablePath;
    // "--reset-settings" was given: offer the reset whatever keys are held.
    bool resetSettingsSwitch = false;
};

// The services of this machine: the view model's, the keyboard state as
// the window system reports it, the French alert, QProcess and
// QDesktopServices.
AppServices machineAppServices();

// Asks the session's notification service (org.freedesktop.Notifications on
// the session bus) to show `title` and `body`, without waiting for it.
// Nothing happens when there is no bus or no such service.
void sendDesktopNotification(const QString& title, const QString& body);

} // namespace vellico::app
