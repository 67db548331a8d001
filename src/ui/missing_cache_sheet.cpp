#include "ui/missing_cache_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtMath>

namespace vellico::ui {

MissingCacheSheet::MissingCacheSheet(const QString& cachePath, QWidget* parent)
    : SheetDialog(420, parent)
{
    addSymbol(QStringLiteral("exclamationmark.triangle.fill"), colors::orange());
    addTitle(VELLICO_TEXT("Cache externe introuvable"));
    auto* stack = new QVBoxLayout;
    stack->setSpacing(8);
    addMessage(VELLICO_TEXT("Le cache de la bibliothèque est introuvable. Il devrait se trouver "
                            "ici :"),
               colors::secondary(), stack);
    // Shown as it is, not translated, selectable for copying. A path has few
    // blanks, so it may wrap anywhere rather than widen the sheet.
    m_path = new QTextEdit(this);
    m_path->setReadOnly(true);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Read-only text: selectable and copyable, but no blinking caret that
    // would suggest it can be edited.
    m_path->setCursorWidth(0);
    m_path->setFrameShape(QFrame::NoFrame);
    m_path->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_path->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_path->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_path->setFont(styleFont(TextStyle::caption));
    m_path->setAccessibleName(VELLICO_TEXT("Emplacement attendu du cache"));
    m_path->setStyleSheet(
        QStringLiteral(
            "QTextEdit { background: %1; border-radius: 6px; color: %2; padding: 6px 12px; }")
            .arg(css(withOpacity(colors::secondary(), 0.1)), css(colors::secondary())));
    m_path->document()->setDocumentMargin(0);
    m_path->setPlainText(cachePath);
    QTextOption option = m_path->document()->defaultTextOption();
    option.setAlignment(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_path->document()->setDefaultTextOption(option);
    const int fieldWidth = 420 - 60;
    m_path->setFixedWidth(fieldWidth);
    m_path->document()->setTextWidth(fieldWidth - 24);
    m_path->setFixedHeight(qCeil(m_path->document()->size().height()) + 12);
    stack->addWidget(m_path);
    column()->addLayout(stack);

    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    QPushButton* analyse = makeButton(VELLICO_TEXT("Analyser"), ButtonStyle::prominent);
    connect(cancel, &QPushButton::clicked, this, [this] { emit responded(false); });
    connect(analyse, &QPushButton::clicked, this, [this] { emit responded(true); });
    setDefaultButton(analyse);
    setCancelButton(cancel);
    addButtonRow({cancel, analyse});
    finish();
}

} // namespace vellico::ui
