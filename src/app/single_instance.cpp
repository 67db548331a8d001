#include "app/single_instance.hpp"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
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

constexpr const char* socketFileName = "vellico.sock";

// True when the other end of the connected local socket `fd` runs as this
// user. A foreign peer (another user who got hold of the name) is never sent
// paths nor believed.
bool peerIsUs(qintptr fd)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (fd < 0 ||
        ::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return false;
    }
    return credentials.uid == ::geteuid();
}

} // namespace

bool SingleInstance::isPrivateFolder(const QString& path)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    return !path.isEmpty() && ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString SingleInstance::serverNameIn(const QString& runtimeDir, const QString& tempDir)
{
    if (QDir::isAbsolutePath(runtimeDir) && isPrivateFolder(runtimeDir)) {
        return QDir(runtimeDir).filePath(QLatin1String(socketFileName));
    }
    if (tempDir.isEmpty()) {
        return {};
    }
    // Made if missing; if it exists, whoever made it must be us and it must
    // be shut to others: another user may have made it first to catch us.
    const QString folder = QDir(tempDir).filePath(QStringLiteral("vellico-%1").arg(::geteuid()));
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (!isPrivateFolder(folder)) {
        return {};
    }
    return QDir(folder).filePath(QLatin1String(socketFileName));
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_name(std::move(serverName))
{
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
}

QString SingleInstance::defaultServerName()
{
    return serverNameIn(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
}

bool SingleInstance::forward(const QString& serverName, const QStringList& paths, int timeoutMs)
{
    if (serverName.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    if (!peerIsUs(socket.socketDescriptor())) {
        socket.abort();
        return false; // someone else's server: it gets nothing
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
    if (m_name.isEmpty()) {
        return false;
    }
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
        // Closed sockets wait for deletion with no parent: not counted.
        if (openConnections() > maxConnections || !peerIsUs(socket->socketDescriptor())) {
            socket->abort();
            socket->setParent(nullptr);
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A connection that stays silent is closed: its slot is for others.
        QTimer::singleShot(m_idleTimeoutMs, socket, [socket] {
            socket->abort();
            socket->setParent(nullptr);
            socket->deleteLater();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        if (socket->bytesAvailable() > 0) {
            readMessage(socket);
        }
    }
}

int SingleInstance::openConnections() const
{
    return static_cast<int>(
        m_server.findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly).size());
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
