// The main window's frame stays on the screen: a frame saved under another
// screen layout, or a window taller than a scaled screen, is moved back to
// where its title bar can be reached.
#include "app/app_delegate.hpp"
#include "viewmodel/harness.hpp"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace vellico;

class WindowFrameTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("VellicoFrameTests"));
        QCoreApplication::setApplicationName(QStringLiteral("Vellico"));
    }
    void init() { QSettings().clear(); }

    void framePositionInside_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QPoint>("expected");
        // The area: 1000 × 700 below a 30-pixel panel.
        QTest::newRow("inside stays") << QRect(100, 100, 500, 600) << QPoint(100, 100);
        QTest::newRow("above goes down") << QRect(100, -98, 500, 600) << QPoint(100, 30);
        QTest::newRow("below goes up") << QRect(100, 600, 500, 600) << QPoint(100, 130);
        QTest::newRow("left goes right") << QRect(-400, 100, 500, 600) << QPoint(0, 100);
        QTest::newRow("right goes left") << QRect(900, 100, 500, 600) << QPoint(500, 100);
        QTest::newRow("taller shows its top") << QRect(100, -50, 500, 900) << QPoint(100, 30);
        QTest::newRow("wider shows its left") << QRect(-30, 100, 1200, 600) << QPoint(0, 100);
    }
    void framePositionInside()
    {
        QFETCH(QRect, frame);
        QFETCH(QPoint, expected);
        QCOMPARE(app::framePositionInside(frame, QRect(0, 30, 1000, 700)), expected);
    }

    // With the scale factor set below, the screen (800 × 600 pixels) is
    // 400 × 300 logical points: the window cannot fit, and centring it
    // would put its title bar above the screen.
    void windowTallerThanTheScreenShowsItsTitleBar()
    {
        test::Harness harness;
        app::AppServices services;
        services.viewModel = harness.services();
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        {
            app::AppDelegate first(services);
            first.setupMainWindow();
            QMainWindow* window = first.mainWindow();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QVERIFY(window->frameGeometry().height() > available.height());
            QCOMPARE(window->frameGeometry().topLeft(), available.topLeft());
            // Saved far off the screen, as another monitor layout leaves it.
            window->move(-700, -900);
            QTRY_COMPARE(window->pos(), QPoint(-700, -900));
            window->close();
        }
        QVERIFY(QSettings().contains(QStringLiteral("VellicoMainWindow")));
        app::AppDelegate second(services);
        second.setupMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(second.mainWindow()));
        QCOMPARE(second.mainWindow()->frameGeometry().topLeft(), available.topLeft());
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    WindowFrameTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_frame_test.moc"
