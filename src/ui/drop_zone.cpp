#include "ui/drop_zone.hpp"

#include "ui/accessibility.hpp"
#include "ui/symbol_icons.hpp"
#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

namespace vellico::ui {

namespace {

QColor mix(const QColor& from, const QColor& to, qreal t)
{
    const auto lerp = [t](float a, float b) { return a + (b - a) * static_cast<float>(t); };
    return QColor::fromRgbF(lerp(from.redF(), to.redF()), lerp(from.greenF(), to.greenF()),
                            lerp(from.blueF(), to.blueF()), lerp(from.alphaF(), to.alphaF()));
}

// The first local file among the drag's URLs; empty when there is none.
QUrl firstFile(const QMimeData* data)
{
    if (!data || !data->hasUrls()) {
        return {};
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            return url;
        }
    }
    return {};
}

QString zoneText()
{
    return VELLICO_TEXT("Glissez une bibliothèque ici ou cliquez");
}

} // namespace

DropZone::DropZone(QWidget* parent) : QWidget(parent)
{
    // A button for assistive technology, which can press it. Set first: a
    // reader that listens already is told about the zone by what follows.
    setAccessibleKind(this, AccessibleKind::pressable);
    setAcceptDrops(true);
    setFixedHeight(120);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(zoneText());
    setAccessibleDescription(VELLICO_TEXT("Ouvre le panneau de choix d'une bibliothèque"));

    m_highlightAnimation.setDuration(200);
    m_highlightAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_highlightAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) {
                m_highlight = value.toReal();
                update();
            });
    // A spring that settles quickly with a small overshoot.
    m_scaleAnimation.setDuration(300);
    m_scaleAnimation.setEasingCurve(QEasingCurve(QEasingCurve::OutBack));
    connect(&m_scaleAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) {
                m_iconScale = value.toReal();
                update();
            });
}

void DropZone::setHovering(bool hovering)
{
    if (hovering != m_isHovering) {
        const bool was = isHighlighted();
        m_isHovering = hovering;
        if (was != isHighlighted()) {
            highlightChanged();
        }
    }
}

void DropZone::setDragOver(bool dragOver)
{
    if (dragOver != m_isDragOver) {
        const bool was = isHighlighted();
        m_isDragOver = dragOver;
        if (was != isHighlighted()) {
            highlightChanged();
        }
    }
}

void DropZone::highlightChanged()
{
    const bool on = isHighlighted();
    m_highlightAnimation.stop();
    m_highlightAnimation.setStartValue(m_highlight);
    m_highlightAnimation.setEndValue(on ? 1.0 : 0.0);
    m_highlightAnimation.start();
    m_scaleAnimation.stop();
    m_scaleAnimation.setStartValue(m_iconScale);
    m_scaleAnimation.setEndValue(on ? 1.1 : 1.0);
    m_scaleAnimation.start();
}

void DropZone::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF zone = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(zone, 14, 14);

    painter.fillPath(
        shape, mix(colors::controlBackground(), withOpacity(colors::accent(), 0.07), m_highlight));
    QPen outline(mix(withOpacity(colors::secondary(), 0.35), colors::accent(), m_highlight), 2);
    outline.setDashPattern({4.0, 2.5}); // 8 on, 5 off at a width of 2
    painter.setPen(outline);
    painter.drawPath(shape);

    const QColor foreground = mix(colors::secondary(), colors::accent(), m_highlight);
    const QColor textColor = mix(colors::primary(), colors::accent(), m_highlight);
    const QFont textFont = styleFont(TextStyle::subheadline, QFont::Medium);
    const QFontMetrics metrics(textFont);
    const int iconHeight = 34;
    const int blockHeight = iconHeight + 10 + metrics.height();
    const qreal top = (height() - blockHeight) / 2.0;

    const QPixmap icon = symbolPixmap(QStringLiteral("tray.and.arrow.down"), iconHeight, foreground,
                                      QColor(), devicePixelRatioF() * 1.2);
    const QSizeF iconSize = icon.deviceIndependentSize() * m_iconScale;
    const QPointF iconCentre(width() / 2.0, top + iconHeight / 2.0);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(
        QRectF(iconCentre - QPointF(iconSize.width(), iconSize.height()) / 2, iconSize), icon,
        QRectF(QPointF(0, 0), QSizeF(icon.size())));

    painter.setFont(textFont);
    painter.setPen(textColor);
    painter.drawText(QRectF(0, top + iconHeight + 10, width(), metrics.height()),
                     Qt::AlignHCenter | Qt::AlignVCenter, zoneText());

    if (hasFocus()) {
        painter.setPen(QPen(withOpacity(colors::accent(), 0.6), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(zone.adjusted(3, 3, -3, -3), 11, 11);
    }
}

void DropZone::enterEvent(QEnterEvent*)
{
    setHovering(true);
}

void DropZone::leaveEvent(QEvent*)
{
    setHovering(false);
}

void DropZone::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
}

void DropZone::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = std::exchange(m_pressed, false);
    if (wasPressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void DropZone::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void DropZone::dragEnterEvent(QDragEnterEvent* event)
{
    if (firstFile(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDragOver(true);
}

void DropZone::dragMoveEvent(QDragMoveEvent* event)
{
    if (firstFile(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent*)
{
    setDragOver(false);
}

void DropZone::dropEvent(QDropEvent* event)
{
    setDragOver(false);
    const QUrl url = firstFile(event->mimeData());
    if (url.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    QList<QUrl> files;
    for (const QUrl& candidate : event->mimeData()->urls()) {
        if (candidate.isLocalFile()) {
            files.append(candidate);
        }
    }
    if (files.size() > 1) {
        QMetaObject::invokeMethod(
            this, [this, files] { emit librariesDropped(files); }, Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, url] { emit libraryDropped(url); }, Qt::QueuedConnection);
}

} // namespace vellico::ui
