#pragma once

#include <QTimer>
#include <QWidget>

namespace vellico::ui {

// An indeterminate progress indicator: a turning arc, running while shown.
class Spinner : public QWidget {
    Q_OBJECT

public:
    explicit Spinner(int diameter, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
};

} // namespace vellico::ui
