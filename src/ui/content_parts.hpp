#pragma once

#include "ui/accessibility.hpp"
#include "ui/theme.hpp"
#include "viewmodel/byte_count_formatter.hpp"

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QObject>
#include <QScrollArea>
#include <QScrollBar>
#include <QString>

#include <cstdint>
#include <optional>

// Small builders the main window's content shares between its files.
namespace vellico::ui::content {

inline QString sizeText(std::int64_t bytes)
{
    return viewmodel::byteCountFormatter().string(bytes);
}

inline QLabel* makeLabel(const QString& text, TextStyle style, const QColor& color, QWidget* parent,
                         std::optional<QFont::Weight> weight = std::nullopt)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    styleLabel(label, style, color, weight);
    return label;
}

inline QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(css(QColor(255, 255, 255, 26))));
    return line;
}

// A card: a rounded rectangle in the control background colour; `kind`,
// when given, is what assistive technology is told it is.
inline QFrame* card(QWidget* parent, int radius, std::optional<AccessibleKind> kind = std::nullopt)
{
    auto* frame = new QFrame(parent);
    if (kind) {
        setAccessibleKind(frame, *kind);
    }
    frame->setObjectName(QStringLiteral("card"));
    frame->setStyleSheet(QStringLiteral("#card { background: %1; border-radius: %2px; }")
                             .arg(css(colors::controlBackground()))
                             .arg(radius));
    return frame;
}

// `trailingMargin`: the blank at the end of the content; when only that
// much is out of view, nothing is hidden and the bar stays away.
inline QScrollArea* scrollArea(QWidget* parent, int trailingMargin)
{
    auto* scroll = new QScrollArea(parent);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Not a tab stop of its own: the rows inside take the focus, and the
    // area scrolls to the focused one. The bar shows only when there is
    // something to scroll.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QObject::connect(scroll->verticalScrollBar(), &QScrollBar::rangeChanged, scroll,
                     [scroll, trailingMargin](int, int maximum) {
                         scroll->setVerticalScrollBarPolicy(maximum <= trailingMargin
                                                                ? Qt::ScrollBarAlwaysOff
                                                                : Qt::ScrollBarAsNeeded);
                     });
    scroll->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { "
                                         "background: transparent; }"));
    return scroll;
}

} // namespace vellico::ui::content
