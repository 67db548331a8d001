// Shows the documentation window's content on its own and saves a picture:
//   docs-preview LANG OUT.png [--menu]
// With --menu, the section menu is opened before the picture is taken, and
// the picture is of the screen area under the window (so the menu shows).
// Meant to run under Xvfb.

#include "ui/documentation_view.hpp"
#include "ui/theme.hpp"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

using namespace vellico;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ui::applyDarkTheme(app);
    QStringList args = app.arguments().mid(1);
    const bool withMenu = args.removeAll(QStringLiteral("--menu")) > 0;
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: docs-preview LANG OUT.png [--menu]\n");
        return 2;
    }
    const QString output = args.at(1);

    docs::DocumentationView view(args.at(0).toStdString(), docs::embeddedHelpFileReader());
    view.setWindowTitle(QStringLiteral("Aide Vellico"));
    view.resize(620, 700);
    view.move(0, 0);
    view.show();

    QTimer::singleShot(400, &view, [&] {
        if (withMenu && view.sectionMenuBox()->isVisible()) {
            QToolButton* button = view.sectionMenuButton();
            button->menu()->popup(button->mapToGlobal(QPoint(0, button->height())));
        }
    });
    QTimer::singleShot(1200, &view, [&] {
        QPixmap picture =
            withMenu ? view.screen()->grabWindow(0, view.x(), view.y(), view.width(), view.height())
                     : view.grab();
        const bool saved = picture.save(output);
        app.exit(saved ? 0 : 1);
    });
    return app.exec();
}
