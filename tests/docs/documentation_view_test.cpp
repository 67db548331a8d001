#include "ui/documentation_view.hpp"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <map>
#include <memory>
#include <string>

using vellico::docs::DocBlockKind;
using vellico::docs::DocumentationView;
using vellico::docs::HelpFileReader;

namespace {

// A document with three level-2 sections, each long enough to scroll.
std::string longDocument(const std::string& title, const std::string& section)
{
    std::string text = "# " + title + "\n\nIntro *texte* avec **gras** et `code`.\n\n";
    for (int s = 1; s <= 3; ++s) {
        text += "## " + section + " " + std::to_string(s) + "\n\n### Sous-titre\n\n";
        for (int p = 0; p < 12; ++p) {
            text += "Paragraphe " + std::to_string(p) +
                    " avec assez de mots pour remplir une ligne ou deux dans la fenêtre.\n\n";
        }
        text += "- un élément de liste\n- [un lien](https://example.com/a?b=1&c=2)\n\n---\n\n";
    }
    return text;
}

HelpFileReader readerOf(std::map<std::string, std::string> files)
{
    return [files = std::move(files)](const std::string& name) -> std::optional<std::string> {
        const auto found = files.find(name);
        if (found == files.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

HelpFileReader standardReader()
{
    return readerOf({
        {"Documentation_FR.md", longDocument("Aide française", "Partie")},
        {"Documentation_EN.md", longDocument("English help", "Part")},
        {"Documentation_DE.md", "# Hilfe\n\nNur ein Absatz ohne Abschnitte.\n"},
    });
}

int indexOfHeading2(const DocumentationView& view, int nth)
{
    int seen = 0;
    for (std::size_t i = 0; i < view.blocks().size(); ++i) {
        if (view.blocks()[i].kind == DocBlockKind::heading2 && seen++ == nth) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

class DocumentationViewTest : public QObject {
    Q_OBJECT

private slots:
    void pickerListsTheSixLanguagesInOrder();
    void initialLanguageIsSelectedAndLoaded();
    void documentWithoutSectionsHidesTheSectionMenu();
    void sectionMenuListsTheLevel2Headings();
    void headingsAreHeadingsForScreenReaders();
    void choosingASectionScrollsItsHeadingToTheTop();
    void changingTheLanguageReloads();
    void missingFileEmptiesTheViewAndRemovesTheMenu();
    void textIsSelectable();
    void inlineRunsBecomeEscapedRichText();
    void linksOpenOrRequestTheSupportMail();
};

void DocumentationViewTest::pickerListsTheSixLanguagesInOrder()
{
    DocumentationView view("FR", standardReader());
    QComboBox* picker = view.languagePicker();
    const QStringList labels = {QStringLiteral("🇫🇷 FR"), QStringLiteral("🇬🇧 EN"),
                                QStringLiteral("🇩🇪 DE"), QStringLiteral("🇪🇸 ES"),
                                QStringLiteral("🇯🇵 JA"), QStringLiteral("🇨🇳 ZH")};
    const QStringList codes = {QStringLiteral("FR"), QStringLiteral("EN"), QStringLiteral("DE"),
                               QStringLiteral("ES"), QStringLiteral("JA"), QStringLiteral("ZH")};
    QCOMPARE(picker->count(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(picker->itemText(i), labels[i]);
        QCOMPARE(picker->itemData(i).toString(), codes[i]);
    }
}

void DocumentationViewTest::initialLanguageIsSelectedAndLoaded()
{
    DocumentationView view("EN", standardReader());
    QCOMPARE(view.selectedLang(), std::string("EN"));
    QCOMPARE(view.languagePicker()->currentData().toString(), QStringLiteral("EN"));
    QVERIFY(!view.blocks().empty());
    QCOMPARE(view.blocks().front().text, std::string("English help"));
    QCOMPARE(view.currentSection(), QStringLiteral("Part 1"));
    QCOMPARE(view.sectionMenuButton()->text(), QStringLiteral("Part 1"));
}

void DocumentationViewTest::documentWithoutSectionsHidesTheSectionMenu()
{
    DocumentationView view("DE", standardReader());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(!view.blocks().empty());
    QVERIFY(view.sections().empty());
    QVERIFY(!view.sectionMenuBox()->isVisible());
    QVERIFY(view.sectionMenuButton()->menu()->actions().isEmpty());
    QVERIFY(view.currentSection().isEmpty());
    QVERIFY(view.languagePicker()->isVisible());

    view.setSelectedLang("FR");
    QVERIFY(view.sectionMenuBox()->isVisible());
}

void DocumentationViewTest::sectionMenuListsTheLevel2Headings()
{
    DocumentationView view("FR", standardReader());
    const QList<QAction*> actions = view.sectionMenuButton()->menu()->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("Partie 1"));
    QCOMPARE(actions[2]->text(), QStringLiteral("Partie 3"));
    QCOMPARE(view.sections().size(), std::size_t(3));
    QCOMPARE(view.sections()[1].first, indexOfHeading2(view, 1));
}

// A screen reader lists the help's headings and jumps between them.
void DocumentationViewTest::headingsAreHeadingsForScreenReaders()
{
    QAccessible::setActive(true);
    DocumentationView view("FR", standardReader());
    QStringList headings;
    for (QLabel* label : view.findChildren<QLabel*>()) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
        if (iface && iface->role() == QAccessible::Heading) {
            QCOMPARE(iface->text(QAccessible::Name), label->text());
            headings << label->text();
        }
    }
    QVERIFY2(headings.contains(QStringLiteral("Partie 1")), qPrintable(headings.join('|')));
    QVERIFY(headings.contains(QStringLiteral("Partie 3")));
    QAccessible::setActive(false);
}

void DocumentationViewTest::choosingASectionScrollsItsHeadingToTheTop()
{
    DocumentationView view("FR", standardReader());
    view.resize(620, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar* bar = view.documentArea()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), 0);

    // Through the menu, as the user does.
    QSignalSpy sectionSpy(&view, &DocumentationView::currentSectionChanged);
    view.sectionMenuButton()->menu()->actions()[1]->trigger();
    QCOMPARE(view.currentSection(), QStringLiteral("Partie 2"));
    QCOMPARE(view.sectionMenuButton()->text(), QStringLiteral("Partie 2"));
    QCOMPARE(view.scrollAnimation()->state(), QAbstractAnimation::Running);
    QTRY_COMPARE(view.scrollAnimation()->state(), QAbstractAnimation::Stopped);

    QWidget* heading = view.blockWidget(indexOfHeading2(view, 1));
    QVERIFY(heading);
    QVERIFY(heading->y() > 0);
    QVERIFY(qAbs(bar->value() - heading->y()) <= 1);
    const QPoint inViewport = heading->mapTo(view.documentArea()->viewport(), QPoint(0, 0));
    QVERIFY2(qAbs(inViewport.y()) <= 1, qPrintable(QString::number(inViewport.y())));
    // The label kept the chosen title while and after scrolling.
    QCOMPARE(view.currentSection(), QStringLiteral("Partie 2"));
    QCOMPARE(sectionSpy.count(), 1);

    // Back to the first section: up again.
    view.chooseSection(0);
    QTRY_COMPARE(view.scrollAnimation()->state(), QAbstractAnimation::Stopped);
    QVERIFY(qAbs(bar->value() - view.blockWidget(indexOfHeading2(view, 0))->y()) <= 1);
    QCOMPARE(view.currentSection(), QStringLiteral("Partie 1"));

    // Scrolling by hand past the second heading updates the label.
    bar->setValue(view.blockWidget(indexOfHeading2(view, 1))->y() + 5);
    QCOMPARE(view.currentSection(), QStringLiteral("Partie 2"));
    bar->setValue(view.blockWidget(indexOfHeading2(view, 1))->y() - 5);
    QCOMPARE(view.currentSection(), QStringLiteral("Partie 1"));
}

void DocumentationViewTest::changingTheLanguageReloads()
{
    DocumentationView view("FR", standardReader());
    QCOMPARE(view.blocks().front().text, std::string("Aide française"));
    view.languagePicker()->setCurrentIndex(view.languagePicker()->findData(QStringLiteral("EN")));
    QCOMPARE(view.selectedLang(), std::string("EN"));
    QCOMPARE(view.blocks().front().text, std::string("English help"));
    QCOMPARE(view.currentSection(), QStringLiteral("Part 1"));
    QCOMPARE(view.sectionMenuButton()->menu()->actions()[0]->text(), QStringLiteral("Part 1"));
    // The document shows the new text.
    QCOMPARE(view.textLabels().front()->text(), QStringLiteral("English help"));

    view.setSelectedLang("FR");
    QCOMPARE(view.languagePicker()->currentData().toString(), QStringLiteral("FR"));
    QCOMPARE(view.textLabels().front()->text(), QStringLiteral("Aide française"));
}

void DocumentationViewTest::missingFileEmptiesTheViewAndRemovesTheMenu()
{
    DocumentationView view("FR", standardReader());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setSelectedLang("JA");
    QVERIFY(view.blocks().empty());
    QVERIFY(view.textLabels().isEmpty());
    QVERIFY(view.blockWidget(0) == nullptr);
    QVERIFY(!view.sectionMenuBox()->isVisible());
    QVERIFY(view.currentSection().isEmpty());
    view.setSelectedLang("EN");
    QVERIFY(!view.blocks().empty());
    QVERIFY(view.sectionMenuBox()->isVisible());
}

void DocumentationViewTest::textIsSelectable()
{
    DocumentationView view("FR", standardReader());
    const QList<QLabel*> labels = view.textLabels();
    QVERIFY(labels.size() > 10);
    for (QLabel* label : labels) {
        QVERIFY(label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        QVERIFY(label->wordWrap());
    }
}

void DocumentationViewTest::inlineRunsBecomeEscapedRichText()
{
    using vellico::docs::InlineRun;
    const QString html = vellico::docs::inlineRichText({
        InlineRun{"a < b & c", false, false, false, ""},
        InlineRun{"em", true, false, false, ""},
        InlineRun{"strong", false, true, false, ""},
        InlineRun{"x<y", false, false, true, ""},
        InlineRun{"site", false, false, false, "https://e.com/?a=1&b=\"2\""},
    });
    QVERIFY2(html.startsWith(QStringLiteral("a &lt; b &amp; c<i>em</i><b>strong</b>"
                                            "<code>x&lt;y</code><a href=\"https://e.com/"
                                            "?a=1&amp;b=&quot;2&quot;\"")),
             qPrintable(html));
    QVERIFY(html.endsWith(QStringLiteral(">site</a>")));
}

void DocumentationViewTest::linksOpenOrRequestTheSupportMail()
{
    QList<QUrl> opened;
    DocumentationView view("FR", standardReader(),
                           [&opened](const QUrl& url) { opened.append(url); });
    QSignalSpy mailSpy(&view, &DocumentationView::supportMailRequested);
    QLabel* withLink = nullptr;
    for (QLabel* label : view.textLabels()) {
        if (label->text().contains(QStringLiteral("<a href"))) {
            withLink = label;
            break;
        }
    }
    QVERIFY(withLink);
    QVERIFY(withLink->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse));
    emit withLink->linkActivated(QStringLiteral("https://example.com/a?b=1&c=2"));
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.front(), QUrl(QStringLiteral("https://example.com/a?b=1&c=2")));
    QCOMPARE(mailSpy.count(), 0);

    emit withLink->linkActivated(QStringLiteral("mailto:support@vellico.app?subject=x"));
    QCOMPARE(mailSpy.count(), 1);
    QCOMPARE(opened.size(), 1);
}

QTEST_MAIN(DocumentationViewTest)
#include "documentation_view_test.moc"
