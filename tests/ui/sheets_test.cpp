// The keys of every sheet: Return presses the focused button, or the default
// button where there is one; Escape and Ctrl+Esc press the cancel button
// where there is one; a close request from the window manager answers
// nothing. Return never confirms a deletion.

#include "ui/alias_sheet.hpp"
#include "ui/backup_sheet.hpp"
#include "ui/cache_info_sheet.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/fcp_locked_sheet.hpp"
#include "ui/icloud_sheet.hpp"
#include "ui/missing_cache_sheet.hpp"
#include "ui_test_support.hpp"

#include <QCheckBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using namespace vellico;
using namespace vellico::ui;
using viewmodel::AliasResponse;
using viewmodel::BackupResponse;
using viewmodel::FCPLockedResponse;

namespace {

enum class Key { returnKey, escape, ctrlEscape };

void press(QWidget* sheet, Key key)
{
    switch (key) {
    case Key::returnKey:
        QTest::keyClick(sheet, Qt::Key_Return);
        break;
    case Key::escape:
        QTest::keyClick(sheet, Qt::Key_Escape);
        break;
    case Key::ctrlEscape:
        QTest::keyClick(sheet, Qt::Key_Escape, Qt::ControlModifier);
        break;
    }
}

// Every answer a sheet gave, as text ("analyze", "false", "dismissed", …).
struct Answers {
    QStringList given;
};

struct Case {
    std::function<SheetDialog*(Answers&)> make;
    QString onReturn; // empty: no answer
    QString onCtrlEscape;
};

template <typename Enum> QString name(Enum value)
{
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(static_cast<int>(value)));
}

Case caseFor(const QString& sheet)
{
    if (sheet == "warning") {
        return {[](Answers& a) {
                    auto* s = new DeleteWarningSheet(1234567, "Film", model::EditingPreset::done);
                    QObject::connect(s, &DeleteWarningSheet::confirmed,
                                     [&a] { a.given << "confirmed"; });
                    QObject::connect(s, &DeleteWarningSheet::cancelled,
                                     [&a] { a.given << "cancelled"; });
                    return s;
                },
                "cancelled", // it opens on "Annuler": Return presses that
                "cancelled"};
    }
    if (sheet == "alias") {
        return {[](Answers& a) {
                    auto* s = new AliasSheet("Film alias");
                    QObject::connect(s, &AliasSheet::responded,
                                     [&a](AliasResponse r) { a.given << name(r); });
                    return s;
                },
                "analyze", "cancel"};
    }
    if (sheet == "backup") {
        return {[](Answers& a) {
                    auto* s = new BackupSheet("20240315_1042_GMT+1", "Film");
                    QObject::connect(s, &BackupSheet::responded,
                                     [&a](BackupResponse r) { a.given << name(r); });
                    return s;
                },
                "analyzeOriginal", "cancel"};
    }
    if (sheet == "iCloud") {
        return {[](Answers& a) {
                    auto* s = new ICloudSheet("Film", false);
                    QObject::connect(s, &ICloudSheet::responded,
                                     [&a](bool goOn) { a.given << (goOn ? "true" : "false"); });
                    return s;
                },
                "false", // no default button: the focus starts on "Annuler"
                "false"};
    }
    if (sheet == "missingCache") {
        return {[](Answers& a) {
                    auto* s = new MissingCacheSheet("/Volumes/Média/Caches/Film.fcpcache");
                    QObject::connect(s, &MissingCacheSheet::responded,
                                     [&a](bool goOn) { a.given << (goOn ? "true" : "false"); });
                    return s;
                },
                "true", "false"};
    }
    if (sheet == "cacheInfo") {
        return {[](Answers& a) {
                    auto* s = new CacheInfoSheet(0, 5'000'000'000);
                    QObject::connect(s, &CacheInfoSheet::dismissed,
                                     [&a] { a.given << "dismissed"; });
                    return s;
                },
                "dismissed", "dismissed"};
    }
    return {[](Answers& a) {
                auto* s = new FCPLockedSheet("Film");
                QObject::connect(s, &FCPLockedSheet::responded,
                                 [&a](FCPLockedResponse r) { a.given << name(r); });
                QObject::connect(s, &FCPLockedSheet::showEditorRequested,
                                 [&a] { a.given << "showEditor"; });
                return s;
            },
            "analyzeAnyway", "cancel"};
}

const QStringList allSheets{"warning",      "alias",     "backup",   "iCloud",
                            "missingCache", "cacheInfo", "fcpLocked"};

} // namespace

class SheetsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { test::useTestSettings(); }

    void keysGiveTheSheetsAnswer_data();
    void keysGiveTheSheetsAnswer();
    void returnPressesTheFocusedButton();
    void sheetsOpenWithTheFocusOnTheSafeAnswer_data();
    void sheetsOpenWithTheFocusOnTheSafeAnswer();
    void returnNeverConfirmsADeletion();
    void openLibrarySheetNamesTheHolderAndShowsTheEditorOnlyWhereItRuns();
    void windowManagerCloseAnswersNothing_data();
    void windowManagerCloseAnswersNothing();
    void skipToggleWritesTheSettingAtOnce();
    // Last: it runs the application's quit path.
    void applicationQuitClosesTheSheet();
};

void SheetsTest::keysGiveTheSheetsAnswer_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("key");
    for (const QString& sheet : allSheets) {
        for (const auto& [label, key] :
             {std::pair{"Return", Key::returnKey}, std::pair{"Escape", Key::escape},
              std::pair{"Ctrl+Esc", Key::ctrlEscape}}) {
            QTest::addRow("%s %s", qPrintable(sheet), label) << sheet << static_cast<int>(key);
        }
    }
}

void SheetsTest::keysGiveTheSheetsAnswer()
{
    QFETCH(QString, sheet);
    QFETCH(int, key);
    const Case c = caseFor(sheet);
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(c.make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

    press(dialog.get(), static_cast<Key>(key));

    const QString expected = static_cast<Key>(key) == Key::returnKey ? c.onReturn : c.onCtrlEscape;
    QCOMPARE(answers.given, expected.isEmpty() ? QStringList() : QStringList{expected});
    // The sheet never closes itself: its owner does once the answer is handled.
    QVERIFY(dialog->isVisible());
}

void SheetsTest::returnPressesTheFocusedButton()
{
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor("fcpLocked").make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QPushButton* cancel = dialog->cancelButton();
    QVERIFY(cancel);
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
    QCOMPARE(answers.given, QStringList{"cancel"});
}

void SheetsTest::sheetsOpenWithTheFocusOnTheSafeAnswer_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<bool>("onCancel");
    QTest::newRow("warning") << "warning" << true; // no default: the way out
    QTest::newRow("iCloud") << "iCloud" << true;
    QTest::newRow("alias") << "alias" << false;
    QTest::newRow("missingCache") << "missingCache" << false;
}

void SheetsTest::sheetsOpenWithTheFocusOnTheSafeAnswer()
{
    QFETCH(QString, sheet);
    QFETCH(bool, onCancel);
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor(sheet).make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTRY_COMPARE(
        static_cast<QWidget*>(dialog->focusWidget()),
        static_cast<QWidget*>(onCancel ? dialog->cancelButton() : dialog->defaultButton()));
    // Return right away gives that button's answer.
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    QCOMPARE(answers.given.size(), 1);
    QVERIFY(answers.given.front() != "confirmed");
}

// On the deletion warning, Return on a focused "Supprimer" does nothing;
// Space presses it.
void SheetsTest::returnNeverConfirmsADeletion()
{
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor("warning").make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTRY_VERIFY(dialog->focusWidget() == dialog->cancelButton());
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
    auto* remove = qobject_cast<QPushButton*>(dialog->focusWidget());
    QVERIFY(remove);
    QCOMPARE(remove->text(), QStringLiteral("Supprimer"));
    QTest::keyClick(remove, Qt::Key_Return);
    QTest::keyClick(remove, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(answers.given.isEmpty());
    QTest::keyClick(remove, Qt::Key_Space);
    QCOMPARE(answers.given, QStringList{"confirmed"});
}

void SheetsTest::windowManagerCloseAnswersNothing_data()
{
    QTest::addColumn<QString>("sheet");
    for (const QString& sheet : allSheets) {
        QTest::newRow(qPrintable(sheet)) << sheet;
    }
}

void SheetsTest::windowManagerCloseAnswersNothing()
{
    QFETCH(QString, sheet);
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor(sheet).make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(!dialog->close());
    QVERIFY(dialog->isVisible());
    QVERIFY(answers.given.isEmpty());
    dialog->dismiss();
    QVERIFY(!dialog->isVisible());
    dialog.release(); // dismiss() deletes it later
}

void SheetsTest::applicationQuitClosesTheSheet()
{
    // Quitting closes every window first; a sheet that refused would keep
    // the application alive for ever.
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor("backup").make(answers));
    dialog->open();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QCoreApplication::postEvent(qApp, new QEvent(QEvent::Quit));
    QTRY_VERIFY(!dialog->isVisible());
    QVERIFY(answers.given.isEmpty());
}

void SheetsTest::skipToggleWritesTheSettingAtOnce()
{
    Answers answers;
    std::unique_ptr<SheetDialog> dialog(caseFor("warning").make(answers));
    auto* warning = static_cast<DeleteWarningSheet*>(dialog.get());
    dialog->open();
    QVERIFY(!warning->skipToggle()->isChecked());
    warning->skipToggle()->click();
    QCOMPARE(QSettings().value("skipDeleteWarning").toBool(), true);
    QTest::keyClick(dialog.get(), Qt::Key_Escape, Qt::ControlModifier);
    QCOMPARE(answers.given, QStringList{"cancelled"});
    QCOMPARE(QSettings().value("skipDeleteWarning").toBool(), true);
}

// Where the editor cannot run, the sheet has no button to bring it forward;
// it says where the library is open instead.
void SheetsTest::openLibrarySheetNamesTheHolderAndShowsTheEditorOnlyWhereItRuns()
{
    const auto texts = [](SheetDialog& sheet) {
        QStringList out;
        for (QPushButton* button : sheet.findChildren<QPushButton*>()) {
            out << button->text();
        }
        return out;
    };
    FCPLockedSheet here("Film", "studio-mac.local", {}, false);
    QCOMPARE(texts(here), (QStringList{"Annuler", "Analyser"}));
    QVERIFY2(here.accessibleDescription().contains("Final Cut Pro sur « studio-mac.local »"),
             qPrintable(here.accessibleDescription()));
    FCPLockedSheet other("Film", "atelier", "Vellico", false);
    QVERIFY(other.accessibleDescription().contains("ouverte dans Vellico sur « atelier »"));
    FCPLockedSheet unknown("Film", {}, {}, false);
    QVERIFY(unknown.accessibleDescription().startsWith("« Film » est ouverte dans Final Cut Pro."));
    FCPLockedSheet mac("Film", {}, {}, true);
    QVERIFY(texts(mac).contains("Voir Final Cut Pro"));
}

QTEST_MAIN(SheetsTest)
#include "sheets_test.moc"
