#include "app/app_services.hpp"

#include "app/preference_reset.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>

namespace vellico::app {

void sendDesktopNotification(const QString& title, const QString& body)
{
    // The freedesktop notification service, when the session has a bus; the
    // call is not awaited, and a session without the service (or without a
    // bus) shows nothing.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QString application = QGuiApplication::applicationDisplayName();
    call << application << quint32(0) << QStringLiteral("vellico") << title << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("vellico")}} << qint32(-1);
    bus.call(call, QDBus::NoBlock);
}

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
    services.notify = [](const QString& title, const QString& body) {
        sendDesktopNotification(title, body);
    };
    return services;
}

} // namespace vellico::app
