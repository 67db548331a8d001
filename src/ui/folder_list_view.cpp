#include "ui/folder_list_view.hpp"

#include "i18n/translations.hpp"
#include "model/target_folder_rule.hpp"
#include "ui/accessibility.hpp"
#include "ui/elided_label.hpp"
#include "ui/group_checkbox.hpp"
#include "ui/symbol_icons.hpp"
#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/main_view_model.hpp"
#include "viewmodel/texts.hpp"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QVariantAnimation>

#include <algorithm>

namespace vellico::ui {

namespace {

constexpr int animationMs = 150;

// The group's chevron: pointing right when collapsed, down when expanded,
// turning between the two.
class Chevron : public QWidget {
public:
    explicit Chevron(QWidget* parent) : QWidget(parent)
    {
        setFixedSize(10, 12);
        m_pixmap = symbolPixmap(QStringLiteral("chevron.right"), 8, colors::secondary(), QColor(),
                                devicePixelRatioF());
        m_animation.setDuration(animationMs);
        m_animation.setEasingCurve(QEasingCurve::InOutQuad);
        QObject::connect(&m_animation, &QVariantAnimation::valueChanged, this,
                         [this](const QVariant& value) {
                             m_angle = value.toReal();
                             update();
                         });
    }
    void turn(bool expanded)
    {
        m_animation.stop();
        m_animation.setStartValue(m_angle);
        m_animation.setEndValue(expanded ? 90.0 : 0.0);
        m_animation.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.translate(width() / 2.0, height() / 2.0);
        painter.rotate(m_angle);
        const QSizeF size = m_pixmap.deviceIndependentSize();
        painter.drawPixmap(QPointF(-size.width() / 2, -size.height() / 2), m_pixmap);
    }

private:
    QPixmap m_pixmap;
    qreal m_angle = 0;
    QVariantAnimation m_animation;
};

QLabel* label(const QString& text, TextStyle style, const QColor& color, QWidget* parent,
              std::optional<QFont::Weight> weight = std::nullopt)
{
    auto* result = new QLabel(text, parent);
    styleLabel(result, style, color, weight);
    return result;
}

// A row's title: it gives way to the row's count and size, shortened in the
// middle with the whole title as hover help.
ElidedLabel* nameLabel(const QString& text, TextStyle style, const QColor& color, QWidget* parent,
                       std::optional<QFont::Weight> weight = std::nullopt)
{
    auto* result = new ElidedLabel(parent);
    styleLabel(result, style, color, weight);
    result->setFullText(text);
    return result;
}

// A label that always shows its whole text, whatever the row's width.
QLabel* fixed(QLabel* label)
{
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return label;
}

QString sizeText(std::int64_t bytes)
{
    return viewmodel::byteCountFormatter().string(bytes);
}

// Why a click on a check mark changes nothing.
QString checkMarkWhy()
{
    return VELLICO_TEXT("Les cases suivent la sélection choisie en bas de la fenêtre "
                        "(« Montage en cours » ou « Montage terminé ») : elles ne se "
                        "changent pas une à une.");
}

QString checkStateText(model::CheckState state)
{
    switch (state) {
    case model::CheckState::all:
        return VELLICO_TEXT("sélectionné");
    case model::CheckState::partial:
        return VELLICO_TEXT("sélection partielle");
    case model::CheckState::none:
        break;
    }
    return VELLICO_TEXT("non sélectionné");
}

} // namespace

FolderListView::FolderListView(viewmodel::MainViewModel& viewModel, QWidget* parent)
    : FolderListView(FolderListSource{[&viewModel]() -> const model::BundleInfo* {
                                          const auto& info = viewModel.bundleInfo();
                                          return info ? &*info : nullptr;
                                      },
                                      [&viewModel]() -> const model::FolderSelection* {
                                          return &viewModel.selectedFolders();
                                      }},
                     parent)
{
    connect(&viewModel, &viewmodel::MainViewModel::selectedFoldersChanged, this,
            &FolderListView::refreshSelection);
}

FolderListView::FolderListView(FolderListSource source, QWidget* parent)
    : QWidget(parent), m_source(std::move(source)), m_checkMarkWhy(checkMarkWhy()),
      m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(28, 12, 28, 12);
    m_layout->setSpacing(6);
    m_layout->setAlignment(Qt::AlignTop);
    setAccessibleName(VELLICO_TEXT("Dossiers trouvés"));
    // Headers and rows show the keyboard focus with a tinted, outlined box.
    setStyleSheet(QStringLiteral("#groupHeader:focus, #folderRow:focus { background: %1; "
                                 "border: 1px solid %2; border-radius: 6px; }")
                      .arg(css(withOpacity(colors::accent(), 0.16)), css(colors::accent())));
}

void FolderListView::setCheckMarkExplanation(const QString& text)
{
    m_checkMarkWhy = text;
    for (const Group& entry : m_groups) {
        entry.checkbox->setAccessibleDescription(text);
    }
    for (const Row& row : m_rows) {
        row.checkbox->setAccessibleDescription(text);
    }
}

void FolderListView::reload()
{
    m_popover.dismiss();
    m_expanded.clear();
    m_hoverTargets.clear();
    m_headerIds.clear();
    m_rows.clear();
    m_groups.clear();
    m_tabStop = nullptr;
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    const model::BundleInfo* info = m_source.library();
    if (!info) {
        return;
    }
    const std::vector<model::FolderGroup> groups = model::groups(info->foundFolders);
    m_groups.reserve(groups.size());
    for (const model::FolderGroup& group : groups) {
        Group& entry = m_groups.emplace_back();
        entry.group = group;
        auto* section = new QWidget(this);
        auto* column = new QVBoxLayout(section);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addWidget(makeHeader(group, entry));
        entry.rows = makeRows(group);
        entry.rows->setParent(section);
        entry.rows->hide();
        column->addWidget(entry.rows);
        m_layout->addWidget(section);
    }
    if (!m_groups.empty()) {
        setTabStop(m_groups.front().header);
    }
    refreshSelection();
}

QWidget* FolderListView::makeHeader(const model::FolderGroup& group, Group& entry)
{
    const QString id = QString::fromStdString(group.id);
    auto* header = new AccessiblePanel(AccessibleKind::groupHeader, this);
    header->setCursor(Qt::PointingHandCursor);
    header->setFocusPolicy(Qt::ClickFocus);
    header->setObjectName(QStringLiteral("groupHeader"));
    header->setAttribute(Qt::WA_StyledBackground);
    header->installEventFilter(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 6, 0, 6);
    row->setSpacing(8);

    auto* chevron = new Chevron(header);
    entry.chevron = chevron;
    row->addWidget(chevron, 0, Qt::AlignVCenter);

    entry.checkbox = new GroupCheckbox(model::CheckState::none, header);
    connect(entry.checkbox, &GroupCheckbox::clicked, this,
            [this, mark = entry.checkbox] { explainCheckMark(mark); });
    row->addWidget(entry.checkbox, 0, Qt::AlignVCenter);

    const bool fixedGroup = group.id == model::backupsGroupId || group.id == model::rootGroupId;
    const QFont sub = styleFont(TextStyle::subheadline);
    auto* icon = new SymbolLabel(QString::fromStdString(group.icon), QFontMetrics(sub).height(),
                                 Qt::white, header, 16);
    if (!fixedGroup) {
        icon->setSymbol(QString::fromStdString(group.icon), Qt::white, colors::eventSymbol());
    }
    row->addWidget(icon, 0, Qt::AlignVCenter);

    const QString title = group.labelIsKey ? viewmodel::texts::translate(group.label)
                                           : viewmodel::texts::displayText(group.label);
    row->addWidget(
        nameLabel(title, TextStyle::subheadline, colors::primary(), header, QFont::Medium), 0,
        Qt::AlignVCenter);
    if (group.folders.size() >= 2) {
        row->addWidget(
            fixed(label(
                VELLICO_TEXT_FILL("(%1)", QString::fromStdString(i18n::formatCount(
                                              static_cast<std::int64_t>(group.folders.size())))),
                TextStyle::caption, colors::secondary(), header)),
            0, Qt::AlignVCenter);
    }
    row->addStretch(1);
    std::int64_t total = 0;
    for (const model::FoundFolder& folder : group.folders) {
        total += folder.size;
    }
    row->addWidget(
        fixed(label(sizeText(total), TextStyle::subheadline, colors::secondary(), header)), 0,
        Qt::AlignVCenter);

    const auto tooltip = model::groupTooltip(group, viewmodel::texts::textLookup());
    m_hoverTargets.insert(header, {id, tooltip ? QString::fromStdString(*tooltip) : QString()});
    m_headerIds.insert(header, id);
    header->setAccessibleName(title);
    header->setProperty("groupId", id);
    header->setProperty("expanded", false);
    entry.checkbox->setAccessibleName(title);
    entry.checkbox->setAccessibleDescription(m_checkMarkWhy);
    entry.size = sizeText(total);
    entry.header = header;
    return header;
}

QWidget* FolderListView::makeRows(const model::FolderGroup& group)
{
    auto* rows = new QWidget(this);
    auto* column = new QVBoxLayout(rows);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(2);
    for (const model::FoundFolder& folder : group.folders) {
        const QString key = QString::fromStdString(folder.id.toString());
        auto* rowWidget = new AccessiblePanel(AccessibleKind::folderRow, rows);
        rowWidget->installEventFilter(this);
        auto* row = new QHBoxLayout(rowWidget);
        row->setContentsMargins(18, 2, 0, 2);
        row->setSpacing(8);
        row->addSpacing(10);
        auto* checkbox = new GroupCheckbox(model::CheckState::none, rowWidget);
        connect(checkbox, &GroupCheckbox::clicked, this,
                [this, checkbox] { explainCheckMark(checkbox); });
        row->addWidget(checkbox, 0, Qt::AlignVCenter);
        const QString name = viewmodel::texts::displayText(model::displayName(folder));
        row->addWidget(nameLabel(name, TextStyle::caption, colors::secondary(), rowWidget), 0,
                       Qt::AlignVCenter);
        row->addStretch(1);
        row->addWidget(
            fixed(label(sizeText(folder.size), TextStyle::caption, colors::secondary(), rowWidget)),
            0, Qt::AlignVCenter);
        rowWidget->setAccessibleName(name);
        checkbox->setAccessibleDescription(m_checkMarkWhy);
        rowWidget->setFocusPolicy(Qt::ClickFocus);
        rowWidget->setObjectName(QStringLiteral("folderRow"));
        rowWidget->setAttribute(Qt::WA_StyledBackground);
        checkbox->setAccessibleName(name);
        column->addWidget(rowWidget);

        const auto tooltip = model::tooltipText(folder.name, viewmodel::texts::textLookup());
        m_hoverTargets.insert(rowWidget,
                              {key, tooltip ? QString::fromStdString(*tooltip) : QString()});
        m_rows.insert(key, Row{folder.url, rowWidget, checkbox, sizeText(folder.size)});
    }
    return rows;
}

void FolderListView::refreshSelection()
{
    static const model::FolderSelection nothing;
    const model::FolderSelection* source = m_source.selection();
    const model::FolderSelection& selected = source ? *source : nothing;
    // The focused header or row is heard with its size and its selection,
    // as its check mark cannot take the focus.
    const auto describe = [](QWidget* widget, const QString& size, model::CheckState state) {
        widget->setAccessibleDescription(size + QStringLiteral(", ") + checkStateText(state));
    };
    for (Group& entry : m_groups) {
        entry.checkbox->setState(model::checkState(entry.group, selected));
        describe(entry.header, entry.size, entry.checkbox->state());
    }
    for (Row& row : m_rows) {
        row.checkbox->setState(selected.contains(row.url) ? model::CheckState::all
                                                          : model::CheckState::none);
        describe(row.row, row.size, row.checkbox->state());
    }
}

void FolderListView::toggleGroup(const QString& groupId)
{
    for (Group& entry : m_groups) {
        if (QString::fromStdString(entry.group.id) != groupId) {
            continue;
        }
        const bool expand = !m_expanded.contains(groupId);
        if (expand) {
            m_expanded.insert(groupId);
        } else {
            m_expanded.remove(groupId);
        }
        // The Tab key must not aim at a row about to be hidden.
        if (!expand && m_tabStop && entry.rows->isAncestorOf(m_tabStop)) {
            const bool hadFocus = m_tabStop->hasFocus();
            setTabStop(entry.header);
            if (hadFocus) {
                entry.header->setFocus(Qt::OtherFocusReason);
            }
        }
        static_cast<Chevron*>(entry.chevron)->turn(expand);
        entry.header->setProperty("expanded", expand);
        notifyExpandedChanged(entry.header);
        animateRows(entry, expand);
        return;
    }
}

void FolderListView::animateRows(Group& entry, bool expand)
{
    QWidget* rows = entry.rows;
    // The rows slide from under the header and fade in; collapsing runs the
    // same way back and hides them at the end.
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(rows->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(rows);
        rows->setGraphicsEffect(effect);
    }
    const int fullHeight = rows->sizeHint().height();
    if (expand) {
        rows->setMaximumHeight(0);
        rows->show();
    }
    auto* group = new QParallelAnimationGroup(rows);
    auto* height = new QPropertyAnimation(rows, "maximumHeight", group);
    height->setDuration(animationMs);
    height->setEasingCurve(QEasingCurve::InOutQuad);
    height->setStartValue(expand ? 0 : rows->height());
    height->setEndValue(expand ? fullHeight : 0);
    auto* fade = new QPropertyAnimation(effect, "opacity", group);
    fade->setDuration(animationMs);
    fade->setStartValue(expand ? 0.0 : 1.0);
    fade->setEndValue(expand ? 1.0 : 0.0);
    const QString id = QString::fromStdString(entry.group.id);
    connect(group, &QAbstractAnimation::finished, rows, [this, rows, id] {
        // A quick second click may have reversed the toggle meanwhile.
        if (m_expanded.contains(id)) {
            rows->setMaximumHeight(QWIDGETSIZE_MAX);
            rows->show();
        } else {
            rows->hide();
        }
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

QWidget* FolderListView::groupHeader(const QString& groupId) const
{
    for (const Group& entry : m_groups) {
        if (QString::fromStdString(entry.group.id) == groupId) {
            return entry.header;
        }
    }
    return nullptr;
}

GroupCheckbox* FolderListView::groupCheckbox(const QString& groupId) const
{
    for (const Group& entry : m_groups) {
        if (QString::fromStdString(entry.group.id) == groupId) {
            return entry.checkbox;
        }
    }
    return nullptr;
}

QWidget* FolderListView::folderRow(const QString& folderKey) const
{
    const auto row = m_rows.constFind(folderKey);
    return row == m_rows.cend() ? nullptr : row->row;
}

GroupCheckbox* FolderListView::folderCheckbox(const QString& folderKey) const
{
    const auto row = m_rows.constFind(folderKey);
    return row == m_rows.cend() ? nullptr : row->checkbox;
}

} // namespace vellico::ui
