#include "ui/spinner.hpp"

#include "ui/theme.hpp"

#include <QPainter>

namespace vellico::ui {

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent)
{
    setFixedSize(diameter, diameter);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 8) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(2.0, width() / 9.0);
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.setPen(QPen(withOpacity(colors::secondary(), 0.25), pen));
    painter.drawEllipse(box);
    painter.setPen(QPen(colors::secondary(), pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, 100 * 16);
}

void Spinner::showEvent(QShowEvent*)
{
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent*)
{
    m_timer.stop();
}

} // namespace vellico::ui
