#pragma once

#include <QList>
#include <QPixmap>
#include <QUrl>
#include <QVariantAnimation>
#include <QWidget>

namespace vellico::ui {

// The zone near the top of the window where a library is dropped, or
// clicked to open the panel. It accepts drags that carry at least one local
// file and refuses the rest (a text snippet does not even highlight it). On
// a drop it hands the first file on (several files: all of them, for the
// batch), with a queued call so the drag source is
// released before the intake starts. Whether the item is a library is the
// intake's business, not the zone's.
//
// Highlighted while the pointer is over it or a valid drag hovers it.
class DropZone : public QWidget {
    Q_OBJECT

public:
    explicit DropZone(QWidget* parent = nullptr);

    bool isHovering() const { return m_isHovering; }
    bool isDragOver() const { return m_isDragOver; }
    bool isHighlighted() const { return m_isHovering || m_isDragOver; }

    QSize sizeHint() const override { return {444, 120}; }

public slots:
    // What a click does, for assistive technology's press action.
    void activate() { emit clicked(); }

signals:
    // A file was dropped (emitted from the event loop after the drop).
    void libraryDropped(const QUrl& url);
    // Several local files dropped together (for the batch).
    void librariesDropped(const QList<QUrl>& urls);
    // The zone was clicked or activated from the keyboard.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setHovering(bool hovering);
    void setDragOver(bool dragOver);
    void highlightChanged();

    bool m_isHovering = false;
    bool m_isDragOver = false;
    bool m_pressed = false;
    qreal m_highlight = 0; // 0 normal, 1 highlighted, animated between
    qreal m_iconScale = 1; // 1.0 normal, 1.1 highlighted, with a slight overshoot
    QVariantAnimation m_highlightAnimation;
    QVariantAnimation m_scaleAnimation;
};

} // namespace vellico::ui
