// The desktop notification reaches the session's notification service: a
// stand-in for org.freedesktop.Notifications on a private session bus
// (CTest runs this under dbus-run-session) receives the call.
#include "app/app_services.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTest>
#include <QVariantMap>

using namespace vellico;

// Receives what a notification daemon would.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList received;
    QVariantMap lastHints;
    int lastTimeout = 0;

public slots:
    uint Notify(const QString& application, uint replaces, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int timeout)
    {
        Q_UNUSED(replaces);
        Q_UNUSED(actions);
        received << application + " | " + icon + " | " + summary + " | " + body;
        lastHints = hints;
        lastTimeout = timeout;
        return 1;
    }
};

class DesktopNotificationTest : public QObject {
    Q_OBJECT

private slots:
    void notificationReachesTheService()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        // CTest starts it under dbus-run-session: a bus of its own, always there.
        QVERIFY2(bus.isConnected(), "no session bus (run under dbus-run-session)");
        NotificationService service;
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY2(bus.registerService(QStringLiteral("org.freedesktop.Notifications")),
                 "a notification service already runs on this bus");
        QCoreApplication::setApplicationName(QStringLiteral("Vellico"));
        app::sendDesktopNotification(QStringLiteral("Terminé !"), QStringLiteral("5 Go libérés"));
        QTRY_COMPARE(service.received, QStringList{"Vellico | vellico | Terminé ! | 5 Go libérés"});
        QCOMPARE(service.lastHints.value("desktop-entry").toString(), QString("vellico"));
        QCOMPARE(service.lastTimeout, -1);
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
};

QTEST_GUILESS_MAIN(DesktopNotificationTest)
#include "desktop_notification_test.moc"
