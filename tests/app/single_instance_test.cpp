// One instance per session: a later launch hands its paths over and ends; a
// socket left by a killed instance does not stand in the way.
#include "app/single_instance.hpp"
#include "support/temp_dir.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QtConcurrent>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <vector>

using namespace vellico;

namespace {

// A socket file that nobody listens on any more, as a killed instance leaves.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       ::listen(fd, 1) == 0;
    ::close(fd);
    return bound;
}

// An environment in which the program keeps its socket and settings in
// `dir`, with no display needed.
QProcessEnvironment programEnvironment(const test::TempDir& dir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       QString::fromStdString((dir / "runtime").string()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((dir / "config").string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

QString runtimeFolder(const test::TempDir& dir)
{
    const QString folder = QString::fromStdString((dir / "runtime").string());
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    return folder;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void forwardedPathsArriveExactlyAndAreAcknowledged()
    {
        test::TempDir dir;
        app::SingleInstance first(QString::fromStdString((dir / "s.sock").string()));
        QVERIFY(first.listen());
        QSignalSpy received(&first, &app::SingleInstance::pathsReceived);
        const QStringList paths = {QStringLiteral("/m/B \"x\" $y `z`.fcpbundle"),
                                   QStringLiteral("/m/A\nnewline é.fcpbundle")};
        // The sending side blocks, as a second launch does: another thread.
        QFuture<bool> sent = QtConcurrent::run([name = first.serverName(), paths] {
            return app::SingleInstance::forward(name, paths);
        });
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toStringList(), paths);
        QTRY_VERIFY(sent.isFinished());
        QVERIFY(sent.result());
    }

    void nobodyListeningMeansNotForwarded()
    {
        test::TempDir dir;
        QVERIFY(!app::SingleInstance::forward(QString::fromStdString((dir / "none.sock").string()),
                                              {QStringLiteral("/x")}, 500));
    }

    void aLiveInstanceKeepsItsName()
    {
        test::TempDir dir;
        const QString name = QString::fromStdString((dir / "s.sock").string());
        app::SingleInstance first(name);
        QVERIFY(first.listen());
        app::SingleInstance second(name);
        QVERIFY(!second.listen());
        QVERIFY(first.isListening());
    }

    void staleSocketFileIsReplaced()
    {
        test::TempDir dir;
        const QString name = QString::fromStdString((dir / "s.sock").string());
        QVERIFY(makeStaleSocket(name));
        QVERIFY(QFileInfo::exists(name));
        QVERIFY(!app::SingleInstance::forward(name, {}, 500));
        app::SingleInstance instance(name);
        QVERIFY(instance.listen());
        QSignalSpy received(&instance, &app::SingleInstance::pathsReceived);
        QFuture<bool> sent =
            QtConcurrent::run([name] { return app::SingleInstance::forward(name, {"/a"}); });
        QTRY_COMPARE(received.size(), 1);
        QTRY_VERIFY(sent.isFinished());
        QVERIFY(sent.result());
    }

    void runtimeFolderHoldsTheSocket()
    {
        test::TempDir dir;
        const QString folder = runtimeFolder(dir);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
        QCOMPARE(app::SingleInstance::defaultServerName(),
                 folder + QStringLiteral("/vellico.sock"));
    }

    // Without a private runtime folder the socket goes into a folder of the
    // temporary folder that must be ours and shut to others: one another
    // user made first (or a link to one) means no single instance at all.
    void fallbackFolderMustBeOursAndPrivate()
    {
        test::TempDir dir;
        const QString temp = QString::fromStdString(dir.path().string());
        const QString fallback = temp + QStringLiteral("/vellico-%1").arg(::geteuid());
        const QString open = QString::fromStdString((dir / "open").string());
        QDir().mkpath(open);
        ::chmod(QFile::encodeName(open).constData(), 0755);

        // Made when missing, mode 0700; a runtime folder others may enter is not used.
        QCOMPARE(app::SingleInstance::serverNameIn(open, temp),
                 fallback + QStringLiteral("/vellico.sock"));
        QCOMPARE(app::SingleInstance::serverNameIn({}, temp),
                 fallback + QStringLiteral("/vellico.sock"));
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(fallback).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);

        ::chmod(QFile::encodeName(fallback).constData(), 0777);
        QCOMPARE(app::SingleInstance::serverNameIn({}, temp), QString());
        ::rmdir(QFile::encodeName(fallback).constData());
        QVERIFY(QFile::link(open, fallback)); // a link to a folder elsewhere
        QCOMPARE(app::SingleInstance::serverNameIn({}, temp), QString());
        QFile::remove(fallback);
        if (::geteuid() == 0) { // only root can give a folder away
            QDir().mkpath(fallback);
            ::chmod(QFile::encodeName(fallback).constData(), 0700);
            QCOMPARE(::chown(QFile::encodeName(fallback).constData(), 65534, 65534), 0);
            QCOMPARE(app::SingleInstance::serverNameIn({}, temp), QString());
        }
        // No name, no single instance: nothing is listened on or sent.
        app::SingleInstance none{QString()};
        QVERIFY(!none.listen());
        QVERIFY(!app::SingleInstance::forward(QString(), {QStringLiteral("/x")}, 200));
    }

    // A server run by another user gets no paths: the peer's credentials are
    // checked before anything is sent.
    void foreignServerIsSentNothing()
    {
        if (::geteuid() != 0) {
            QSKIP("needs root to listen as another user");
        }
        test::TempDir dir;
        const QString name = QString::fromStdString((dir / "s.sock").string());
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            ::close(ready[0]);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(name);
            std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(fd, 4) != 0) {
                ::_exit(2);
            }
            (void)!::write(ready[1], "r", 1);
            const int peer = ::accept(fd, nullptr, nullptr);
            char byte = 0;
            const timeval wait{2, 0};
            ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            ::_exit(::read(peer, &byte, 1) > 0 ? 1 : 0); // 1: it received something
        }
        ::close(ready[1]);
        char byte = 0;
        QCOMPARE(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        QVERIFY(!app::SingleInstance::forward(name, {QStringLiteral("/secret/Film.fcpbundle")}));
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // Idle connections are capped and time out: the server stays up and a
    // real launch gets through afterwards.
    void idleConnectionsNeitherPileUpNorBlockForEver()
    {
        test::TempDir dir;
        const QString name = QString::fromStdString((dir / "s.sock").string());
        app::SingleInstance instance(name);
        instance.setIdleTimeout(300);
        QVERIFY(instance.listen());
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 200; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(name);
        }
        QTest::qWait(100);
        QVERIFY(instance.openConnections() <= app::SingleInstance::maxConnections);
        QVERIFY(instance.openConnections() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(instance.openConnections(), 0, 3000);
        QVERIFY(instance.isListening());
        QSignalSpy received(&instance, &app::SingleInstance::pathsReceived);
        QFuture<bool> sent =
            QtConcurrent::run([name] { return app::SingleInstance::forward(name, {"/a"}); });
        QTRY_COMPARE(received.size(), 1);
        QTRY_VERIFY(sent.isFinished());
        QVERIFY(sent.result());
    }

    // The real program as a second launch: it hands its (relative) path to
    // the instance that listens, absolute, and ends at once.
    void secondLaunchForwardsItsPathAndExits()
    {
        test::TempDir dir;
        const QString folder = runtimeFolder(dir);
        app::SingleInstance first(folder + QStringLiteral("/vellico.sock"));
        QVERIFY(first.listen());
        QSignalSpy received(&first, &app::SingleInstance::pathsReceived);

        QProcess second;
        second.setProcessEnvironment(programEnvironment(dir));
        second.setWorkingDirectory(QString::fromStdString(dir.path().string()));
        second.start(QStringLiteral(VELLICO_APP_EXECUTABLE), {QStringLiteral("Mariage.fcpbundle")});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, 20000);
        const QString expected = QString::fromStdString((dir / "Mariage.fcpbundle").string());
        QCOMPARE(received[0][0].toStringList(), QStringList{expected});
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 10000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    }

    // A logout's SIGTERM (and SIGHUP, SIGINT) goes through an ordinary quit:
    // the program ends by itself, its teardown run, instead of being killed
    // by the signal with a library perhaps still claimed.
    void terminationSignalsQuitTheNormalWay()
    {
        for (const int number : {SIGTERM, SIGHUP, SIGINT}) {
            test::TempDir dir;
            const QString socket = runtimeFolder(dir) + QStringLiteral("/vellico.sock");
            QProcess app;
            app.setProcessEnvironment(programEnvironment(dir));
            app.start(QStringLiteral(VELLICO_APP_EXECUTABLE), {});
            QVERIFY(app.waitForStarted());
            // Listening means the event loop runs.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
            ::kill(static_cast<pid_t>(app.processId()), number);
            QVERIFY(app.waitForFinished(10000));
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 0);
        }
    }

    // A real instance killed with SIGKILL leaves its socket file behind; the
    // next start-up takes the name over.
    void killedInstanceDoesNotBlockTheNextStart()
    {
        test::TempDir dir;
        const QString folder = runtimeFolder(dir);
        const QString socket = folder + QStringLiteral("/vellico.sock");
        QProcess killed;
        killed.setProcessEnvironment(programEnvironment(dir));
        killed.start(QStringLiteral(VELLICO_APP_EXECUTABLE), {});
        QVERIFY(killed.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);
        ::kill(static_cast<pid_t>(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished(5000));
        QVERIFY2(QFileInfo::exists(socket), "the killed instance removed its socket");

        // A second real launch becomes the instance: it stays up and listens.
        QProcess next;
        next.setProcessEnvironment(programEnvironment(dir));
        next.start(QStringLiteral(VELLICO_APP_EXECUTABLE), {});
        QVERIFY(next.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(socket);
                return probe.waitForConnected(200);
            }(),
            20000);
        QCOMPARE(next.state(), QProcess::Running);
        next.kill();
        QVERIFY(next.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
