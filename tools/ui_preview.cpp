// Shows the main window's content on its own, for looking at it before the
// application shell exists:
//   ui-preview [LIBRARY] [--grab OUT.png]
// With a library, drops it at start. With --grab, waits until the intake has
// settled (ready, a sheet or an error), saves the window (and the sheet, as
// OUT-sheet.png) and quits.

#include "ui/content_view.hpp"
#include "ui/sheet_dialog.hpp"
#include "ui/theme.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/va_ravevada_view_model.hpp"

#include <QApplication>
#include <QTimer>
#include <QUrl>

using namespace vellico;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vellico"));
    QCoreApplication::setApplicationName(QStringLiteral("vellico-preview"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    viewmodel::texts::installTranslations(app);
    ui::applyDarkTheme(app);

    QStringList args = app.arguments().mid(1);
    QString grab;
    if (const qsizetype at = args.indexOf(QStringLiteral("--grab"));
        at >= 0 && at + 1 < args.size()) {
        grab = args.at(at + 1);
        args.remove(at, 2);
    }

    viewmodel::VARAvevadaViewModel vm(viewmodel::machineServices());
    ui::VARAvevadaView view(vm);
    view.setWindowTitle(QStringLiteral("Vellico"));
    view.show();
    if (!args.isEmpty()) {
        vm.handleDrop(QUrl::fromLocalFile(args.front()));
    }
    if (!grab.isEmpty()) {
        QTimer poll;
        int ticks = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const bool settled = vm.appState() == viewmodel::AppState::ready || vm.activeSheet() ||
                                 vm.errorMessage() || args.isEmpty();
            if ((settled && ++ticks > 5) || ticks > 600) {
                view.grab().save(grab);
                if (ui::SheetDialog* sheet = view.currentSheet()) {
                    QString sheetFile = grab;
                    sheetFile.replace(QStringLiteral(".png"), QStringLiteral("-sheet.png"));
                    sheet->grab().save(sheetFile);
                }
                app.quit();
            }
        });
        poll.start(50);
        return app.exec();
    }
    return app.exec();
}
