#include "app/app_services.hpp"

#include "app/preference_reset.hpp"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>

namespace vellico::app {

AppServices machineAppServices()
{
    AppServices services;
    services.viewModel = viewmodel::machineServices();
    // Reads the keyboard itself, not the last event: no event has arrived
    // yet at launch. Works on X11; other platforms may report nothing, and
    // "--reset-settings" is there for them.
    services.modifiers = [] { return QGuiApplication::queryKeyboardModifiers(); };
    services.confirmReset = [] { return confirmPreferenceReset(); };
    services.startProcess = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return services;
}

} // namespace vellico::app
