#include "ui/documentation_view.hpp"

#include "ui/accessibility.hpp"

#include "docs/documentation_parser.hpp"
#include "ui/theme.hpp"

#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

namespace vellico::docs {

using ui::colors::accent;
using ui::colors::primary;
using ui::colors::secondary;

namespace {

constexpr int sidePadding = 30;
constexpr int scrollAnimationMs = 250;

QFont systemFont(int pixels, QFont::Weight weight = QFont::Normal)
{
    QFont font = ui::styleFont(ui::TextStyle::body);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QString fromStd(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The "list.bullet" symbol: three dots, each followed by a line.
QPixmap listBulletPixmap(int size, const QColor& color)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const qreal step = size / 3.0;
    for (int row = 0; row < 3; ++row) {
        const qreal centre = step * (row + 0.5);
        painter.drawEllipse(QPointF(size * 0.12, centre), size * 0.09, size * 0.09);
        painter.drawRoundedRect(QRectF(size * 0.32, centre - size * 0.05, size * 0.66, size * 0.1),
                                size * 0.05, size * 0.05);
    }
    return pixmap;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: %1;").arg(ui::css(QColor(255, 255, 255, 26))));
    return line;
}

// A widget that holds `inner` with padding around it.
QWidget* padded(QWidget* inner, int left, int top, int right, int bottom, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    inner->setParent(box);
    layout->addWidget(inner);
    return box;
}

} // namespace

QString inlineRichText(const InlineText& runs)
{
    QString html;
    for (const InlineRun& run : runs) {
        QString piece = fromStd(run.text).toHtmlEscaped();
        if (run.code) {
            piece = QStringLiteral("<code>%1</code>").arg(piece);
        }
        if (run.em) {
            piece = QStringLiteral("<i>%1</i>").arg(piece);
        }
        if (run.strong) {
            piece = QStringLiteral("<b>%1</b>").arg(piece);
        }
        if (!run.href.empty()) {
            piece = QStringLiteral("<a href=\"%1\" style=\"color: %2;\">%3</a>")
                        .arg(fromStd(run.href).toHtmlEscaped(), accent().name(), piece);
        }
        html += piece;
    }
    return html;
}

DocumentationView::DocumentationView(QWidget* parent)
    : DocumentationView(documentationLanguageCode(), embeddedHelpFileReader(), {}, parent)
{}

DocumentationView::DocumentationView(std::string lang, HelpFileReader read, UrlOpener openUrl,
                                     QWidget* parent)
    : QWidget(parent), m_selectedLang(std::move(lang)), m_read(std::move(read)),
      m_openUrl(std::move(openUrl))
{
    if (!m_openUrl) {
        m_openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    resize(620, 700);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildHeader();
    column->addWidget(divider(this));

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { "
                                           "background: transparent; }"));
    column->addWidget(m_scroll, 1);

    m_scrollAnimation = new QPropertyAnimation(m_scroll->verticalScrollBar(), "value", this);
    m_scrollAnimation->setDuration(scrollAnimationMs);
    m_scrollAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &DocumentationView::trackScrolledSection);

    reload();
}

std::vector<std::pair<QString, QString>> DocumentationView::languageEntries()
{
    return {
        {QStringLiteral("FR"), QStringLiteral("🇫🇷 FR")},
        {QStringLiteral("EN"), QStringLiteral("🇬🇧 EN")},
        {QStringLiteral("DE"), QStringLiteral("🇩🇪 DE")},
        {QStringLiteral("ES"), QStringLiteral("🇪🇸 ES")},
        {QStringLiteral("JA"), QStringLiteral("🇯🇵 JA")},
        {QStringLiteral("ZH"), QStringLiteral("🇨🇳 ZH")},
    };
}

void DocumentationView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(sidePadding, 8, sidePadding, 8);
    row->setSpacing(6);

    m_sectionBox = new QWidget(header);
    auto* sectionRow = new QHBoxLayout(m_sectionBox);
    sectionRow->setContentsMargins(0, 0, 0, 0);
    sectionRow->setSpacing(6);
    auto* symbol = new QLabel(m_sectionBox);
    const qreal ratio = devicePixelRatioF();
    QPixmap bullet = listBulletPixmap(qRound(12 * ratio), secondary());
    bullet.setDevicePixelRatio(ratio);
    symbol->setPixmap(bullet);
    sectionRow->addWidget(symbol);
    m_sectionButton = new QToolButton(m_sectionBox);
    m_sectionButton->setPopupMode(QToolButton::InstantPopup);
    m_sectionButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_sectionButton->setFont(systemFont(12));
    m_sectionButton->setAutoRaise(true);
    m_sectionButton->setStyleSheet(
        QStringLiteral(
            "QToolButton { border: none; background: transparent; color: %1; padding: 2px 4px; }"
            "QToolButton::menu-indicator { image: none; width: 0; }")
            .arg(ui::css(primary())));
    m_sectionButton->setMenu(new QMenu(m_sectionButton));
    sectionRow->addWidget(m_sectionButton);
    row->addWidget(m_sectionBox);
    row->addStretch(1);

    m_languagePicker = new QComboBox(header);
    m_languagePicker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // The flags' width is not measured from the text font: room for them.
    m_languagePicker->setMinimumContentsLength(7);
    for (const auto& [code, label] : languageEntries()) {
        m_languagePicker->addItem(label, code);
    }
    const int index = m_languagePicker->findData(fromStd(m_selectedLang));
    m_languagePicker->setCurrentIndex(std::max(index, 0));
    connect(m_languagePicker, &QComboBox::currentIndexChanged, this, [this](int chosen) {
        if (chosen >= 0) {
            setSelectedLang(m_languagePicker->itemData(chosen).toString().toStdString());
        }
    });
    row->addWidget(m_languagePicker);

    layout()->addWidget(header);
}

void DocumentationView::setSelectedLang(const std::string& lang)
{
    const int index = m_languagePicker->findData(fromStd(lang));
    if (index >= 0 && index != m_languagePicker->currentIndex()) {
        m_languagePicker->setCurrentIndex(index); // comes back here through the signal
        return;
    }
    if (lang == m_selectedLang) {
        return;
    }
    m_selectedLang = lang;
    reload();
}

std::vector<std::pair<int, QString>> DocumentationView::sections() const
{
    std::vector<std::pair<int, QString>> result;
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        if (m_blocks[i].kind == DocBlockKind::heading2) {
            result.emplace_back(static_cast<int>(i), fromStd(m_blocks[i].text));
        }
    }
    return result;
}

void DocumentationView::reload()
{
    m_scrollAnimation->stop();
    m_blocks = parseDocumentation(loadDocumentation(m_selectedLang, m_read));
    rebuildDocument();
    rebuildSectionMenu();
    const auto found = sections();
    setCurrentSection(found.empty() ? QString() : found.front().second);
}

void DocumentationView::rebuildDocument()
{
    m_blockWidgets.clear();
    m_textLabels.clear();
    auto* content = new QWidget;
    auto* stack = new QVBoxLayout(content);
    stack->setContentsMargins(sidePadding, sidePadding, sidePadding, sidePadding);
    stack->setSpacing(0);
    for (const DocBlock& block : m_blocks) {
        QWidget* widget = makeBlockWidget(block, content);
        stack->addWidget(widget);
        m_blockWidgets.push_back(widget);
    }
    stack->addStretch(1);
    m_scroll->setWidget(content); // deletes the previous document
    m_scroll->verticalScrollBar()->setValue(0);
}

void DocumentationView::rebuildSectionMenu()
{
    QMenu* menu = m_sectionButton->menu();
    menu->clear();
    const auto found = sections();
    for (std::size_t i = 0; i < found.size(); ++i) {
        QAction* action = menu->addAction(found[i].second);
        connect(action, &QAction::triggered, this,
                [this, i] { chooseSection(static_cast<int>(i)); });
    }
    m_sectionBox->setVisible(!found.empty());
}

void DocumentationView::setCurrentSection(const QString& title)
{
    m_sectionButton->setText(title);
    if (title == m_currentSection) {
        return;
    }
    m_currentSection = title;
    emit currentSectionChanged(title);
}

void DocumentationView::chooseSection(int sectionIndex)
{
    const auto found = sections();
    if (sectionIndex < 0 || sectionIndex >= static_cast<int>(found.size())) {
        return;
    }
    setCurrentSection(found[static_cast<std::size_t>(sectionIndex)].second);
    scrollToBlock(found[static_cast<std::size_t>(sectionIndex)].first);
}

void DocumentationView::scrollToBlock(int blockIndex, bool animated)
{
    QWidget* target = blockWidget(blockIndex);
    if (!target) {
        return;
    }
    // The document's geometry must be current before it can be measured.
    if (QWidget* content = m_scroll->widget(); content && content->layout()) {
        content->layout()->activate();
    }
    QScrollBar* bar = m_scroll->verticalScrollBar();
    const int end = std::clamp(target->y(), bar->minimum(), bar->maximum());
    m_scrollAnimation->stop();
    if (!animated || end == bar->value()) {
        bar->setValue(end);
        return;
    }
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(end);
    m_scrollAnimation->start();
}

void DocumentationView::trackScrolledSection()
{
    // While a chosen section is being scrolled to, the label already shows it.
    if (m_scrollAnimation->state() == QAbstractAnimation::Running) {
        return;
    }
    const int top = m_scroll->verticalScrollBar()->value();
    QString title;
    for (const auto& [index, sectionTitle] : sections()) {
        if (m_blockWidgets[static_cast<std::size_t>(index)]->y() > top + 1) {
            break;
        }
        title = sectionTitle;
    }
    if (!title.isEmpty()) {
        setCurrentSection(title);
    }
}

QWidget* DocumentationView::blockWidget(int index) const
{
    if (index < 0 || index >= static_cast<int>(m_blockWidgets.size())) {
        return nullptr;
    }
    return m_blockWidgets[static_cast<std::size_t>(index)];
}

QList<QLabel*> DocumentationView::textLabels() const
{
    return m_textLabels;
}

QLabel* DocumentationView::makeTextLabel(const QString& richText, int pixels, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    // A little more than the font's own line height: 3 points of spacing.
    label->setText(QStringLiteral("<div style=\"line-height: 125%;\">%1</div>").arg(richText));
    label->setFont(systemFont(pixels));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    label->setOpenExternalLinks(false);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(primary())));
    connect(label, &QLabel::linkActivated, this, &DocumentationView::openLink);
    m_textLabels.append(label);
    return label;
}

QWidget* DocumentationView::makeBlockWidget(const DocBlock& block, QWidget* parent)
{
    // Headings are headings for screen readers, which list them and jump
    // between them; the kind is set before the text, which a listening
    // reader is told about at once.
    const auto plainLabel = [this, parent](const DocBlock& heading, int pixels,
                                           QFont::Weight weight, const QColor& color) {
        auto* label = new QLabel(parent);
        ui::setAccessibleKind(label, ui::AccessibleKind::heading);
        label->setText(fromStd(heading.text));
        label->setAccessibleName(label->text());
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setFont(systemFont(pixels, weight));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(color)));
        m_textLabels.append(label);
        return label;
    };

    switch (block.kind) {
    case DocBlockKind::heading1:
        return padded(plainLabel(block, 24, QFont::Bold, primary()), 0, 8, 0, 12, parent);
    case DocBlockKind::heading2: {
        QLabel* label = plainLabel(block, 19, QFont::Bold, Qt::white);
        label->setObjectName(QStringLiteral("sectionHeading"));
        label->setStyleSheet(QStringLiteral("#sectionHeading { color: white; background: %1; "
                                            "border-radius: 6px; padding: 10px 12px; }")
                                 .arg(ui::css(ui::withOpacity(accent(), 0.45))));
        return padded(label, 0, 16, 0, 8, parent);
    }
    case DocBlockKind::heading3:
        return padded(plainLabel(block, 14, QFont::DemiBold, secondary()), 0, 12, 0, 4, parent);
    case DocBlockKind::paragraph:
        return padded(makeTextLabel(inlineRichText(block.inlineText), 13, parent), 0, 0, 0, 8,
                      parent);
    case DocBlockKind::listItem: {
        auto* row = new QWidget(parent);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 4);
        layout->setSpacing(6);
        auto* bullet = new QLabel(QStringLiteral("•"), row);
        bullet->setFont(systemFont(13));
        bullet->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(secondary())));
        layout->addWidget(bullet, 0, Qt::AlignTop);
        layout->addWidget(makeTextLabel(inlineRichText(block.inlineText), 13, row), 1,
                          Qt::AlignTop);
        return row;
    }
    case DocBlockKind::separator:
        return padded(divider(parent), 0, 12, 0, 12, parent);
    }
    return new QWidget(parent);
}

void DocumentationView::openLink(const QString& link)
{
    if (link.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive)) {
        emit supportMailRequested();
        return;
    }
    m_openUrl(QUrl(link));
}

} // namespace vellico::docs
