#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QString>

// The symbols and artwork of the window: SVG files of our own in the
// ":/icons" resource, named after the symbol they stand for
// ("exclamationmark.triangle.fill", "tray.and.arrow.down", …). Symbols are
// drawn in one or two colours: their first colour is written #000001 in the
// file and their second #000002; the artwork ("vellico", "fcpcache-icon",
// "FCP-icons") keeps its own colours.
namespace vellico::ui {

// The symbol `name` at `height` pixels (its width follows the file's aspect)
// for a screen of `devicePixelRatio`. `second` defaults to `first`. An unknown
// name gives an empty transparent pixmap of that size.
QPixmap symbolPixmap(const QString& name, int height, const QColor& first,
                     const QColor& second = QColor(), qreal devicePixelRatio = 1.0);

// True when the resource holds a drawing for `name`.
bool hasSymbol(const QString& name);

// A label that shows one symbol, optionally in a frame of fixed width
// (centred), so that icons of different widths line up.
class SymbolLabel : public QLabel {
    Q_OBJECT

public:
    SymbolLabel(const QString& name, int height, const QColor& first, QWidget* parent = nullptr,
                int frameWidth = 0);
    void setSymbol(const QString& name, const QColor& first, const QColor& second = QColor());
    const QString& symbol() const { return m_name; }

private:
    QString m_name;
    int m_height;
};

} // namespace vellico::ui
