// The main window wired to a real view model (fakes for the platform):
// drops, the open panel, the delete button, the preset picker, the folder
// list's indicators, headers and popovers, and a sheet answered by its keys.

#include "sample_library.hpp"
#include "test_window.hpp"
#include "ui/content_view.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/drop_zone.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/group_checkbox.hpp"
#include "ui/library_open_panel.hpp"
#include "ui/sheet_dialog.hpp"
#include "ui_test_support.hpp"

#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/harness.hpp"
#include <QLineEdit>
#include <QSignalSpy>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vellico;
using namespace vellico::test;
using ui::MainWindowContent;

namespace {

using Window = TestWindow;

// Sends a drag onto the zone and, when it was accepted, drops it.
bool dragAndDrop(ui::DropZone* zone, QMimeData& data)
{
    const QPoint centre = zone->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(zone, &drop);
    return drop.isAccepted();
}

QString formatted(std::int64_t bytes)
{
    return viewmodel::byteCountFormatter().string(bytes);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { useTestSettings(); }

    void droppedLibraryReachesTheIntake();
    void textDragIsRefused();
    void openPanelTakesABundleAsOneItem();
    void openPanelTakesSeveralLibrariesTogether();
    void openPanelEntersPlainFolders();
    void openPanelChoiceReachesTheIntake();
    void deleteButtonFollowsSelectionAndShowsSize();
    void deleteButtonDisabledWhileLibraryOpenInEditor();
    void presetPickerCallsApplyPreset();
    void indicatorsNeverChangeTheSelection();
    void headerClickTogglesItsGroup();
    void popoverOpensAfterDelay();
    void popoverDoesNotOpenWhenPointerLeavesEarly();
    void skippedWarningDeletesWithoutSheet();
    void cancelStopsTheAnalysisAndGoesBackToIdle();
    void keyboardOnlyFromTheFirstScreenThroughADeletion();
};

void MainWindowTest::droppedLibraryReachesTheIntake()
{
    Window w;
    const fs::path library = w.harness.library("Film");
    QMimeData data;
    data.setUrls({urlOf(library)});
    QVERIFY(dragAndDrop(w.view->dropZone(), data));
    // Handed on with a queued call: nothing has started yet.
    QCOMPARE(w.vm->appState(), AppState::idle);
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QCOMPARE(w.vm->bundleInfo()->name, std::string("Film"));

    // Several items together go to the batch, all of them, and the single
    // window's library stays as it is.
    QSignalSpy several(w.view.get(), &ui::MainWindowContent::librariesOpened);
    const QUrl other = urlOf(w.harness.library("Autre"));
    data.setUrls({urlOf(library), other});
    QVERIFY(dragAndDrop(w.view->dropZone(), data));
    QTRY_COMPARE(several.size(), 1);
    QCOMPARE(several.front().front().value<QList<QUrl>>(), (QList<QUrl>{urlOf(library), other}));
    QTest::qWait(50);
    QCOMPARE(w.vm->appState(), AppState::ready);
    QCOMPARE(w.vm->bundleInfo()->name, std::string("Film"));
}

void MainWindowTest::textDragIsRefused()
{
    Window w;
    QMimeData data;
    data.setText(QString::fromStdString(w.harness.library("Film").string()));
    QVERIFY(!dragAndDrop(w.view->dropZone(), data));
    QVERIFY(!w.view->dropZone()->isDragOver());
    QMimeData web;
    web.setUrls({QUrl("https://example.org/Film.fcpbundle")});
    QVERIFY(!dragAndDrop(w.view->dropZone(), web));
    QTest::qWait(50);
    QCOMPARE(w.vm->appState(), AppState::idle);
    QVERIFY(!w.vm->errorMessage());
}

void MainWindowTest::openPanelTakesABundleAsOneItem()
{
    Harness h;
    const fs::path library = h.library("Film");
    QSettings().setValue("lastOpenPanelDirectory", QString::fromStdString(h.dir.path().string()));
    ui::LibraryOpenPanel panel;
    QCOMPARE(QDir(panel.directory()).canonicalPath(),
             QDir(QString::fromStdString(h.dir.path().string())).canonicalPath());
    QSignalSpy chosen(&panel, &ui::LibraryOpenPanel::librarySelected);
    panel.open();
    panel.selectFile("Film.fcpbundle");
    panel.accept();
    QCOMPARE(panel.result(), int(QDialog::Accepted));
    QVERIFY(!panel.isVisible());
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(QDir(panel.chosenUrl().toLocalFile()).canonicalPath(),
             QDir(QString::fromStdString(library.string())).canonicalPath());
    QCOMPARE(QDir(QSettings().value("lastOpenPanelDirectory").toString()).canonicalPath(),
             QDir(QString::fromStdString(h.dir.path().string())).canonicalPath());
}

void MainWindowTest::openPanelTakesSeveralLibrariesTogether()
{
    Harness h;
    h.library("Film");
    h.library("Autre");
    QSettings().setValue("lastOpenPanelDirectory", QString::fromStdString(h.dir.path().string()));
    ui::LibraryOpenPanel panel;
    QSignalSpy one(&panel, &ui::LibraryOpenPanel::librarySelected);
    QSignalSpy several(&panel, &ui::LibraryOpenPanel::librariesSelected);
    panel.open();
    auto* name = panel.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->setText(QStringLiteral("\"Film.fcpbundle\" \"Autre.fcpbundle\""));
    QCOMPARE(panel.selectedFiles().size(), 2);
    panel.accept();
    QCOMPARE(panel.result(), int(QDialog::Accepted));
    QCOMPARE(one.count(), 0);
    QCOMPARE(several.count(), 1);
    const auto urls = several.front().front().value<QList<QUrl>>();
    QCOMPARE(urls.size(), 2);
    QVERIFY(urls[0].toLocalFile().endsWith("Film.fcpbundle"));
    QVERIFY(urls[1].toLocalFile().endsWith("Autre.fcpbundle"));
}

void MainWindowTest::openPanelEntersPlainFolders()
{
    Harness h;
    fs::create_directories(h.dir.path() / "Projets");
    QSettings().setValue("lastOpenPanelDirectory", QString::fromStdString(h.dir.path().string()));
    ui::LibraryOpenPanel panel;
    QSignalSpy chosen(&panel, &ui::LibraryOpenPanel::librarySelected);
    panel.open();
    panel.selectFile("Projets");
    panel.accept();
    QVERIFY(panel.isVisible());
    QCOMPARE(chosen.count(), 0);
    QVERIFY(panel.directory().absolutePath().endsWith("/Projets"));
    QVERIFY(panel.chosenUrl().isEmpty());
    panel.reject();
    // A cancelled panel remembers nothing new.
    QVERIFY(!QSettings().value("lastOpenPanelDirectory").toString().endsWith("/Projets"));
}

void MainWindowTest::openPanelChoiceReachesTheIntake()
{
    Window w;
    w.harness.library("Film");
    QSettings().setValue("lastOpenPanelDirectory",
                         QString::fromStdString(w.harness.dir.path().string()));
    QTest::mouseClick(w.view->dropZone(), Qt::LeftButton);
    ui::LibraryOpenPanel* panel = w.view->openPanel();
    QVERIFY(panel);
    QVERIFY(panel->isVisible());
    panel->selectFile("Film.fcpbundle");
    panel->accept();
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QCOMPARE(w.vm->bundleInfo()->name, std::string("Film"));
}

void MainWindowTest::deleteButtonFollowsSelectionAndShowsSize()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    QPushButton* button = w.view->deleteButton();
    QVERIFY(button->isVisible());
    QVERIFY(!w.vm->selectedFolders().empty());
    QVERIFY(button->isEnabled());
    QVERIFY(w.vm->selectedSize() > 0);
    QVERIFY2(button->text().contains(formatted(w.vm->selectedSize())), qPrintable(button->text()));

    // A library holding none of the "in progress" folders: nothing selected.
    tools::LibraryBuilder builder(w.harness.dir / "Analyses.fcpbundle");
    builder.event("Event A", {"Analysis Files"}, 4096);
    QVERIFY(w.analyse(builder.path()));
    QVERIFY(waitUntil([&] { return w.vm->bundleInfo()->name == "Analyses"; }));
    QVERIFY(w.vm->selectedFolders().empty());
    QVERIFY(!button->isEnabled());
    QVERIFY2(button->text().contains(formatted(0)), qPrintable(button->text()));
}

void MainWindowTest::deleteButtonDisabledWhileLibraryOpenInEditor()
{
    Window w;
    const fs::path library = w.harness.library("Film");
    EditorHold editor(library);
    w.vm->handleDrop(urlOf(library));
    QVERIFY(waitUntil([&] { return w.view->currentSheet() != nullptr; }));
    QCOMPARE(w.vm->activeSheet(), std::optional(ActiveSheet::fcpLocked));
    // Escape cancels; Return analyses anyway.
    QTest::keyClick(w.view->currentSheet(), Qt::Key_Escape);
    QVERIFY(waitUntil([&] { return !w.vm->activeSheet(); }));
    QCOMPARE(w.vm->appState(), AppState::idle);
    w.vm->handleDrop(urlOf(library));
    QVERIFY(waitUntil([&] { return w.view->currentSheet() != nullptr; }));
    QTest::keyClick(w.view->currentSheet(), Qt::Key_Return);
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QVERIFY(w.vm->isFCPLocked());
    QVERIFY(!w.vm->selectedFolders().empty());
    QVERIFY(!w.view->deleteButton()->isEnabled());
    QVERIFY(w.view->resetButton()->isEnabled());
}

void MainWindowTest::presetPickerCallsApplyPreset()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    const auto before = w.vm->selectedFolders();
    QPushButton* done = w.view->presetButton(model::EditingPreset::done);
    QVERIFY(!done->isChecked());
    QTest::mouseClick(done, Qt::LeftButton);
    QCOMPARE(w.vm->selectedPreset(), model::EditingPreset::done);
    QVERIFY(w.vm->selectedFolders().size() > before.size());
    QVERIFY(done->isChecked());
    QVERIFY(w.view->deleteButton()->text().contains(formatted(w.vm->selectedSize())));
    QTest::mouseClick(w.view->presetButton(model::EditingPreset::inProgress), Qt::LeftButton);
    QCOMPARE(w.vm->selectedPreset(), model::EditingPreset::inProgress);
    QCOMPARE(w.vm->selectedFolders(), before);
}

void MainWindowTest::indicatorsNeverChangeTheSelection()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    const auto before = w.vm->selectedFolders();
    ui::GroupCheckbox* indicator = list->groupCheckbox("Event A");
    QVERIFY(indicator);
    QCOMPARE(indicator->state(), model::CheckState::partial);
    QTest::mouseClick(indicator, Qt::LeftButton);
    QCOMPARE(w.vm->selectedFolders(), before);
    QVERIFY(!list->isExpanded("Event A")); // the click did not reach the header either
    // The indicators follow a preset change at once.
    w.vm->applyPreset(model::EditingPreset::done);
    QCOMPARE(indicator->state(), model::CheckState::all);
}

void MainWindowTest::headerClickTogglesItsGroup()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    QWidget* header = list->groupHeader("Event A");
    QVERIFY(header);
    QVERIFY(list->expandedGroups().isEmpty());
    const QPoint onTheLabel(header->width() / 2, header->height() / 2);
    QTest::mouseClick(header, Qt::LeftButton, {}, onTheLabel);
    QVERIFY(list->isExpanded("Event A"));
    QTest::mouseClick(header, Qt::LeftButton, {}, onTheLabel);
    QVERIFY(!list->isExpanded("Event A"));
    QTest::mouseClick(header, Qt::LeftButton, {}, onTheLabel);
    QVERIFY(list->isExpanded("Event A"));
    // A new analysis shows the list anew, every group collapsed.
    QVERIFY(w.analyse(w.harness.library("Autre")));
    QVERIFY(waitUntil([&] { return list->groupHeader("Event A") != nullptr; }));
    QVERIFY(list->expandedGroups().isEmpty());
}

void MainWindowTest::popoverOpensAfterDelay()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    // The group outside events holds one kind of folder: it has a popover.
    QWidget* header = list->groupHeader("__root__");
    QVERIFY(header);
    w.enterWindow();
    QTest::mouseMove(header, header->rect().center());
    QVERIFY(list->popover().isPending());
    QTest::qWait(120);
    QVERIFY(!list->popover().hoveredTooltip());
    QVERIFY(waitUntil([&] { return list->popover().hoveredTooltip().has_value(); }, 1000));
    QCOMPARE(*list->popover().hoveredTooltip(), QString("__root__"));
    QVERIFY(list->popover().window()->isVisible());
    // Leaving closes it.
    QTest::mouseMove(w.view->dropZone(), w.view->dropZone()->rect().center());
    QVERIFY(!list->popover().hoveredTooltip());
    QVERIFY(!list->popover().window()->isVisible());
}

void MainWindowTest::popoverDoesNotOpenWhenPointerLeavesEarly()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    QWidget* header = list->groupHeader("__root__");
    w.enterWindow();
    QTest::mouseMove(header, header->rect().center());
    QTest::qWait(100);
    QVERIFY(list->popover().isPending());
    QTest::mouseMove(w.view->dropZone(), w.view->dropZone()->rect().center());
    QTest::qWait(400);
    QVERIFY(!list->popover().hoveredTooltip());
    QVERIFY(!list->popover().window() || !list->popover().window()->isVisible());
}

void MainWindowTest::skippedWarningDeletesWithoutSheet()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    QTest::mouseClick(w.view->deleteButton(), Qt::LeftButton);
    QCOMPARE(w.vm->activeSheet(), std::optional(ActiveSheet::warning));
    auto* sheet = qobject_cast<ui::DeleteWarningSheet*>(w.view->currentSheet());
    QVERIFY(sheet);
    sheet->skipToggle()->click();
    QTest::keyClick(sheet, Qt::Key_Return); // no default button: nothing happens
    QCOMPARE(w.vm->appState(), AppState::ready);
    QTest::keyClick(sheet, Qt::Key_Escape, Qt::ControlModifier);
    QVERIFY(!w.vm->activeSheet());
    QVERIFY(waitUntil([&] { return w.view->currentSheet() == nullptr; }));
    QCOMPARE(w.vm->appState(), AppState::ready);
    // The next delete runs at once.
    QTest::mouseClick(w.view->deleteButton(), Qt::LeftButton);
    QVERIFY(!w.vm->activeSheet());
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::done; }));
    QVERIFY(w.vm->freedSpace() > 0);
}

// The analysing state's "Annuler" (Ctrl+Esc) stops the running analysis's
// walk and brings the window back to idle.
void MainWindowTest::cancelStopsTheAnalysisAndGoesBackToIdle()
{
    Window w(Window::Opening::later);
    auto sawStop = std::make_shared<std::atomic<bool>>(false);
    auto base = w.harness.analyzer;
    w.harness.analyzer = [=](platform::UniqueFd fd, const fs::path& bundle, bool alias,
                             const analysis::ProgressSink& progress,
                             const platform::WalkControl& walk) {
        for (int i = 0; i < 500 && !walk.stop->stopRequested(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        *sawStop = walk.stop->stopRequested();
        return base(std::move(fd), bundle, alias, progress, walk);
    };
    w.open();
    QVERIFY(QTest::qWaitForWindowActive(w.view.get())); // window shortcuts need it
    w.vm->handleDrop(urlOf(w.harness.library("Film")));
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::analyzing; }));
    auto* cancel = w.view->findChild<QPushButton*>(QStringLiteral("cancelAnalysis"));
    QVERIFY(cancel != nullptr);
    QVERIFY(waitUntil([&] { return cancel->isVisible(); }));
    QCOMPARE(cancel->text(), QStringLiteral("Annuler"));

    QTest::keyClick(w.view.get(), Qt::Key_Escape, Qt::ControlModifier);
    // A button's shortcut clicks it after a short animation.
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::idle; }));
    QVERIFY(waitUntil([&] { return sawStop->load(); }));
    QVERIFY(!w.vm->bundleInfo());
}

// The whole road with the keys Tab, the arrows, Space, Return and Escape
// only: the panel, the analysis, the presets, the warning (Return does not
// confirm it, Space does) and the result, which takes the focus.
void MainWindowTest::keyboardOnlyFromTheFirstScreenThroughADeletion()
{
    Window w;
    const fs::path film = w.harness.library("Film");
    QSettings().setValue("lastOpenPanelDirectory",
                         QString::fromStdString(w.harness.dir.path().string()));
    // The offscreen platform does not hand the activation back to the window
    // when the panel closes, as a desktop does: done here.
    const auto tabTo = [&w](QWidget* target) {
        if (!QApplication::focusWidget()) {
            w.view->activateWindow();
            QTest::qWait(50);
        }
        for (int step = 0;
             step < 30 && QApplication::focusWidget() && QApplication::focusWidget() != target;
             ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        return QApplication::focusWidget() == target;
    };
    w.view->activateWindow();
    w.view->setFocus();
    QTest::keyClick(w.view.get(), Qt::Key_Tab);
    QVERIFY(tabTo(w.view->dropZone()));
    QTest::keyClick(w.view->dropZone(), Qt::Key_Space);
    ui::LibraryOpenPanel* panel = w.view->openPanel();
    QVERIFY(panel);
    QTRY_VERIFY(panel->isVisible() && panel->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClicks(QApplication::focusWidget(), "Film.fcpbundle");
    // The name's completion list may take the first Return.
    for (int press = 0; press < 3 && w.view->openPanel() && w.view->openPanel()->isVisible() &&
                        QApplication::focusWidget();
         ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::qWait(100);
    }
    QVERIFY2(waitUntil([&] { return w.vm->appState() == AppState::ready; }, 3000),
             qPrintable(w.view->openPanel()
                            ? w.view->openPanel()->directory().path() + " | " +
                                  w.view->openPanel()->selectedFiles().join(",") + " | " +
                                  QApplication::focusWidget()->objectName() + " | " +
                                  QApplication::focusWidget()->property("text").toString()
                            : QStringLiteral("no panel")));

    // The other preset, by the arrow keys, then back: Return on a focused
    // choice chooses it as well.
    QVERIFY(tabTo(w.view->presetButton(model::EditingPreset::inProgress)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), w.view->presetButton(model::EditingPreset::done));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(w.vm->selectedPreset(), model::EditingPreset::done);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(w.vm->selectedPreset(), model::EditingPreset::inProgress);

    // Return on the delete button opens the warning, which starts on
    // "Annuler"; Escape closes it.
    QVERIFY(tabTo(w.view->deleteButton()));
    QTest::keyClick(w.view->deleteButton(), Qt::Key_Return);
    QTRY_VERIFY(w.view->currentSheet() && w.view->currentSheet()->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(),
                 static_cast<QWidget*>(w.view->currentSheet()->cancelButton()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!w.view->currentSheet());
    QCOMPARE(w.vm->appState(), AppState::ready);

    QVERIFY(tabTo(w.view->deleteButton()));
    QTest::keyClick(w.view->deleteButton(), Qt::Key_Return);
    QTRY_VERIFY(w.view->currentSheet() && w.view->currentSheet()->isVisible());
    QTRY_VERIFY(QApplication::focusWidget() == w.view->currentSheet()->cancelButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    auto* remove = qobject_cast<QPushButton*>(QApplication::focusWidget());
    QVERIFY(remove && remove->text() == "Supprimer");
    QTest::keyClick(remove, Qt::Key_Return); // never confirms
    QCOMPARE(w.vm->appState(), AppState::ready);
    QTest::keyClick(remove, Qt::Key_Space);
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::done; }));
    QVERIFY(!fs::exists(film / "Event A" / "Render Files"));
    // The window's focus is on the result (the sheet that held the active
    // focus is gone, and offscreen nothing activates the window again).
    QTRY_COMPARE(w.view->focusWidget(), w.view->resultCard());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
