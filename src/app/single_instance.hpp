#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vellico::app {

// Keeps Vellico to one instance per user session. The first launch listens
// on a local socket in the runtime folder; a later launch hands its paths to
// it through that socket and exits, so a library opened from the file
// manager reaches the window already on screen.
//
// The socket lives only in a folder that is the user's own and private (mode
// 0700, not a link); without one there is no single instance at all, rather
// than a name in a shared folder that another user could take first and so
// receive the paths. Both ends check that the other runs as the same user.
// A connection that sends nothing in time is dropped, and only a few may be
// open at once, so idle connections cannot wear the server down.
//
// A socket file left behind by an instance that was killed answers nobody:
// listen() recognises it and takes its place. GUI thread; forward() blocks
// and may run on any thread.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);

    // "$XDG_RUNTIME_DIR/vellico.sock" when that folder is private to the
    // user, otherwise "vellico.sock" in a private "vellico-<uid>" folder of
    // the temporary folder; empty when neither can be had: run without
    // single instance then.
    static QString defaultServerName();
    // The same choice between the runtime folder `runtimeDir` (may be empty)
    // and the temporary folder `tempDir`, where the fallback folder is
    // created (mode 0700) when missing and then checked with lstat: owned by
    // us, no access for anyone else, a folder and not a link.
    static QString serverNameIn(const QString& runtimeDir, const QString& tempDir);

    // True when `path` is a directory (not a link) owned by this user that
    // nobody else may enter.
    static bool isPrivateFolder(const QString& path);

    // Open connections at most; more are closed at once.
    static constexpr int maxConnections = 8;

    // Sends `paths` (absolute; may be empty, which only asks to come to the
    // front) to the instance listening on `serverName`. True once that
    // instance has acknowledged them; false when nobody listens, or nobody
    // answered within `timeoutMs` for each step.
    static bool forward(const QString& serverName, const QStringList& paths, int timeoutMs = 3000);

    // Starts listening. False when another live instance holds the name or
    // the socket cannot be created; the application then runs on alone.
    bool listen();
    bool isListening() const { return m_server.isListening(); }
    const QString& serverName() const { return m_name; }

    // How long a connection may stay open without completing its message.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }
    // Connections accepted and not yet closed.
    int openConnections() const;

signals:
    // A later launch sent these paths (possibly none).
    void pathsReceived(const QStringList& paths);

private:
    void acceptConnections();
    void readMessage(class QLocalSocket* socket);

    QString m_name;
    QLocalServer m_server;
    int m_idleTimeoutMs = 3000;
};

} // namespace vellico::app
