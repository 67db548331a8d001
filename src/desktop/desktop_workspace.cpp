#include "desktop/desktop_workspace.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFile>
#include <QProcess>
#include <QUrl>

namespace vellico::desktop {

namespace {

QString toQString(const std::filesystem::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

void openParentFolder(const std::filesystem::path& item)
{
    // The path travels as an argument, never through a shell.
    QProcess::startDetached(QStringLiteral("xdg-open"), {toQString(item.parent_path())});
}

} // namespace

DesktopWorkspace::DesktopWorkspace(QObject* parent) : QObject(parent) {}

void DesktopWorkspace::revealInFileManager(const std::filesystem::path& item)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openParentFolder(item);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(toQString(item)).toString(QUrl::FullyEncoded)}
         << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [item](QDBusPendingCallWatcher* finished) {
                if (finished->isError()) {
                    openParentFolder(item);
                }
                finished->deleteLater();
            });
}

} // namespace vellico::desktop
