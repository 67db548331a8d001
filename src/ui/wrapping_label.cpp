#include "ui/wrapping_label.hpp"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace vellico::ui {

namespace {

// Wider than this, the label prefers to wrap rather than to widen its
// container (a sheet fixes its own width anyway).
constexpr int preferredMaximumWidth = 360;

// True for a character drawn as a colour picture: the pictographs above
// U+1F000, and any character asked for in emoji presentation (followed by
// U+FE0F, as in "⚠️").
bool isEmoji(char32_t code, char32_t next)
{
    return code >= 0x1F000 || next == 0xFE0F || code == 0x2705 || code == 0x274C || code == 0x2728;
}

// Where the text shows emoji: they all take one colour emoji font, so that
// "⚠️" does not come out as a grey glyph of the text font next to a colour
// "✅" (the text fonts have a glyph for the first, none for the second).
QList<QTextLayout::FormatRange> emojiFormats(const QString& text, const QFont& font)
{
    QList<QTextLayout::FormatRange> ranges;
    const QList<uint> codes = text.toUcs4();
    qsizetype at = 0; // in UTF-16 units
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const char32_t code = codes[i];
        const char32_t next = i + 1 < codes.size() ? codes[i + 1] : 0;
        const int length = code > 0xFFFF ? 2 : 1;
        if (isEmoji(code, next)) {
            QTextCharFormat format;
            QFont emoji = font;
            emoji.setFamilies({QStringLiteral("Noto Color Emoji"), font.family()});
            format.setFont(emoji);
            ranges.append({static_cast<int>(at), length + (next == 0xFE0F ? 1 : 0), format});
        }
        at += length;
    }
    return ranges;
}

} // namespace

WrappingLabel::WrappingLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

WrappingLabel::Layout WrappingLabel::layoutText(int width, QPainter* painter) const
{
    const QMargins margins = contentsMargins();
    const int textWidth = std::max(1, width - margins.left() - margins.right());
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(layoutDirection());
    Layout result;
    qreal y = margins.top();
    const QStringList paragraphs = text().split(QLatin1Char('\n'));
    for (const QString& paragraph : paragraphs) {
        if (paragraph.isEmpty()) {
            y += fontMetrics().lineSpacing();
            ++result.lines;
            continue;
        }
        QTextLayout layout(paragraph, font());
        layout.setTextOption(option);
        layout.setFormats(emojiFormats(paragraph, font()));
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(textWidth);
            qreal x = margins.left();
            const qreal free = textWidth - line.naturalTextWidth();
            if (horizontal & Qt::AlignHCenter) {
                x += free / 2;
            } else if (horizontal & Qt::AlignRight) {
                x += free;
            }
            line.setPosition(QPointF(x, y));
            y += line.height();
            ++result.lines;
        }
        layout.endLayout();
        if (painter) {
            layout.draw(painter, QPointF());
        }
    }
    result.height = static_cast<int>(std::ceil(y)) + margins.bottom();
    return result;
}

int WrappingLabel::heightForWidth(int width) const
{
    return layoutText(width, nullptr).height;
}

QSize WrappingLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    int natural = 0;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        natural = std::max(natural, fontMetrics().horizontalAdvance(paragraph));
    }
    const int width =
        std::min(natural + 1, preferredMaximumWidth) + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = fontMetrics().averageCharWidth() * 4 + margins.left() + margins.right();
    return {width, fontMetrics().height() + margins.top() + margins.bottom()};
}

int WrappingLabel::lineCount() const
{
    return layoutText(width(), nullptr).lines;
}

void WrappingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layoutText(width(), &painter);
}

} // namespace vellico::ui
