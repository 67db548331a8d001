#pragma once

#include <QLabel>

class QPainter;

namespace vellico::ui {

// A plain-text label that wraps at word boundaries and, when a word is wider
// than the line (a library name without blanks, a path), inside the word,
// so it never asks for more width than it is given. "\n" starts a new line;
// an empty line keeps its height. Alignment and contents margins are the
// label's own; the text colour is the foreground role's. The text given
// stays whole for accessibility and copying: only the drawing wraps.
class WrappingLabel : public QLabel {
    Q_OBJECT

public:
    explicit WrappingLabel(const QString& text, QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The number of lines the text takes at the label's current width.
    int lineCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout {
        int height = 0;
        int lines = 0;
    };
    // Lays the text out in a text area `width` wide; draws it when
    // `painter` is given.
    Layout layoutText(int width, QPainter* painter) const;
};

} // namespace vellico::ui
