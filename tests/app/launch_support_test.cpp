// Command-line arguments, the order of opened libraries, the support mail
// and the relaunch after a preference reset.
#include "app/launch_options.hpp"
#include "app/preference_reset.hpp"
#include "app/support_mail.hpp"
#include "support/temp_dir.hpp"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QUrlQuery>

#include <filesystem>
#include <fstream>

using namespace vellico;

class LaunchSupportTest : public QObject {
    Q_OBJECT

private slots:
    void argumentsBecomeAbsoluteFileUrlsAndUnusableOnesAreSkipped()
    {
        const auto options = app::parseLaunchArguments(
            {QStringLiteral("B.fcpbundle"), QString(), QStringLiteral("--unknown"),
             QStringLiteral("/abs/A.fcpbundle"), QStringLiteral("https://example.com/x"),
             QStringLiteral("file:///media/Lib%20one.fcpbundle"), QStringLiteral("--"),
             QStringLiteral("-dash.fcpbundle")},
            QStringLiteral("/home/u/Films"));
        QVERIFY(!options.resetSettings);
        const QList<QUrl> expected = {
            QUrl::fromLocalFile(QStringLiteral("/home/u/Films/B.fcpbundle")),
            QUrl::fromLocalFile(QStringLiteral("/abs/A.fcpbundle")),
            QUrl::fromLocalFile(QStringLiteral("/media/Lib one.fcpbundle")),
            QUrl::fromLocalFile(QStringLiteral("/home/u/Films/-dash.fcpbundle"))};
        QCOMPARE(options.urls, expected);
    }

    void resetSwitchIsRecognisedOnlyBeforeTheEndOfOptions()
    {
        QVERIFY(app::parseLaunchArguments({QStringLiteral("--reset-settings")}, QStringLiteral("/"))
                    .resetSettings);
        const auto after = app::parseLaunchArguments(
            {QStringLiteral("--"), QStringLiteral("--reset-settings")}, QStringLiteral("/tmp"));
        QVERIFY(!after.resetSettings);
        QCOMPARE(after.urls.size(), 1);
    }

    void librariesSortByLastPathComponentIgnoringTrailingSlashes()
    {
        const QList<QUrl> urls = {QUrl::fromLocalFile(QStringLiteral("/a/Zeta.fcpbundle")),
                                  QUrl::fromLocalFile(QStringLiteral("/z/B.fcpbundle/")),
                                  QUrl::fromLocalFile(QStringLiteral("/y/A.fcpbundle"))};
        const QList<QUrl> sorted = app::sortedByLastPathComponent(urls);
        QCOMPARE(app::lastPathComponent(sorted[0]), QStringLiteral("A.fcpbundle"));
        QCOMPARE(app::lastPathComponent(sorted[1]), QStringLiteral("B.fcpbundle"));
        QCOMPARE(sorted[2], urls[0]); // sorted by name, not by folder
    }

    void supportMailDecodesBackToTheExactSubjectAndBody()
    {
        app::SupportMailFacts facts;
        facts.supportAddress = QStringLiteral("support@vellico.app");
        // Characters that a careless encoding turns into syntax.
        facts.systemVersion = QStringLiteral("Débian 12 + édition & co = 100% #1 (6.1.0-18)");
        facts.appVersion = QStringLiteral("0.1.0");
        facts.buildVersion = QStringLiteral("4edd91d");
        const QString text = app::supportMailURLString(facts);

        QVERIFY(text.startsWith(QStringLiteral("mailto:support@vellico.app?subject=")));
        QVERIFY(!text.contains(QLatin1Char(' ')));
        QVERIFY(!text.contains(QLatin1Char('+')));
        QVERIFY(!text.contains(QLatin1Char('#')));

        // Decoded by hand, the way a mail client splits a mailto query.
        const QStringList items = text.mid(text.indexOf(QLatin1Char('?')) + 1).split('&');
        QCOMPARE(items.size(), 2);
        const QString subject = items[0].section('=', 1);
        const QString body = items[1].section('=', 1);
        QCOMPARE(items[0].section('=', 0, 0), QStringLiteral("subject"));
        QCOMPARE(QUrl::fromPercentEncoding(subject.toLatin1()),
                 QStringLiteral("Vellico \u2014 Support"));
        QCOMPARE(QUrl::fromPercentEncoding(body.toLatin1()),
                 QStringLiteral("Linux version: Débian 12 + édition & co = 100% #1 (6.1.0-18)\n"
                                "App: Vellico\nApp version: 0.1.0 (4edd91d)\n\nDescription:\n"));

        // And through Qt's own parser.
        const QUrl url(text, QUrl::StrictMode);
        QVERIFY(url.isValid());
        QCOMPARE(url.scheme(), QStringLiteral("mailto"));
        QCOMPARE(url.path(), QStringLiteral("support@vellico.app"));
        QCOMPARE(QUrlQuery(url).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
                 app::supportMailBody(facts));
    }

    void missingVersionsShowQuestionMarks()
    {
        app::SupportMailFacts facts;
        facts.systemVersion = QStringLiteral("Linux");
        QVERIFY(app::supportMailBody(facts).contains(QStringLiteral("\nApp version: ? (?)\n")));
    }

    void currentSupportMailNamesThisSystem()
    {
        const QUrl url(app::supportMailURLString(), QUrl::StrictMode);
        QVERIFY(url.isValid());
        const QString body =
            QUrlQuery(url).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded);
        QVERIFY2(body.startsWith(QStringLiteral("Linux version: ")), qPrintable(body));
        QVERIFY(body.endsWith(QStringLiteral("\n\nDescription:\n")));
    }

    void resetChordNeedsBothCtrlAndAlt()
    {
        QVERIFY(app::isResetChord(Qt::ControlModifier | Qt::AltModifier));
        QVERIFY(app::isResetChord(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier));
        QVERIFY(!app::isResetChord(Qt::ControlModifier));
        QVERIFY(!app::isResetChord(Qt::AltModifier));
        QVERIFY(!app::isResetChord(Qt::ControlModifier | Qt::ShiftModifier));
    }

    // The relaunch script for real: it must wait for the process to end,
    // then start a program whose path the shell would otherwise expand.
    void relaunchWaitsForTheProcessThenStartsTheExactPath()
    {
        test::TempDir dir;
        const auto folder = dir / "we\"ird $HOME `touch pwned` \\ app";
        std::filesystem::create_directories(folder);
        const auto marker = dir / "started";
        const auto program = folder / "vellico";
        {
            std::ofstream script(program);
            script << "#!/bin/sh\necho \"$0\" > '" << marker.string() << "'\n";
        }
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);

        QProcess waitedFor;
        waitedFor.start(QStringLiteral("sleep"), {QStringLiteral("0.6")});
        QVERIFY(waitedFor.waitForStarted());
        const QString path = QString::fromStdString(program.string());
        const QStringList arguments = app::relaunchArguments(waitedFor.processId(), path);

        QProcess relaunch;
        relaunch.start(app::relaunchProgram, arguments);
        QVERIFY(relaunch.waitForStarted());
        QTest::qWait(300);
        QVERIFY2(!std::filesystem::exists(marker), "started before the process ended");
        QVERIFY(waitedFor.waitForFinished(5000));
        QVERIFY(relaunch.waitForFinished(5000));
        QCOMPARE(relaunch.exitCode(), 0);
        QFile started(QString::fromStdString(marker.string()));
        QVERIFY(started.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(started.readAll()).trimmed(), path);
        QVERIFY(!std::filesystem::exists(std::filesystem::current_path() / "pwned"));
        QVERIFY(!std::filesystem::exists(folder / "pwned"));
        QCOMPARE(arguments.last(), path); // the path travels as an argument
        QVERIFY(!arguments[1].contains(path));
    }
};

QTEST_GUILESS_MAIN(LaunchSupportTest)
#include "launch_support_test.moc"
