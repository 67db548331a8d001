#pragma once

#include "viewmodel/view_model_services.hpp"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <Qt>

#include <functional>

namespace vellico::app {

// Everything the application shell asks of the machine, injectable for
// tests. All of it is called on the GUI thread.
struct AppServices {
    viewmodel::ViewModelServices viewModel;
    // The keyboard modifiers held right now (read once, at launch).
    std::function<Qt::KeyboardModifiers()> modifiers;
    // Shows the preference-reset alert; true when the user chose to erase.
    std::function<bool()> confirmReset;
    // Starts a detached process; false when it could not be started.
    std::function<bool(const QString& program, const QStringList& arguments)> startProcess;
    // Opens a web page or a mailto URL with the user's default handler.
    std::function<bool(const QUrl& url)> openUrl;
    // The executable that a relaunch starts; empty: this program's own.
    QString executablePath;
    // "--reset-settings" was given: offer the reset whatever keys are held.
    bool resetSettingsSwitch = false;
};

// The services of this machine: the view model's, the keyboard state as
// the window system reports it, the French alert, QProcess and
// QDesktopServices.
AppServices machineAppServices();

} // namespace vellico::app
