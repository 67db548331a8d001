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

#include <QCheckBox>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vellico;
using namespace vellico::test;
using ui::VARAvevadaView;

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
};

void MainWindowTest::droppedLibraryReachesTheIntake()
{
    Window w;
    const fs::path library = w.harness.library("Film");
    QMimeData data;
    data.setUrls({urlOf(library), urlOf(w.harness.library("Autre"))});
    QVERIFY(dragAndDrop(w.view->dropZone(), data));
    // Handed on with a queued call: nothing has started yet.
    QCOMPARE(w.vm->appState(), AppState::idle);
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::ready; }));
    QCOMPARE(w.vm->bundleInfo()->name, std::string("Film")); // the first item only
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
    // Plain Escape answers nothing; Return analyses anyway.
    QTest::keyClick(w.view->currentSheet(), Qt::Key_Escape);
    QCOMPARE(w.vm->activeSheet(), std::optional(ActiveSheet::fcpLocked));
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
    QVERIFY(!indicator->isEnabled());
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
    w.harness.analyzer = [=](const fs::path& bundle, bool alias,
                             const analysis::ProgressSink& progress,
                             const platform::WalkControl& walk) {
        for (int i = 0; i < 500 && !walk.stop->stopRequested(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        *sawStop = walk.stop->stopRequested();
        return base(bundle, alias, progress, walk);
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
