#pragma once

#include "docs/doc_block.hpp"
#include "docs/documentation_loader.hpp"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QLabel;
class QPropertyAnimation;
class QScrollArea;
class QToolButton;

namespace vellico::docs {

// The help window's content: a header row (the menu of the document's
// level-2 headings and the language picker), a divider and the document,
// one widget per block, in a scroll area that grows with the window.
//
// Changing the language reloads the document. Links open through `openUrl`
// (the system by default), except "mailto:" links, which emit
// supportMailRequested() so that the application opens its prepared mail.
class DocumentationView : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<void(const QUrl&)>;

    // The user's language (from the environment) and the help files compiled
    // into the program.
    explicit DocumentationView(QWidget* parent = nullptr);
    // A given language and help-file reader; an empty `openUrl` means the
    // system's.
    DocumentationView(std::string lang, HelpFileReader read, UrlOpener openUrl = {},
                      QWidget* parent = nullptr);

    // The six languages of the picker, in order: (code, flag label).
    static std::vector<std::pair<QString, QString>> languageEntries();

    const std::string& selectedLang() const { return m_selectedLang; }
    // Selects `lang` in the picker and reloads when it changed.
    void setSelectedLang(const std::string& lang);

    const std::vector<DocBlock>& blocks() const { return m_blocks; }
    const QString& currentSection() const { return m_currentSection; }
    // (block index, title) of every level-2 heading, in document order.
    std::vector<std::pair<int, QString>> sections() const;

    // Reads and parses the document of selectedLang() again and rebuilds the
    // blocks and the section menu; the label shows the first section.
    void reload();

    // Sets the label to section `sectionIndex`'s title and scrolls its
    // heading to the top of the document area with a short animation.
    void chooseSection(int sectionIndex);
    // Scrolls block `blockIndex` to the top (as far as the document allows).
    void scrollToBlock(int blockIndex, bool animated = true);

    // Parts, for tests and screenshots.
    QToolButton* sectionMenuButton() const { return m_sectionButton; }
    QWidget* sectionMenuBox() const { return m_sectionBox; }
    QComboBox* languagePicker() const { return m_languagePicker; }
    QScrollArea* documentArea() const { return m_scroll; }
    QPropertyAnimation* scrollAnimation() const { return m_scrollAnimation; }
    // The widget of block `index`; null when out of range.
    QWidget* blockWidget(int index) const;
    // The labels that show text, in block order (a heading's, a paragraph's,
    // a list item's text; not the bullets).
    QList<QLabel*> textLabels() const;

signals:
    void supportMailRequested();
    void currentSectionChanged(const QString& title);

private:
    void buildHeader();
    void rebuildDocument();
    void rebuildSectionMenu();
    void setCurrentSection(const QString& title);
    void openLink(const QString& link);
    void trackScrolledSection();
    QWidget* makeBlockWidget(const DocBlock& block, QWidget* parent);
    QLabel* makeTextLabel(const QString& richText, int pixels, QWidget* parent);

    std::string m_selectedLang;
    HelpFileReader m_read;
    UrlOpener m_openUrl;
    std::vector<DocBlock> m_blocks;
    QString m_currentSection;

    QWidget* m_sectionBox = nullptr;
    QToolButton* m_sectionButton = nullptr;
    QComboBox* m_languagePicker = nullptr;
    QScrollArea* m_scroll = nullptr;
    QPropertyAnimation* m_scrollAnimation = nullptr;
    std::vector<QWidget*> m_blockWidgets;
    QList<QLabel*> m_textLabels;
};

// Inline runs as Qt rich text: escaped text in <i>, <b>, <code> and <a href>.
QString inlineRichText(const InlineText& runs);

} // namespace vellico::docs
