#include "ui/hover_popover.hpp"

#include "ui/theme.hpp"

#include <QGuiApplication>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>

namespace vellico::ui {

namespace {
constexpr int cornerRadius = 8;
} // namespace

HoverPopover::HoverPopover(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, &HoverPopover::show);
}

HoverPopover::~HoverPopover()
{
    // The window has no parent (a tool tip is a top-level window).
    delete m_window;
}

void HoverPopover::pointerEntered(const QString& key, const QString& text, QWidget* anchor)
{
    m_pendingKey = key;
    m_pendingText = text;
    m_pendingAnchor = anchor;
    m_timer.start();
}

void HoverPopover::pointerLeft()
{
    m_timer.stop();
    if (m_window) {
        m_window->hide();
    }
    if (m_hovered) {
        m_hovered.reset();
        emit hoveredTooltipChanged();
    }
}

void HoverPopover::dismiss()
{
    pointerLeft();
}

void HoverPopover::show()
{
    QWidget* anchor = m_pendingAnchor;
    if (!anchor || !anchor->isVisible()) {
        return;
    }
    if (!m_window) {
        m_window = new QFrame(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
        m_window->setAttribute(Qt::WA_ShowWithoutActivating);
        // The window's corners outside the rounded border are see-through
        // (where the desktop composites) and cut off by the mask (where it
        // does not), so no square corners show behind the border.
        m_window->setAttribute(Qt::WA_TranslucentBackground);
        m_window->setObjectName(QStringLiteral("hoverPopover"));
        m_window->setStyleSheet(QStringLiteral("#hoverPopover { background: %1; border: 1px solid "
                                               "%2; border-radius: %3px; }")
                                    .arg(css(QColor(52, 52, 56)), css(QColor(90, 90, 96)))
                                    .arg(cornerRadius));
        auto* layout = new QVBoxLayout(m_window);
        // A fixed width and free height: the layout sizes the window to the
        // wrapped text.
        layout->setSizeConstraint(QLayout::SetFixedSize);
        layout->setContentsMargins(10, 10, 10, 10);
        m_label = new QLabel(m_window);
        m_label->setWordWrap(true);
        m_label->setFixedWidth(width - 20);
        styleLabel(m_label, TextStyle::callout, colors::primary());
        layout->addWidget(m_label);
    }
    m_label->setText(m_pendingText);
    m_window->adjustSize();
    QPainterPath outline;
    outline.addRoundedRect(QRectF(m_window->rect()), cornerRadius, cornerRadius);
    m_window->setMask(QRegion(outline.toFillPolygon().toPolygon()));
    const QRect row(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    QPoint topLeft(row.center().x() - m_window->width() / 2, row.bottom() + 4);
    if (const QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), area.left(), area.right() - m_window->width()));
        if (topLeft.y() + m_window->height() > area.bottom()) {
            topLeft.setY(row.top() - 4 - m_window->height());
        }
    }
    m_window->move(topLeft);
    m_window->show();
    m_hovered = m_pendingKey;
    emit hoveredTooltipChanged();
}

} // namespace vellico::ui
