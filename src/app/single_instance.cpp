#include "app/single_instance.hpp"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace vellico::app {

namespace {

// The message: a magic number, then the paths as a QStringList. The answer
// is one acknowledgement byte.
constexpr quint32 messageMagic = 0x56454c31; // "VEL1"
constexpr char acknowledgement = '\x06';
constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_0;
// A handful of paths fits in a few kilobytes; more is not ours.
constexpr qint64 maximumMessageSize = 1024 * 1024;

} // namespace

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_name(std::move(serverName))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

QString SingleInstance::defaultServerName()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) {
        // A plain name: Qt puts it in its temporary folder.
        return QStringLiteral("vellico-%1").arg(geteuid());
    }
    return QDir(runtime).filePath(QStringLiteral("vellico.sock"));
}

bool SingleInstance::forward(const QString& serverName, const QStringList& paths, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(streamVersion);
    out << messageMagic << paths;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs)) {
            return false;
        }
    }
    // The acknowledgement tells a live instance from one that is hanging or
    // quitting: only then may this launch end.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == acknowledgement;
}

bool SingleInstance::listen()
{
    // Someone accepting connections is a live instance. Asked first: with
    // socket options set, QLocalServer creates the socket elsewhere and
    // renames it into place, which would silently take a live instance's
    // name.
    {
        QLocalSocket probe;
        probe.connectToServer(m_name);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return false;
        }
    }
    // Only this user may connect (the runtime folder is private already;
    // the plain-name fallback lives in a shared temporary folder).
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server.listen(m_name)) {
        return true;
    }
    if (m_server.serverError() != QAbstractSocket::AddressInUseError) {
        return false;
    }
    // The file outlived its instance: the probe was refused.
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name);
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        if (socket->bytesAvailable() > 0) {
            readMessage(socket);
        }
    }
}

void SingleInstance::readMessage(QLocalSocket* socket)
{
    if (socket->bytesAvailable() > maximumMessageSize) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.setVersion(streamVersion);
    in.startTransaction();
    quint32 magic = 0;
    QStringList paths;
    in >> magic;
    if (in.status() == QDataStream::Ok && magic != messageMagic) {
        in.abortTransaction();
        socket->abort();
        return;
    }
    in >> paths;
    if (!in.commitTransaction()) {
        // Incomplete: the rest comes with the next readyRead. Corrupt data
        // also lands here, and the sender's time-out ends the connection.
        return;
    }
    socket->putChar(acknowledgement);
    socket->flush();
    socket->disconnectFromServer();
    emit pathsReceived(paths);
}

} // namespace vellico::app
