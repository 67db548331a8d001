#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

class QLabel;

namespace vellico::ui {

// The explanation popover of the folder list. One pending timer and one
// window for the whole list, so that at most one popover is open and moving
// over several rows opens only the last one: entering a row restarts the
// timer (the row before loses its turn), leaving a row cancels it and closes
// what is open. The window is a tool tip that never takes the focus nor
// grabs the mouse. GUI thread.
class HoverPopover : public QObject {
    Q_OBJECT

public:
    static constexpr int delayMs = 250;
    static constexpr int width = 280;

    explicit HoverPopover(QObject* parent = nullptr);
    ~HoverPopover() override;

    // The pointer entered the row `anchor` whose key is `key` and whose
    // explanation is `text`: after the delay, the popover opens under it.
    void pointerEntered(const QString& key, const QString& text, QWidget* anchor);
    // The pointer left a row: cancels what is pending and closes the popover.
    void pointerLeft();
    // Cancels and closes, as when the list is rebuilt.
    void dismiss();

    // The key of the row whose popover is shown; none when closed.
    const std::optional<QString>& hoveredTooltip() const { return m_hovered; }
    bool isPending() const { return m_timer.isActive(); }
    // The popover window (for tests and screenshots); null before the first one.
    QWidget* window() const { return m_window; }

signals:
    void hoveredTooltipChanged();

private:
    void show();

    QTimer m_timer;
    QString m_pendingKey;
    QString m_pendingText;
    QPointer<QWidget> m_pendingAnchor;
    std::optional<QString> m_hovered;
    QFrame* m_window = nullptr;
    QLabel* m_label = nullptr;
};

} // namespace vellico::ui
