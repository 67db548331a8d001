// The batch view: its rows (names, sizes, states, what assistive tools
// read), the totals, the preset for every library, the keyboard (one Tab
// stop, arrows, a row opened on its folders, a key for every action) and
// the confirmation with the batch's totals.

#include "analysis/library_intake.hpp"
#include "ui/batch_view.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/group_checkbox.hpp"
#include "ui_test_support.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/texts.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>

using namespace vellico;
using viewmodel::BatchRowState;
using viewmodel::BatchViewModel;
using Phase = BatchViewModel::Phase;

namespace {

namespace fs = std::filesystem;

// Sizes of the fake libraries' Render Files and Transcoded Media, by name;
// "Locked" is refused as marked locked.
std::int64_t renderBytes(const std::string& name)
{
    return name == "Big" ? 5'000'000 : 1'000'000;
}

viewmodel::BatchServices fakeServices()
{
    viewmodel::BatchServices services;
    services.collect = [](const std::vector<std::string>& paths, bool, const platform::WalkControl&,
                          std::atomic<std::uint64_t>*, const analysis::LibraryFound&) {
        analysis::BatchInputs inputs;
        for (const std::string& path : paths) {
            inputs.libraries.push_back({path, nullptr, {}, {}});
        }
        return inputs;
    };
    services.takeIn = [](const analysis::BatchInput& input, analysis::IntakeQuestions&,
                         analysis::BatchScope&, const platform::WalkControl&) {
        analysis::IntakeOutcome outcome;
        const fs::path path(input.path);
        if (path.stem() == "Locked") {
            outcome.refusal =
                analysis::Refusal{input.path,
                                  path,
                                  analysis::messageKey(analysis::IntakeError::Kind::locked),
                                  {"Locked"}};
            return outcome;
        }
        analysis::ReadyLibrary ready;
        ready.bundle = platform::UniqueFd(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ready.url = path;
        outcome.library = std::move(ready);
        return outcome;
    };
    services.analyze = [](platform::UniqueFd, const fs::path& url, bool,
                          const analysis::ProgressSink&, const platform::WalkControl&) {
        model::BundleInfo info;
        info.url = url;
        info.name = url.stem().string();
        const std::int64_t render = renderBytes(info.name);
        info.totalSize = render + 2'000'000 + 100;
        model::FoundFolder renderFiles;
        renderFiles.url = url / "Event" / "Render Files";
        renderFiles.name = "Render Files";
        renderFiles.parentName = "Event";
        renderFiles.size = render;
        model::FoundFolder transcoded = renderFiles;
        transcoded.id = model::Uuid::quick();
        transcoded.url = url / "Event" / "Transcoded Media";
        transcoded.name = "Transcoded Media";
        transcoded.size = 2'000'000;
        info.foundFolders = {renderFiles, transcoded};
        return info;
    };
    return services;
}

} // namespace

class BatchViewTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        test::useTestSettings();
        viewmodel::texts::installTranslations(*QCoreApplication::instance());
    }
    void init() { QSettings().clear(); }

    void rowsShowNamesSizesAndStatesSortedByGain();
    void keyboardMovesOpensAndActs();
    void keyboardGoesIntoAnOpenRowsFolderListAndBack();
    void confirmationCarriesTheBatchTotalsAndSkipIsKept();
    void anOpenRowHoldsTheSingleWindowsFolderList();
};

namespace {

struct Fixture {
    Fixture()
    {
        vm.addLibraries(
            {"/nowhere/Small.fcpbundle", "/nowhere/Locked.fcpbundle", "/nowhere/Big.fcpbundle"});
        view.resize(700, 500);
        view.show();
    }
    BatchViewModel vm{fakeServices()};
    ui::BatchView view{vm};
};

} // namespace

void BatchViewTest::rowsShowNamesSizesAndStatesSortedByGain()
{
    Fixture f;
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    QTreeWidget* list = f.view.list();
    QCOMPARE(list->topLevelItemCount(), 3);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Big"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Small"));
    QCOMPARE(list->topLevelItem(2)->text(0), QStringLiteral("Locked"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("/nowhere"));
    QVERIFY(!list->topLevelItem(0)->text(3).isEmpty());
    QVERIFY(list->topLevelItem(2)->text(3).isEmpty()); // not counted
    QCOMPARE(list->topLevelItem(2)->text(4), QStringLiteral("Verrouillée"));
    // What a screen reader reads: name, sizes and state.
    const QString spoken = list->topLevelItem(0)->data(0, Qt::AccessibleTextRole).toString();
    QVERIFY2(spoken.startsWith("Big — ") && spoken.endsWith(QStringLiteral("Prête")),
             qPrintable(spoken));
    // The totals leave the locked library out.
    QVERIFY2(f.view.totals()->text().startsWith(QStringLiteral("2 ")),
             qPrintable(f.view.totals()->text()));
    QCOMPARE(f.view.totals()->accessibleName(), f.view.totals()->text());
    QVERIFY(f.view.deleteButton()->isEnabled());

    // One library: the count takes its singular form.
    f.vm.clear();
    f.vm.addLibraries({"/nowhere/Small.fcpbundle"});
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    QVERIFY2(f.view.totals()->text().startsWith(QStringLiteral("1 bibliothèque à nettoyer — ")),
             qPrintable(f.view.totals()->text()));
}

void BatchViewTest::keyboardMovesOpensAndActs()
{
    Fixture f;
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    QTreeWidget* list = f.view.list();
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    QVERIFY(list->currentItem() != nullptr);
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentItem(), list->topLevelItem(1));
    // Right opens the row on its folder list; Left closes it.
    QTest::keyClick(list, Qt::Key_Right);
    QVERIFY(list->topLevelItem(1)->isExpanded());
    const int id = f.vm.rows()[1].id;
    QVERIFY(f.view.folderList(id) != nullptr);
    QVERIFY(f.view.folderList(id)->groupHeader(QStringLiteral("Event")) != nullptr);
    QTest::keyClick(list, Qt::Key_Left);
    QVERIFY(!list->topLevelItem(1)->isExpanded());
    // The list is one Tab stop: Tab leaves it.
    QTest::keyClick(list, Qt::Key_Tab);
    QVERIFY(!list->hasFocus());

    // Ctrl+2 chooses the second preset for every library: more is reclaimable.
    f.view.activateWindow();
    QTRY_VERIFY(f.view.isActiveWindow());
    const qint64 before = f.vm.totalReclaimable();
    QTest::keyClick(&f.view, Qt::Key_2, Qt::ControlModifier);
    QCOMPARE(f.vm.preset(), model::allEditingPresets[1]);
    QCOMPARE(f.view.presetPicker()->currentIndex(), 1);
    QVERIFY(f.vm.totalReclaimable() > before);
    QTest::keyClick(&f.view, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(f.vm.totalReclaimable(), before);
    QCOMPARE(f.view.deleteButton()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    QCOMPARE(f.view.cancelButton()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Escape));
    QCOMPARE(f.view.clearButton()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
}

void BatchViewTest::keyboardGoesIntoAnOpenRowsFolderListAndBack()
{
    Fixture f;
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    f.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.view));
    QTreeWidget* list = f.view.list();
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    QTreeWidgetItem* big = f.view.item(f.vm.rows()[0].id);
    QTreeWidgetItem* small = f.view.item(f.vm.rows()[1].id);
    list->setCurrentItem(big);
    // Keys go where the focus is, as a person's would.
    const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keyClick(focus, key, modifiers);
    };

    // Right opens the row; Down goes into its folder list, on the first group.
    press(Qt::Key_Right);
    QVERIFY(big->isExpanded());
    ui::FolderListView* folders = f.view.folderList(f.vm.rows()[0].id);
    QVERIFY(folders);
    QWidget* event = folders->groupHeader(QStringLiteral("Event"));
    const viewmodel::BatchRow& bigRow = f.vm.rows()[0];
    QWidget* render =
        folders->folderRow(QString::fromStdString(bigRow.info->foundFolders[0].id.toString()));
    QWidget* transcoded =
        folders->folderRow(QString::fromStdString(bigRow.info->foundFolders[1].id.toString()));
    press(Qt::Key_Down);
    QVERIFY(event->hasFocus());
    QCOMPARE(list->currentItem(), big); // the row whose folders have the focus

    // Inside: Right opens the group, the arrows walk its folders.
    press(Qt::Key_Right);
    QVERIFY(folders->isExpanded(QStringLiteral("Event")));
    press(Qt::Key_Down);
    QVERIFY(render->hasFocus());
    press(Qt::Key_Down);
    QVERIFY(transcoded->hasFocus());
    QCOMPARE(list->currentItem(), big);
    // A letter does not move the list behind (its type-ahead would pick "Small").
    press(Qt::Key_S);
    QVERIFY(transcoded->hasFocus());
    QCOMPARE(list->currentItem(), big);

    // Down on the last folder goes on to the next row, in the list.
    press(Qt::Key_Down);
    QVERIFY(list->hasFocus());
    QCOMPARE(list->currentItem(), small);
    // Up from there comes back into the folder list, on its last folder.
    press(Qt::Key_Up);
    QVERIFY(transcoded->hasFocus());
    QCOMPARE(list->currentItem(), big);
    press(Qt::Key_Up);
    press(Qt::Key_Up);
    QVERIFY(event->hasFocus());
    // Up on the first item goes back to the row.
    press(Qt::Key_Up);
    QVERIFY(list->hasFocus());
    QCOMPARE(list->currentItem(), big);

    // Esc, and Left on a closed group, go back to the row as well.
    press(Qt::Key_Down);
    QVERIFY(event->hasFocus());
    press(Qt::Key_Escape);
    QVERIFY(list->hasFocus());
    QCOMPARE(list->currentItem(), big);
    press(Qt::Key_Down);
    press(Qt::Key_Left); // closes the group
    QVERIFY(!folders->isExpanded(QStringLiteral("Event")));
    QVERIFY(event->hasFocus());
    press(Qt::Key_Left);
    QVERIFY(list->hasFocus());
    QCOMPARE(list->currentItem(), big);

    // The list and its folder lists are one Tab stop: Tab from inside a
    // folder list leaves them all, Shift+Tab comes back to the list.
    press(Qt::Key_Down);
    QVERIFY(event->hasFocus());
    press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.view.clearButton());
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QVERIFY(list->hasFocus());
    QCOMPARE(list->currentItem(), big);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), f.view.presetPicker());
    // And Tab never stops inside a folder list on its way round.
    for (int i = 0; i < 8; ++i) {
        press(Qt::Key_Tab);
        QVERIFY(!folders->isAncestorOf(QApplication::focusWidget()));
    }
}

void BatchViewTest::confirmationCarriesTheBatchTotalsAndSkipIsKept()
{
    Fixture f;
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    f.view.deleteButton()->click();
    ui::DeleteWarningSheet* warning = f.view.warning();
    QVERIFY(warning);
    bool named = false;
    for (const QLabel* label : warning->findChildren<QLabel*>()) {
        named = named || label->text().contains(QStringLiteral("de 2 bibliothèques (2 dossiers)"));
    }
    QVERIFY(named);
    warning->skipToggle()->setChecked(true);
    QVERIFY(QSettings().value(QLatin1String(ui::DeleteWarningSheet::skipKey)).toBool());
    emit warning->cancelled();
    QTRY_VERIFY(!f.view.warning());
    QCOMPARE(f.vm.phase(), Phase::ready);

    // With "Ne plus demander", the button deletes at once. These libraries do
    // not exist: each one ends as not done, with its reason.
    f.view.deleteButton()->click();
    QVERIFY(!f.view.warning());
    QTRY_COMPARE(f.vm.phase(), Phase::done);
    for (const viewmodel::BatchRow& row : f.vm.rows()) {
        if (row.name != QStringLiteral("Locked")) {
            QCOMPARE(row.state, BatchRowState::skipped);
            QVERIFY(!row.detail.isEmpty());
        }
    }
    QVERIFY(f.view.status()->text().startsWith(QStringLiteral("Terminé")));
    // The totals now say what the run did, not what was left to do.
    QVERIFY2(f.view.totals()->text().startsWith(
                 QStringLiteral("2 bibliothèques traitées — Zéro Ko libérés")),
             qPrintable(f.view.totals()->text()));
    QVERIFY(!f.view.deleteButton()->isEnabled());
}

void BatchViewTest::anOpenRowHoldsTheSingleWindowsFolderList()
{
    Fixture f;
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    const viewmodel::BatchRow& big = f.vm.rows().front();
    QCOMPARE(big.name, QStringLiteral("Big"));
    const int id = big.id;
    const QString render = QString::fromStdString(big.info->foundFolders[0].id.toString());
    const QString transcoded = QString::fromStdString(big.info->foundFolders[1].id.toString());
    QVERIFY(f.view.folderList(id) == nullptr); // made when the row is opened
    f.view.item(id)->setExpanded(true);
    ui::FolderListView* folders = f.view.folderList(id);
    QVERIFY(folders);
    QTRY_VERIFY(folders->isVisible());

    // The marks show the preset's selection: the render files, not the media.
    const auto markOf = [&](const QString& key) { return folders->folderCheckbox(key)->state(); };
    QCOMPARE(markOf(render), model::CheckState::all);
    QCOMPARE(markOf(transcoded), model::CheckState::none);
    QCOMPARE(folders->groupCheckbox(QStringLiteral("Event"))->state(), model::CheckState::partial);

    // A click on a mark changes nothing, as in the single window.
    const qint64 rowBefore = f.vm.row(id)->reclaimable;
    const qint64 totalBefore = f.vm.totalReclaimable();
    folders->toggleGroup(QStringLiteral("Event"));
    QTest::mouseClick(folders->folderCheckbox(transcoded), Qt::LeftButton);
    QCOMPARE(markOf(transcoded), model::CheckState::none);
    QCOMPARE(f.vm.row(id)->reclaimable, rowBefore);
    QCOMPARE(f.vm.totalReclaimable(), totalBefore);

    // The open group makes the row taller, and the list with it: its
    // headers and folders keep their height.
    QTreeWidgetItem* holder = f.view.item(id)->child(0);
    QTRY_VERIFY(f.view.list()->visualItemRect(holder).height() >= folders->sizeHint().height() &&
                folders->sizeHint().height() > folders->groupHeader("Event")->height() * 2);
    QTRY_VERIFY(folders->folderRow(render)->height() >=
                    folders->folderRow(render)->minimumSizeHint().height() &&
                folders->height() == f.view.list()->visualItemRect(holder).height());

    // The preset of every library: the same list follows, with its group
    // still open, and so do the row's size and the batch's total.
    f.vm.applyPreset(model::EditingPreset::done);
    QCOMPARE(f.view.folderList(id), folders);
    QVERIFY(folders->isExpanded(QStringLiteral("Event")));
    QCOMPARE(markOf(transcoded), model::CheckState::all);
    QCOMPARE(folders->groupCheckbox(QStringLiteral("Event"))->state(), model::CheckState::all);
    QCOMPARE(f.vm.row(id)->reclaimable, rowBefore + 2'000'000);
    QCOMPARE(f.view.item(id)->text(3),
             viewmodel::byteCountFormatter().string(rowBefore + 2'000'000));
    QCOMPARE(f.vm.totalReclaimable(), totalBefore + 2 * 2'000'000); // Big and Small

    // A new row rebuilds the list: the row and its group stay open.
    f.vm.addLibraries({"/nowhere/Third.fcpbundle"});
    QTRY_COMPARE(f.vm.rows().size(), std::size_t(4));
    QTRY_COMPARE(f.vm.phase(), Phase::ready);
    QVERIFY(f.view.item(id)->isExpanded());
    QVERIFY(f.view.folderList(id) != nullptr);
    QVERIFY(f.view.folderList(id)->isExpanded(QStringLiteral("Event")));
    QCOMPARE(f.view.folderList(id)->folderCheckbox(transcoded)->state(), model::CheckState::all);
}

QTEST_MAIN(BatchViewTest)
#include "batch_view_test.moc"
