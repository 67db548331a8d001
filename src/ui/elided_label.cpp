#include "ui/elided_label.hpp"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace vellico::ui {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setAlwaysShowsFullText(bool always)
{
    m_alwaysShowsFullText = always;
    elide();
}

void ElidedLabel::setFullText(const QString& text)
{
    m_fullText = text;
    setAccessibleName(text);
    elide();
    updateGeometry();
}

int ElidedLabel::lineHeight() const
{
    // At the small caption sizes the underscore's ink lies below the font's
    // descent: a line only as high as the font drew "Tournage_2024" as
    // "Tournage 2024".
    const QFontMetrics metrics = fontMetrics();
    return std::max(metrics.height(),
                    metrics.ascent() + metrics.boundingRect(QLatin1Char('_')).bottom() + 1);
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, lineHeight()};
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: the eliding measures in fractions, and a width rounded
    // down would shorten a text that fits.
    const qreal advance = QFontMetricsF(font()).horizontalAdvance(m_fullText);
    return {static_cast<int>(std::ceil(advance)) + 1, lineHeight()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, width());
    setText(shown);
    setToolTip(shown == m_fullText && !m_alwaysShowsFullText ? QString() : m_fullText);
}

} // namespace vellico::ui
