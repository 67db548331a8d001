#include "ui/elided_label.hpp"

#include <QFontMetrics>

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

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, fontMetrics().height()};
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: the eliding measures in fractions, and a width rounded
    // down would shorten a text that fits.
    const qreal advance = QFontMetricsF(font()).horizontalAdvance(m_fullText);
    return {static_cast<int>(std::ceil(advance)) + 1, fontMetrics().height()};
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
