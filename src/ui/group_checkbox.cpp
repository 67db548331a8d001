#include "ui/group_checkbox.hpp"

#include "ui/accessibility.hpp"
#include "ui/theme.hpp"

#include <QPainter>
#include <QPainterPath>

namespace vellico::ui {

GroupCheckbox::GroupCheckbox(model::CheckState state, QWidget* parent)
    : QAbstractButton(parent), m_state(state)
{
    setFixedSize(16, 16);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoMousePropagation);
    setCheckable(false);
    // A check box for assistive technology, named by its owner after the
    // group or folder it stands for.
    setAccessibleKind(this, AccessibleKind::checkMark);
}

void GroupCheckbox::setState(model::CheckState state)
{
    if (state == m_state) {
        return;
    }
    m_state = state;
    notifyCheckedChanged(this);
    update();
}

void GroupCheckbox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    if (m_state == model::CheckState::none) {
        painter.setPen(QPen(colors::secondary(), 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 3, 3);
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(colors::accent());
    painter.drawRoundedRect(box, 3, 3);
    QPen mark(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mark);
    painter.setBrush(Qt::NoBrush);
    const QPointF c = box.center();
    if (m_state == model::CheckState::partial) {
        painter.drawLine(QPointF(c.x() - 3.5, c.y()), QPointF(c.x() + 3.5, c.y()));
    } else {
        QPainterPath tick;
        tick.moveTo(c.x() - 3.8, c.y() + 0.2);
        tick.lineTo(c.x() - 1.2, c.y() + 2.8);
        tick.lineTo(c.x() + 3.8, c.y() - 2.8);
        painter.drawPath(tick);
    }
}

} // namespace vellico::ui
