#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

class QApplication;
class QPushButton;
class QWidget;

// The window's look: the dark palette, the colours the design names and the
// text styles. Sizes are given in pixels, which is what the design's points
// are on a 1x screen, so the fixed 500 × 590 window keeps its proportions
// whatever the desktop's DPI setting for points.
namespace vellico::ui {

enum class TextStyle {
    title,       // 22
    title2,      // 17
    title3,      // 15
    headline,    // 13, bold
    body,        // 13
    callout,     // 12
    subheadline, // 11
    footnote,    // 10
    caption,     // 10
    caption2,    // 10
};

// The font of a text style; `weight` overrides the style's own (headline is
// bold unless told otherwise).
QFont styleFont(TextStyle style, std::optional<QFont::Weight> weight = std::nullopt);

namespace colors {
QColor primary();   // main text
QColor secondary(); // secondary text and outlines
QColor accent();    // links, highlights, prominent buttons
QColor orange();
QColor red();
// Red for text: red() reads below 4.5:1 on the window's background.
QColor redText();
QColor green();
QColor windowBackground();
QColor controlBackground(); // cards and the drop zone
QColor eventSymbol();       // second colour of the event groups' symbol
} // namespace colors

// `color` with its alpha multiplied by `opacity`.
QColor withOpacity(QColor color, double opacity);

// "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& color);

// Fusion with a complete dark palette (active, inactive and disabled groups).
void applyDarkTheme(QApplication& app);

// Sets a label's font and text colour in one go.
void styleLabel(QWidget* label, TextStyle style, const QColor& color,
                std::optional<QFont::Weight> weight = std::nullopt);

// A push button in the prominent style, filled with `tint`.
void makeProminent(QWidget* button, const QColor& tint);

// A standard push button with room on both sides of its text (Fusion's own
// leaves almost none around a short word such as "Annuler"). Call after the
// text is set.
void makeStandard(QPushButton* button);

} // namespace vellico::ui
