// What a keyboard and a screen reader get from the window: the roles, names
// and states of the folder list, the presets, the delete button and the
// sheets, as Qt's accessibility layer hands them to AT-SPI; the focus order
// and a visible focus on every control that takes it.

#include "test_window.hpp"
#include "ui/alias_sheet.hpp"
#include "ui/backup_sheet.hpp"
#include "ui/cache_info_sheet.hpp"
#include "ui/content_view.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/drop_zone.hpp"
#include "ui/fcp_locked_sheet.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/group_checkbox.hpp"
#include "ui/icloud_sheet.hpp"
#include "ui/missing_cache_sheet.hpp"
#include "ui/theme.hpp"
#include "ui_test_support.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/harness.hpp"

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

#include <cmath>

using namespace vellico;
using namespace vellico::test;

namespace {

using Window = TestWindow;

QAccessibleInterface* accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString nameOf(QObject* object)
{
    return accessible(object)->text(QAccessible::Name);
}

// "checked", "mixed" or "unchecked", and "checkable" must be set.
QString checkOf(QObject* object)
{
    const QAccessible::State state = accessible(object)->state();
    if (!state.checkable) {
        return QStringLiteral("not checkable");
    }
    if (state.checkStateMixed) {
        return state.checked ? QStringLiteral("checked and mixed") : QStringLiteral("mixed");
    }
    return state.checked ? QStringLiteral("checked") : QStringLiteral("unchecked");
}

QString expansionOf(QObject* object)
{
    const QAccessible::State state = accessible(object)->state();
    if (!state.expandable) {
        return QStringLiteral("not expandable");
    }
    if (state.expanded == state.collapsed) {
        return QStringLiteral("both or neither");
    }
    return state.expanded ? QStringLiteral("expanded") : QStringLiteral("collapsed");
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QAccessible::setActive(true); }
    void init() { useTestSettings(); }

    void groupHeadersExpandAndTellTheirState();
    void checkMarksAreCheckBoxesNamedAfterTheirRow();
    void presetsAreARadioGroup();
    void deleteButtonNameCarriesTheSize();
    void sheetsAnnounceTitleAndMessage_data();
    void sheetsAnnounceTitleAndMessage();
    void tabGoesThroughZoneGroupsPresetsAndButtons();
    void arrowKeysMoveInsideTheFolderList();
    void checkMarksAreReadOnlyAndAClickSaysWhy();
    void dropZoneIsPressableAndTheTutorialLinkFocusable();
    void doneIsAnnounced();
    void textColoursReachWcagAA();
    void focusIsVisible();
};

void AccessibilityTest::groupHeadersExpandAndTellTheirState()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    QWidget* header = list->groupHeader("Event A");
    QAccessibleInterface* iface = accessible(header);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), QString("Event A"));
    QVERIFY(iface->state().focusable);
    QCOMPARE(expansionOf(header), QString("collapsed"));
    // The description carries the size and the selection.
    QVERIFY2(iface->text(QAccessible::Description).contains("sélection partielle"),
             qPrintable(iface->text(QAccessible::Description)));

    // The press action of a screen reader toggles the group, as a click does.
    QAccessibleActionInterface* actions = iface->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
    QVERIFY(list->isExpanded("Event A"));
    QCOMPARE(expansionOf(header), QString("expanded"));
    QTest::mouseClick(header, Qt::LeftButton, {},
                      QPoint(header->width() / 2, header->height() / 2));
    QVERIFY(!list->isExpanded("Event A"));
    QCOMPARE(expansionOf(header), QString("collapsed"));
    // The keyboard does the same on the focused header.
    header->setFocus();
    QTest::keyClick(header, Qt::Key_Space);
    QCOMPARE(expansionOf(header), QString("expanded"));
}

void AccessibilityTest::checkMarksAreCheckBoxesNamedAfterTheirRow()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    ui::GroupCheckbox* group = list->groupCheckbox("Event A");
    QCOMPARE(accessible(group)->role(), QAccessible::CheckBox);
    QCOMPARE(nameOf(group), QString("Event A"));
    QCOMPARE(checkOf(group), QString("mixed"));
    // The check box is the header's child in the tree.
    QAccessibleInterface* header = accessible(list->groupHeader("Event A"));
    bool found = false;
    for (int i = 0; i < header->childCount(); ++i) {
        found = found || header->child(i)->object() == group;
    }
    QVERIFY(found);

    std::map<QString, QString> before;
    for (const model::FoundFolder& folder : w.vm->bundleInfo()->foundFolders) {
        const QString key = QString::fromStdString(folder.id.toString());
        ui::GroupCheckbox* mark = list->folderCheckbox(key);
        QVERIFY(mark);
        QCOMPARE(accessible(mark)->role(), QAccessible::CheckBox);
        QCOMPARE(nameOf(mark), nameOf(list->folderRow(key)));
        QCOMPARE(nameOf(mark), QString::fromStdString(model::displayName(folder)));
        QCOMPARE(checkOf(mark), w.vm->selectedFolders().contains(folder.url)
                                    ? QString("checked")
                                    : QString("unchecked"));
        QCOMPARE(accessible(list->folderRow(key))->role(), QAccessible::ListItem);
        before[key] = checkOf(mark);
    }
    QVERIFY(
        std::any_of(before.begin(), before.end(), [](auto& e) { return e.second == "unchecked"; }));

    // The states follow a preset change.
    w.vm->applyPreset(model::EditingPreset::done);
    QCOMPARE(checkOf(group), QString("checked"));
    for (const auto& [key, state] : before) {
        QCOMPARE(checkOf(list->folderCheckbox(key)), QString("checked"));
    }
}

void AccessibilityTest::presetsAreARadioGroup()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    QPushButton* inProgress = w.view->presetButton(model::EditingPreset::inProgress);
    QPushButton* done = w.view->presetButton(model::EditingPreset::done);
    for (QPushButton* choice : {inProgress, done}) {
        QAccessibleInterface* iface = accessible(choice);
        QCOMPARE(iface->role(), QAccessible::RadioButton);
        QCOMPARE(iface->text(QAccessible::Name), choice->text());
        QAccessibleInterface* group = iface->parent();
        QVERIFY(group);
        QCOMPARE(group->role(), QAccessible::Grouping);
        QVERIFY(!group->text(QAccessible::Name).isEmpty());
    }
    QCOMPARE(accessible(inProgress)->parent()->object(), accessible(done)->parent()->object());
    QCOMPARE(checkOf(inProgress), QString("checked"));
    QCOMPARE(checkOf(done), QString("unchecked"));
    accessible(done)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(w.vm->selectedPreset(), model::EditingPreset::done);
    QCOMPARE(checkOf(inProgress), QString("unchecked"));
    QCOMPARE(checkOf(done), QString("checked"));
}

void AccessibilityTest::deleteButtonNameCarriesTheSize()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    const QString size = viewmodel::byteCountFormatter().string(w.vm->selectedSize());
    QVERIFY2(nameOf(w.view->deleteButton()).contains(size),
             qPrintable(nameOf(w.view->deleteButton())));
    w.vm->applyPreset(model::EditingPreset::done);
    const QString larger = viewmodel::byteCountFormatter().string(w.vm->selectedSize());
    QVERIFY(larger != size);
    QVERIFY(nameOf(w.view->deleteButton()).contains(larger));
}

void AccessibilityTest::sheetsAnnounceTitleAndMessage_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("warning") << "warning"
                             << "Suppression définitive"
                             << "irrémédiablement supprimés";
    QTest::newRow("backup") << "backup"
                            << "Sauvegarde détectée"
                            << "« Film »";
    QTest::newRow("iCloud") << "iCloud"
                            << "Bibliothèque non téléchargée"
                            << "n'est pas disponible localement";
    QTest::newRow("missingCache") << "missingCache"
                                  << "Cache externe introuvable"
                                  << "Il devrait se trouver ici";
    QTest::newRow("cacheInfo") << "cacheInfo"
                               << "Cache externe détecté"
                               << "récupérables";
    QTest::newRow("fcpLocked") << "fcpLocked"
                               << "Bibliothèque ouverte dans Final Cut Pro"
                               << "est ouverte dans Final Cut Pro";
}

void AccessibilityTest::sheetsAnnounceTitleAndMessage()
{
    QFETCH(QString, sheet);
    QFETCH(QString, title);
    QFETCH(QString, message);
    std::unique_ptr<ui::SheetDialog> dialog;
    if (sheet == "warning") {
        dialog = std::make_unique<ui::DeleteWarningSheet>(1000, "Film", model::EditingPreset::done);
    } else if (sheet == "backup") {
        dialog = std::make_unique<ui::BackupSheet>("Film 2", "Film");
    } else if (sheet == "iCloud") {
        dialog = std::make_unique<ui::ICloudSheet>("Film", false);
    } else if (sheet == "missingCache") {
        dialog = std::make_unique<ui::MissingCacheSheet>("/media/Caches/Film.fcpcache");
    } else if (sheet == "cacheInfo") {
        dialog = std::make_unique<ui::CacheInfoSheet>(0, 5000);
    } else {
        dialog = std::make_unique<ui::FCPLockedSheet>("Film");
    }
    dialog->open();
    QAccessibleInterface* iface = accessible(dialog.get());
    QCOMPARE(iface->role(), QAccessible::Dialog);
    QCOMPARE(iface->text(QAccessible::Name), title);
    QVERIFY2(iface->text(QAccessible::Description).contains(message),
             qPrintable(iface->text(QAccessible::Description)));
}

void AccessibilityTest::tabGoesThroughZoneGroupsPresetsAndButtons()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    list->toggleGroup("Event A");
    QTest::qWait(250); // the rows have slid open
    // The folder list is one stop, however many rows it shows: its first
    // header until another item had the focus.
    QCOMPARE(list->tabStop(), list->focusChain().front());
    QList<QWidget*> expected{w.view->dropZone(), list->tabStop()};
    // The presets are entered at the checked one, as radio buttons are; the
    // arrow keys move between them.
    expected << w.view->presetButton(model::EditingPreset::inProgress) << w.view->resetButton()
             << w.view->deleteButton();
    w.view->dropZone()->setFocus();
    QList<QWidget*> chain{QApplication::focusWidget()};
    for (int step = 0; step < 20; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == chain.front()) {
            break;
        }
        chain.append(QApplication::focusWidget());
    }
    // After the delete button the Tab key goes round to the header's help
    // button, then the zone again.
    QCOMPARE(chain.mid(0, expected.size()), expected);
    QCOMPARE(chain.size(), expected.size() + 1);
    QVERIFY(qobject_cast<QToolButton*>(chain.last()));
    QPushButton* done = w.view->presetButton(model::EditingPreset::done);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier); // the help button
    for (QWidget* back : {w.view->deleteButton(), w.view->resetButton()}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), back);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QCOMPARE(QApplication::focusWidget(), done);
}

// Inside the list the arrow keys move from item to item (rows of open
// groups included); the item left last is where Tab comes back to.
void AccessibilityTest::arrowKeysMoveInsideTheFolderList()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    QWidget* header = list->groupHeader("Event A");
    header->setFocus(Qt::TabFocusReason);
    QTest::keyClick(header, Qt::Key_Right); // opens the group
    QTRY_VERIFY(list->isExpanded("Event A"));
    QTest::qWait(250);
    QTest::keyClick(header, Qt::Key_Down);
    QWidget* row = QApplication::focusWidget();
    QVERIFY(row != header);
    QCOMPARE(accessible(row)->role(), QAccessible::ListItem);
    QCOMPARE(list->tabStop(), row);
    QCOMPARE(row->focusPolicy(), Qt::StrongFocus);
    QCOMPARE(header->focusPolicy(), Qt::ClickFocus);
    // Left goes back to the row's header, Left again closes the group.
    QTest::keyClick(row, Qt::Key_Left);
    QCOMPARE(QApplication::focusWidget(), header);
    QTest::keyClick(header, Qt::Key_Left);
    QVERIFY(!list->isExpanded("Event A"));
    // Home and End reach both ends; Up at the top stays there.
    QTest::qWait(250);
    QWidget* lastShown = nullptr;
    for (QWidget* item : list->focusChain()) {
        lastShown = item->isVisible() ? item : lastShown;
    }
    QTest::keyClick(header, Qt::Key_End);
    QCOMPARE(QApplication::focusWidget(), lastShown);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    QCOMPARE(QApplication::focusWidget(), list->focusChain().front());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(QApplication::focusWidget(), list->focusChain().front());
}

// The check marks are read-only check boxes; a click on one changes nothing
// and says why.
void AccessibilityTest::checkMarksAreReadOnlyAndAClickSaysWhy()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    ui::GroupCheckbox* mark = list->groupCheckbox("Event A");
    QAccessibleInterface* iface = accessible(mark);
    QVERIFY(iface->state().readOnly);
    QVERIFY(!iface->state().disabled);
    QVERIFY(iface->text(QAccessible::Description).contains("une à une"));
    const model::FolderSelection before = w.vm->selectedFolders();
    QTest::mouseClick(mark, Qt::LeftButton);
    QCOMPARE(w.vm->selectedFolders(), before);
    QVERIFY(!list->isExpanded("Event A")); // the header did not take the click
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().contains("Montage terminé"), qPrintable(QToolTip::text()));
    QToolTip::hideText();
}

// Screen readers can press the drop zone, and reach the tutorial link.
void AccessibilityTest::dropZoneIsPressableAndTheTutorialLinkFocusable()
{
    Window w;
    QPushButton* link = w.view->tutorialLink();
    QVERIFY(link);
    QCOMPARE(accessible(link)->role(), QAccessible::Link);
    QVERIFY(accessible(link)->state().focusable);
    w.view->dropZone()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.view->dropZone()));
    QTest::keyClick(w.view->dropZone(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(link));

    QAccessibleInterface* zone = accessible(w.view->dropZone());
    QCOMPARE(zone->role(), QAccessible::Button);
    QVERIFY(zone->actionInterface());
    QVERIFY(
        zone->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    QSignalSpy clicked(w.view->dropZone(), &ui::DropZone::clicked);
    zone->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(clicked.count(), 1);
    QTRY_VERIFY(w.view->openPanel());
    w.view->openPanel()->reject();
}

// At the end of a deletion the result is an alert that takes the focus.
void AccessibilityTest::doneIsAnnounced()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    w.vm->startDeletion();
    QVERIFY(waitUntil([&] { return w.vm->appState() == AppState::done; }));
    QWidget* card = w.view->resultCard();
    QVERIFY(card);
    QCOMPARE(accessible(card)->role(), QAccessible::AlertMessage);
    QCOMPARE(nameOf(card), QStringLiteral("Terminé !"));
    QVERIFY(accessible(card)->text(QAccessible::Description).contains("libérés"));
    QTRY_COMPARE(QApplication::focusWidget(), card);
}

// Every text colour reaches 4.5:1 (WCAG AA) on the backgrounds it is drawn
// on.
void AccessibilityTest::textColoursReachWcagAA()
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const auto over = [](const QColor& fg, const QColor& bg) {
        const double a = fg.alphaF();
        return QColor::fromRgbF(fg.redF() * a + bg.redF() * (1 - a),
                                fg.greenF() * a + bg.greenF() * (1 - a),
                                fg.blueF() * a + bg.blueF() * (1 - a));
    };
    const auto contrast = [&](const QColor& fg, const QColor& bg) {
        const double l1 = luminance(over(fg, bg));
        const double l2 = luminance(bg);
        return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
    };
    using namespace ui::colors;
    const QList<std::pair<const char*, QColor>> backgrounds{
        {"window", windowBackground()},
        {"card", controlBackground()},
        {"banner", over(ui::withOpacity(orange(), 0.10), windowBackground())},
        {"focused row", over(ui::withOpacity(accent(), 0.16), windowBackground())},
    };
    const QList<std::pair<const char*, QColor>> texts{{"primary", primary()},
                                                      {"secondary", secondary()},
                                                      {"red text", redText()},
                                                      {"orange", orange()},
                                                      {"green", green()}};
    for (const auto& [bgName, bg] : backgrounds) {
        for (const auto& [name, fg] : texts) {
            // Red text shows on the window and the cards only.
            if (fg == redText() && std::string_view(bgName) != "window" &&
                std::string_view(bgName) != "card") {
                continue;
            }
            QVERIFY2(contrast(fg, bg) >= 4.5, qPrintable(QStringLiteral("%1 on %2: %3")
                                                             .arg(name, bgName)
                                                             .arg(contrast(fg, bg), 0, 'f', 2)));
        }
    }
}

void AccessibilityTest::focusIsVisible()
{
    Window w;
    QVERIFY(w.analyse(w.harness.library("Film")));
    ui::FolderListView* list = w.view->folderList();
    list->toggleGroup("Event A");
    QTest::qWait(250);
    QWidget* help = nullptr;
    for (auto* button : w.view->findChildren<QToolButton*>()) {
        help = button->isVisible() ? button : help;
    }
    QVERIFY(help);
    QWidget* row = nullptr;
    for (const model::FoundFolder& folder : w.vm->bundleInfo()->foundFolders) {
        if (folder.parentName == "Event A") {
            row = list->folderRow(QString::fromStdString(folder.id.toString()));
        }
    }
    QVERIFY(row && row->isVisible());
    // The row is the list's stop once the arrow keys brought the focus there.
    list->groupHeader("Event A")->setFocus(Qt::TabFocusReason);
    while (QApplication::focusWidget() != row) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    }
    QCOMPARE(list->tabStop(), row);
    const QList<QWidget*> controls{help,
                                   w.view->dropZone(),
                                   row,
                                   w.view->presetButton(model::EditingPreset::inProgress),
                                   w.view->resetButton(),
                                   w.view->deleteButton()};
    // Round the focus chain with the Tab key (a ring is drawn for keyboard
    // focus only): each control as it holds the focus, then as it lost it.
    std::map<QWidget*, QImage> focused;
    std::map<QWidget*, QImage> unfocused;
    help->setFocus();
    QWidget* previous = nullptr;
    for (int step = 0; step < 16; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::qWait(10);
        QWidget* current = QApplication::focusWidget();
        QVERIFY(current);
        if (previous) {
            unfocused[previous] = previous->grab().toImage();
        }
        focused[current] = current->grab().toImage();
        previous = current;
    }
    for (QWidget* control : controls) {
        QVERIFY2(focused.count(control) && unfocused.count(control),
                 qPrintable(control->accessibleName()));
        QVERIFY2(focused[control] != unfocused[control], qPrintable(control->accessibleName()));
    }
}

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
