#include "ui/content_view.hpp"

#include "product_config.hpp"
#include "ui/accessibility.hpp"
#include "ui/aligned_icon_label.hpp"
#include "ui/content_parts.hpp"
#include "ui/symbol_icons.hpp"
#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

// The introduction the empty window shows: what Vellico does, the three
// steps, and the tutorial link.
namespace vellico::ui {

using content::card;
using content::makeLabel;

QWidget* MainWindowContent::makeIntroduction()
{
    m_introduction = new QWidget(this);
    auto* outer = new QVBoxLayout(m_introduction);
    outer->setContentsMargins(28, 0, 28, 28);
    QFrame* box = card(m_introduction, 10);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(10);
    const auto paragraph = [box](const QString& text, TextStyle style, const QColor& color,
                                 std::optional<QFont::Weight> weight = std::nullopt) {
        QLabel* label = makeLabel(text, style, color, box, weight);
        label->setWordWrap(true);
        return label;
    };
    column->addWidget(paragraph(VELLICO_TEXT("intro - titre"), TextStyle::headline,
                                colors::primary(), QFont::DemiBold));
    column->addWidget(
        paragraph(VELLICO_TEXT("intro - paragraphe 1"), TextStyle::footnote, colors::secondary()));
    column->addWidget(
        paragraph(VELLICO_TEXT("intro - paragraphe 2"), TextStyle::footnote, colors::secondary()));
    QLabel* steps = paragraph(VELLICO_TEXT("intro - Trois étapes simples :"),
                              TextStyle::subheadline, colors::primary(), QFont::DemiBold);
    steps->setContentsMargins(0, 2, 0, 0);
    column->addWidget(steps);
    auto* list = new QVBoxLayout;
    list->setSpacing(4);
    const QFont sub = styleFont(TextStyle::subheadline);
    list->addWidget(new AlignedIconLabel(QStringLiteral("1.circle"),
                                         VELLICO_TEXT("intro - étape 1"), sub, colors::secondary(),
                                         box));
    list->addWidget(new AlignedIconLabel(QStringLiteral("2.circle"),
                                         VELLICO_TEXT("intro - étape 2"), sub, colors::secondary(),
                                         box));
    list->addWidget(new AlignedIconLabel(QStringLiteral("3.circle"),
                                         VELLICO_TEXT("intro - étape 3"), sub, colors::secondary(),
                                         box));
    column->addLayout(list);
    const QUrl tutorial(QString::fromUtf8(config::tutorialUrl.data(),
                                          static_cast<qsizetype>(config::tutorialUrl.size())),
                        QUrl::StrictMode);
    if (tutorial.isValid() && !tutorial.scheme().isEmpty()) {
        // A flat button that takes the focus and that assistive technology
        // sees as a link.
        const QString title = VELLICO_TEXT("intro - Tutoriel vidéo");
        auto* link = new QPushButton(box);
        setAccessibleKind(link, AccessibleKind::link); // before a reader hears of it
        link->setText(title);
        link->setObjectName(QStringLiteral("tutorialLink"));
        link->setFlat(true);
        link->setAutoDefault(false);
        link->setCursor(Qt::PointingHandCursor);
        link->setFont(sub);
        link->setIcon(
            QIcon(symbolPixmap(QStringLiteral("play.rectangle.fill"), QFontMetrics(sub).ascent(),
                               colors::accent(), QColor(), devicePixelRatioF())));
        link->setStyleSheet(QStringLiteral("#tutorialLink { color: %1; border: 1px solid "
                                           "transparent; border-radius: 4px; padding: 1px 2px; "
                                           "text-align: left; background: transparent; }"
                                           "#tutorialLink:focus { border-color: %1; }")
                                .arg(css(colors::accent())));
        link->setAccessibleName(title);
        link->setToolTip(tutorial.toString());
        connect(link, &QPushButton::clicked, this,
                [tutorial] { QDesktopServices::openUrl(tutorial); });
        m_tutorialLink = link;
        auto* holder = new QWidget(box);
        auto* row = new QHBoxLayout(holder);
        row->setContentsMargins(0, 2, 0, 0);
        row->addWidget(link);
        row->addStretch(1);
        column->addWidget(holder);
    }
    outer->addWidget(box);
    outer->addStretch(1);
    return m_introduction;
}

} // namespace vellico::ui
