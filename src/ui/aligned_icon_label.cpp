#include "ui/aligned_icon_label.hpp"

#include "ui/symbol_icons.hpp"

#include <QFontMetrics>
#include <QHBoxLayout>

#include <algorithm>

namespace vellico::ui {

namespace {
constexpr int iconFrame = 14;
} // namespace

AlignedIconLabel::AlignedIconLabel(const QString& symbol, const QString& title, const QFont& font,
                                   const QColor& color, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    // The symbols leave a margin of a tenth of their box on each side: drawn
    // a little larger than the frame, the symbol itself fills the frame's
    // width (at the text's ascent, the introduction's circled digits were
    // barely readable).
    const int height = std::max(QFontMetrics(font).height(), iconFrame * 8 / 7);
    auto* icon = new SymbolLabel(symbol, height, color, this, iconFrame);
    m_title = new QLabel(title, this);
    m_title->setFont(font);
    m_title->setWordWrap(true);
    QPalette palette = m_title->palette();
    palette.setColor(QPalette::WindowText, color);
    m_title->setPalette(palette);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(m_title, 1, Qt::AlignVCenter);
    setAccessibleName(title);
}

} // namespace vellico::ui
