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
// A socket file left behind by an instance that was killed answers nobody:
// listen() recognises it and takes its place. GUI thread; forward() blocks
// and may run on any thread.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);

    // "$XDG_RUNTIME_DIR/vellico.sock" (the runtime location Qt finds); a
    // name of Qt's temporary folder for this user when there is none.
    static QString defaultServerName();

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

signals:
    // A later launch sent these paths (possibly none).
    void pathsReceived(const QStringList& paths);

private:
    void acceptConnections();
    void readMessage(class QLocalSocket* socket);

    QString m_name;
    QLocalServer m_server;
};

} // namespace vellico::app
