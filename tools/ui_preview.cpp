// Shows the main window's content on its own, for looking at it before the
// application shell exists:
//   ui-preview [LIBRARY] [--grab OUT.png] [--then warning|delete|focus|dismiss]
//   ui-preview --panel FOLDER/ITEM --grab OUT.png
// With a library, drops it at start. With --grab, waits until the intake has
// settled (ready, a sheet or an error), saves the window (and the sheet, as
// OUT-sheet.png) and quits. With --then, once ready it presses the delete
// button (warning: the confirmation sheet is grabbed) or deletes at once
// (delete: the deleting card is grabbed as OUT-deleting.png, the result as
// OUT.png); focus: the keyboard focus is put on the first folder group;
// dismiss: the sheet that follows the analysis (the external cache's) is
// closed and the ready window grabbed.
// With --panel, the open panel starts in FOLDER with ITEM selected and the
// panel is grabbed.
//   ui-preview --batch LIBRARY... --grab OUT.png [--then warning|delete]
// shows the batch of those libraries once analysed (warning: with the
// confirmation, grabbed as OUT-sheet.png; delete: after the deletion).
// scripts/screenshots drives it under Xvfb.

#include "analysis/machine_analysis.hpp"
#include "ui/batch_view.hpp"
#include "ui/content_view.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/library_open_panel.hpp"
#include "ui/sheet_dialog.hpp"
#include "ui/theme.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/texts.hpp"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUrl>

using namespace vellico;

namespace {

int previewBatch(QApplication& app, const QStringList& libraries, const QString& grab,
                 const QString& then)
{
    viewmodel::BatchViewModel vm(
        viewmodel::machineBatchServices(std::make_shared<const analysis::MachineAnalysis>()));
    ui::BatchView view(vm);
    view.setWindowTitle(QStringLiteral("Vellico"));
    view.resize(760, 590);
    view.show();
    vm.addLibraries(libraries);
    QTimer poll;
    int ticks = 0;
    bool acted = false;
    using Phase = viewmodel::BatchViewModel::Phase;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool ready = vm.phase() == Phase::ready;
        if (ready && !acted && !then.isEmpty() && ++ticks > 5) {
            acted = true;
            ticks = 0;
            if (then == QStringLiteral("warning")) {
                view.deleteButton()->click();
            } else {
                vm.startDeletion();
            }
            return;
        }
        const bool settled = then.isEmpty()                      ? ready
                             : then == QStringLiteral("warning") ? acted && view.warning()
                                                                 : vm.phase() == Phase::done;
        if ((settled && ++ticks > 5) || ticks > 600) {
            if (!grab.isEmpty()) {
                view.grab().save(grab);
                if (view.warning()) {
                    QString sheet = grab;
                    view.warning()->grab().save(
                        sheet.replace(QStringLiteral(".png"), QStringLiteral("-sheet.png")));
                }
            }
            app.quit();
        }
    });
    poll.start(50);
    return app.exec();
}

} // namespace

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

    QString then;
    if (const qsizetype at = args.indexOf(QStringLiteral("--then"));
        at >= 0 && at + 1 < args.size()) {
        then = args.at(at + 1);
        args.remove(at, 2);
    }

    QString panelItem;
    if (const qsizetype at = args.indexOf(QStringLiteral("--panel"));
        at >= 0 && at + 1 < args.size()) {
        panelItem = args.at(at + 1);
        args.remove(at, 2);
    }

    if (!args.isEmpty() && args.front() == QStringLiteral("--batch")) {
        return previewBatch(app, args.mid(1), grab, then);
    }

    viewmodel::MainViewModel vm(viewmodel::machineServices());
    ui::MainWindowContent view(vm);
    view.setWindowTitle(QStringLiteral("Vellico"));
    view.show();
    if (!panelItem.isEmpty()) {
        const QFileInfo item(panelItem);
        QSettings().setValue(QLatin1String(ui::LibraryOpenPanel::directoryKey), item.path());
        view.showOpenPanel();
        ui::LibraryOpenPanel* panel = view.openPanel();
        panel->selectFile(item.fileName());
        QTimer::singleShot(1500, &app, [&] {
            if (!grab.isEmpty()) {
                panel->grab().save(grab);
            }
            app.quit();
        });
        return app.exec();
    }
    if (!args.isEmpty()) {
        vm.handleDrop(QUrl::fromLocalFile(args.front()));
    }
    if (!grab.isEmpty()) {
        auto save = [&](const QString& file) {
            view.grab().save(file);
            if (ui::SheetDialog* sheet = view.currentSheet()) {
                QString sheetFile = file;
                sheetFile.replace(QStringLiteral(".png"), QStringLiteral("-sheet.png"));
                sheet->grab().save(sheetFile);
            }
        };
        QObject::connect(&vm, &viewmodel::MainViewModel::appStateChanged, &view, [&] {
            if (vm.appState() == viewmodel::AppState::deleting) {
                // The card was built a moment ago: lay it out before the
                // grab, or the picture shows it half placed. Only layout
                // requests run here, so the deletion cannot end meanwhile.
                for (int pass = 0; pass < 4; ++pass) {
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                }
                QString file = grab;
                save(file.replace(QStringLiteral(".png"), QStringLiteral("-deleting.png")));
            }
        });
        QTimer poll;
        int ticks = 0;
        bool acted = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (then == QStringLiteral("dismiss") && !acted &&
                vm.appState() == viewmodel::AppState::ready && vm.activeSheet()) {
                acted = true;
                vm.dismissSheet();
                return;
            }
            const bool ready = vm.appState() == viewmodel::AppState::ready && !vm.activeSheet();
            if (!then.isEmpty() && then != QStringLiteral("dismiss") && !acted && ready &&
                ++ticks > 5) {
                acted = true;
                ticks = 0;
                if (then == QStringLiteral("warning")) {
                    view.deleteButton()->click();
                } else if (then == QStringLiteral("focus")) {
                    view.activateWindow();
                    view.folderList()->focusChain().front()->setFocus(Qt::TabFocusReason);
                } else {
                    vm.startDeletion();
                }
                return;
            }
            const bool settled =
                then.isEmpty() ? (ready || vm.activeSheet() || vm.errorMessage() || args.isEmpty())
                : then == QStringLiteral("warning") ? acted && vm.activeSheet().has_value()
                : then == QStringLiteral("focus")   ? acted
                : then == QStringLiteral("dismiss") ? acted && ready
                                                    : vm.appState() == viewmodel::AppState::done;
            if ((settled && ++ticks > 5) || ticks > 600) {
                save(grab);
                app.quit();
            }
        });
        poll.start(50);
        return app.exec();
    }
    return app.exec();
}
