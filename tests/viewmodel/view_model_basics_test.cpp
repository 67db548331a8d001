// Small pieces of the view model: sheet identifiers, the one-shot answer,
// the byte formatter with translated units, the translation catalogue.

#include "analysis/library_intake.hpp"
#include "model/target_folder_rule.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/sheet_answer.hpp"
#include "viewmodel/texts.hpp"
#include "viewmodel/view_model_types.hpp"

#include <QCoro/QCoroTask>
#include <QTest>

using namespace vellico;
using namespace vellico::viewmodel;

namespace {

QCoro::Task<int> waitForAnswer(std::optional<SheetContinuation<int>>& field, int& presented)
{
    auto question = SheetAnswer<int>(field, [&] { ++presented; });
    co_return co_await question;
}

} // namespace

class ViewModelBasicsTest : public QObject {
    Q_OBJECT

private slots:
    void sheetAnswerIsDeliveredOnce();
    void byteCountsUseFrenchUnits();
    void catalogueGivesDescriptiveKeysTheirText();
    void namesShowControlCharactersAsVisibleSymbols();
};

// A name's escape sequences and invisible controls are shown, never obeyed
// or hidden, in every label that shows a name.
void ViewModelBasicsTest::namesShowControlCharactersAsVisibleSymbols()
{
    const QString shown = viewmodel::texts::displayText("A\033[2J\nB\x7f\xc2\x9b"
                                                        "C\xe2\x80\xae"
                                                        "D\xff"
                                                        "É");
    QCOMPARE(shown, QString::fromUtf8("A\u241b[2J\u240aB\u2421\ufffdC\ufffdD\ufffdÉ"));
    for (const QChar c : shown) {
        QVERIFY(c.category() != QChar::Other_Control && c.category() != QChar::Other_Format);
    }
}

void ViewModelBasicsTest::sheetAnswerIsDeliveredOnce()
{
    std::optional<SheetContinuation<int>> field;
    int presented = 0;
    auto task = waitForAnswer(field, presented);
    // Stored before the sheet was presented, and the waiter is suspended.
    QVERIFY(field.has_value());
    QCOMPARE(presented, 1);
    QVERIFY(!task.isReady());
    resumeOnce(field, 7);
    QVERIFY(!field.has_value());
    QVERIFY(task.isReady());
    resumeOnce(field, 8); // nothing waits: no effect
    QCOMPARE(QCoro::waitFor(task), 7);
}

void ViewModelBasicsTest::byteCountsUseFrenchUnits()
{
    const ByteCountFormatter& f = byteCountFormatter();
    QCOMPARE(f.string(0), QString::fromUtf8("Zéro Ko"));
    QCOMPARE(f.string(999), QStringLiteral("999 octets"));
    QCOMPARE(f.string(1'500'000), QStringLiteral("1,5 Mo"));
    QCOMPARE(f.string(2'340'000'000), QStringLiteral("2,34 Go"));
    QCOMPARE(&f, &byteCountFormatter());
}

void ViewModelBasicsTest::catalogueGivesDescriptiveKeysTheirText()
{
    QVERIFY(texts::installTranslations(*QCoreApplication::instance()));
    const auto help = model::tooltipText("Render Files", texts::textLookup());
    QVERIFY(help);
    QVERIFY(QString::fromStdString(*help).startsWith(QString::fromUtf8("Fichiers de rendu")));
    QVERIFY(model::tooltipText("Final Cut Backups", texts::textLookup())->find("Sauvegardes") == 0);
    // French texts are their own keys and show as written.
    QCOMPARE(texts::notALibrary(QStringLiteral("Film")),
             QString::fromUtf8("« Film » n'est pas une bibliothèque Final Cut Pro valide."));
    // An inserted name is never expanded again.
    QCOMPARE(
        texts::refusalText(
            {"in", "/in", analysis::messageKey(analysis::IntakeError::Kind::locked), {"%1 %2"}}),
        QString::fromUtf8(
            "« %1 %2 » est verrouillée (attribut immuable). Déverrouillez-la avant de continuer, "
            "par exemple avec chattr -i."));
}

QTEST_GUILESS_MAIN(ViewModelBasicsTest)
#include "view_model_basics_test.moc"
