#include "ui/theme.hpp"

#include "i18n/translations.hpp"

#include <QApplication>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QWidget>

#include <algorithm>

namespace vellico::ui {

QFont styleFont(TextStyle style, std::optional<QFont::Weight> weight)
{
    int pixels = 13;
    QFont::Weight ownWeight = QFont::Normal;
    switch (style) {
    case TextStyle::title:
        pixels = 22;
        break;
    case TextStyle::title2:
        pixels = 17;
        break;
    case TextStyle::title3:
        pixels = 15;
        break;
    case TextStyle::headline:
        pixels = 13;
        ownWeight = QFont::Bold;
        break;
    case TextStyle::body:
        pixels = 13;
        break;
    case TextStyle::callout:
        pixels = 12;
        break;
    case TextStyle::subheadline:
        pixels = 11;
        break;
    case TextStyle::footnote:
    case TextStyle::caption:
    case TextStyle::caption2:
        pixels = 10;
        break;
    }
    QFont result = QApplication::font();
    result.setPixelSize(pixels);
    result.setWeight(weight.value_or(ownWeight));
    return result;
}

namespace colors {
QColor primary()
{
    return QColor(255, 255, 255, 230);
}
QColor secondary()
{
    // 70 % white: at least 4.5:1 (WCAG AA) on the window, the cards, the
    // orange banner and a focused row's tint, also for the smallest text.
    return QColor(235, 235, 245, 179);
}
QColor accent()
{
    return QColor(10, 132, 255);
}
QColor orange()
{
    return QColor(255, 159, 10);
}
QColor red()
{
    return QColor(255, 69, 58);
}
QColor redText()
{
    return QColor(255, 110, 100);
}
QColor green()
{
    return QColor(50, 215, 75);
}
QColor windowBackground()
{
    return QColor(40, 40, 43);
}
QColor controlBackground()
{
    return QColor(30, 30, 32);
}
QColor eventSymbol()
{
    return QColor::fromRgbF(0.365f, 0.369f, 0.878f);
}
} // namespace colors

QColor withOpacity(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QString css(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

void applyDarkTheme(QApplication& app)
{
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette;
    const QColor text(235, 235, 240);
    const QColor disabledText(120, 120, 128);
    const auto setAll = [&](QPalette::ColorRole role, const QColor& color) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
    };
    setAll(QPalette::Window, colors::windowBackground());
    setAll(QPalette::WindowText, text);
    setAll(QPalette::Base, colors::controlBackground());
    setAll(QPalette::AlternateBase, QColor(48, 48, 52));
    setAll(QPalette::ToolTipBase, QColor(50, 50, 54));
    setAll(QPalette::ToolTipText, text);
    setAll(QPalette::PlaceholderText, colors::secondary());
    setAll(QPalette::Text, text);
    setAll(QPalette::Button, QColor(62, 62, 66));
    setAll(QPalette::ButtonText, text);
    setAll(QPalette::BrightText, colors::red());
    setAll(QPalette::Light, QColor(80, 80, 86));
    setAll(QPalette::Midlight, QColor(66, 66, 72));
    setAll(QPalette::Mid, QColor(50, 50, 54));
    setAll(QPalette::Dark, QColor(22, 22, 24));
    setAll(QPalette::Shadow, QColor(0, 0, 0));
    setAll(QPalette::Highlight, colors::accent());
    setAll(QPalette::HighlightedText, QColor(255, 255, 255));
    setAll(QPalette::Link, colors::accent());
    setAll(QPalette::LinkVisited, colors::accent().lighter(120));

    palette.setColor(QPalette::Disabled, QPalette::Window, colors::windowBackground());
    palette.setColor(QPalette::Disabled, QPalette::Base, colors::controlBackground());
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(52, 52, 56));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 76));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Light, QColor(60, 60, 64));
    palette.setColor(QPalette::Disabled, QPalette::Mid, QColor(46, 46, 50));
    palette.setColor(QPalette::Disabled, QPalette::Dark, QColor(22, 22, 24));
    palette.setColor(QPalette::Disabled, QPalette::Link, disabledText);
    app.setPalette(palette);

    // Kana and Han in a proportional font with bold weights. The window's
    // family has no such glyphs, and fontconfig's own choice for Japanese is
    // often a fixed-width font without bold; the variant of the language
    // the window speaks comes first.
    QFont font = app.font();
    const bool chinese = i18n::activeLanguage() == i18n::Language::chinese;
    const QString japaneseCjk = QStringLiteral("Noto Sans CJK JP");
    const QString chineseCjk = QStringLiteral("Noto Sans CJK SC");
    font.setFamilies(
        {font.family(), chinese ? chineseCjk : japaneseCjk, chinese ? japaneseCjk : chineseCjk});
    app.setFont(font);
}

void styleLabel(QWidget* label, TextStyle style, const QColor& color,
                std::optional<QFont::Weight> weight)
{
    label->setFont(styleFont(style, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
}

void makeProminent(QWidget* button, const QColor& tint)
{
    button->setStyleSheet(
        // The border is always there, transparent until focused: a border
        // that appears with the focus would shrink the text area and clip it.
        QStringLiteral("QPushButton { background: %1; color: white; border: 2px solid transparent; "
                       "border-radius: 5px; padding: 2px 12px; font-weight: 600; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }"
                       "QPushButton:focus { outline: none; border: 2px solid %4; }"
                       "QPushButton:disabled { background: %5; color: %6; }")
            .arg(css(tint), css(tint.lighter(112)), css(tint.darker(120)),
                 css(withOpacity(QColor(255, 255, 255), 0.6)), css(withOpacity(tint, 0.3)),
                 css(withOpacity(QColor(255, 255, 255), 0.45))));
}

void makeStandard(QPushButton* button)
{
    // A minimum width rather than a style sheet, which would take over the
    // style's drawing (and its keyboard focus ring) for a bit of padding.
    constexpr int sidePadding = 16;
    button->setMinimumWidth(
        std::max(button->minimumWidth(),
                 button->fontMetrics().horizontalAdvance(button->text()) + 2 * sidePadding));
}

} // namespace vellico::ui
