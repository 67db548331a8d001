#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

namespace vellico::ui {

// A label with a symbol before its title: the symbol sits centred in a
// frame 14 pixels wide, so that titles line up whatever the symbol's width.
class AlignedIconLabel : public QWidget {
    Q_OBJECT

public:
    AlignedIconLabel(const QString& symbol, const QString& title, const QFont& font,
                     const QColor& color, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return m_title; }

private:
    QLabel* m_title;
};

} // namespace vellico::ui
