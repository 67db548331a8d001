#include "ui/batch_view.hpp"

#include "model/editing_preset.hpp"
#include "ui/accessibility.hpp"
#include "ui/delete_warning_sheet.hpp"
#include "ui/folder_list_view.hpp"
#include "ui/ui_text.hpp"
#include "viewmodel/byte_count_formatter.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vellico::ui {

namespace {

using viewmodel::BatchRow;
using viewmodel::BatchViewModel;
using Phase = viewmodel::BatchViewModel::Phase;

enum Column { nameColumn, locationColumn, sizeColumn, reclaimableColumn, stateColumn };
constexpr int idRole = Qt::UserRole + 1;
constexpr int folderListRole = Qt::UserRole + 2; // true on the item that holds a folder list

QList<QUrl> localFiles(const QMimeData* data)
{
    QList<QUrl> files;
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files.append(url);
            }
        }
    }
    return files;
}

QString bytes(qint64 size)
{
    return size < 0 ? QString() : viewmodel::byteCountFormatter().string(size);
}

// What assistive tools read for a row: its name, sizes and state.
QString spokenRow(const BatchRow& row)
{
    return VELLICO_TEXT("%1 — taille %2, récupérable %3 — %4")
        .arg(row.name, bytes(row.totalSize), bytes(row.reclaimable),
             viewmodel::batchStateText(row));
}

} // namespace

BatchView::BatchView(BatchViewModel& viewModel, QWidget* parent)
    : QWidget(parent), m_viewModel(viewModel)
{
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);

    m_totals = new QLabel(this);
    m_totals->setWordWrap(true);
    QFont big = m_totals->font();
    big.setPointSizeF(big.pointSizeF() * 1.2);
    big.setBold(true);
    m_totals->setFont(big);
    layout->addWidget(m_totals);

    auto* presetRow = new QHBoxLayout;
    m_preset = new QComboBox(this);
    for (const model::EditingPreset preset : model::allEditingPresets) {
        m_preset->addItem(viewmodel::texts::translate(model::labelKey(preset)),
                          static_cast<int>(preset));
    }
    m_preset->setAccessibleName(VELLICO_TEXT("Préréglage de toutes les bibliothèques"));
    presetRow->addWidget(m_preset);
    presetRow->addStretch();
    layout->addLayout(presetRow);
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        if (const auto preset = model::editingPresetFromRaw(m_preset->itemData(index).toInt())) {
            m_viewModel.applyPreset(*preset);
        }
    });
    for (int i = 0; i < m_preset->count(); ++i) {
        auto* key = new QShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + i)), this);
        connect(key, &QShortcut::activated, this, [this, i] {
            m_preset->setCurrentIndex(i);
            emit m_preset->activated(i);
        });
    }

    m_list = new QTreeWidget(this);
    m_list->setColumnCount(5);
    m_list->setHeaderLabels({VELLICO_TEXT("Bibliothèque"), VELLICO_TEXT("Emplacement"),
                             VELLICO_TEXT("Taille"), VELLICO_TEXT("Récupérable"),
                             VELLICO_TEXT("État")});
    m_list->setAccessibleName(VELLICO_TEXT("Bibliothèques"));
    m_list->setRootIsDecorated(true);
    m_list->setUniformRowHeights(false); // an open row holds its folder list
    // A location's end (the folder holding the library) tells most.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->setTabKeyNavigation(false); // one Tab stop; the arrows move inside
    // An open row can be taller than the list: it scrolls by pixels, so
    // that every part of a folder list can be brought into view.
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->installEventFilter(this);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionResizeMode(nameColumn, QHeaderView::ResizeToContents);
    layout->addWidget(m_list, 1);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);

    auto* buttons = new QHBoxLayout;
    m_clear = new QPushButton(VELLICO_TEXT("Vider la liste"), this);
    m_clear->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_cancel = new QPushButton(VELLICO_TEXT("Annuler"), this);
    m_cancel->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Escape));
    m_delete = new QPushButton(VELLICO_TEXT("Supprimer"), this);
    m_delete->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    m_delete->setAutoDefault(false);
    buttons->addWidget(m_clear);
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_delete);
    layout->addLayout(buttons);

    connect(m_clear, &QPushButton::clicked, this, [this] {
        m_viewModel.clear();
        emit closed();
    });
    connect(m_cancel, &QPushButton::clicked, &m_viewModel, &BatchViewModel::cancel);
    connect(m_delete, &QPushButton::clicked, this, &BatchView::deleteClicked);

    connect(m_list, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* entry) {
        if (!entry->parent()) {
            showFolderList(entry);
        }
    });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { revealFocus(now); });
    connect(&m_viewModel, &BatchViewModel::rowsChanged, this, &BatchView::reload);
    connect(&m_viewModel, &BatchViewModel::phaseChanged, this, &BatchView::refreshHeader);
    connect(&m_viewModel, &BatchViewModel::searchCountChanged, this, &BatchView::refreshHeader);
    connect(&m_viewModel, &BatchViewModel::deletionProgressChanged, this,
            &BatchView::refreshHeader);
    connect(&m_viewModel, &BatchViewModel::presetChanged, this, [this] {
        m_preset->setCurrentIndex(m_preset->findData(static_cast<int>(m_viewModel.preset())));
    });
    connect(&m_viewModel, &BatchViewModel::deletionFinished, this, [this] {
        refreshHeader();
        announce(m_status);
    });
    reload();
}

QTreeWidgetItem* BatchView::item(int id) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* candidate = m_list->topLevelItem(i);
        if (candidate->data(nameColumn, idRole).toInt() == id) {
            return candidate;
        }
    }
    return nullptr;
}

void BatchView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void BatchView::dropEvent(QDropEvent* event)
{
    const QList<QUrl> files = localFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Queued: the drag source is released before the intake starts.
    QMetaObject::invokeMethod(
        this, [this, files] { emit librariesDropped(files); }, Qt::QueuedConnection);
}

void BatchView::reload()
{
    std::vector<Shape> shape;
    for (const BatchRow& row : m_viewModel.rows()) {
        shape.push_back({row.id, row.info.has_value(), row.errors.size()});
    }
    if (shape != m_shape) {
        m_shape = std::move(shape);
        rebuild();
        return;
    }
    // Same rows in the same order: only their texts and check marks change
    // (the progress of an analysis, a preset), so the open folder lists
    // keep their groups, focus and scroll.
    for (const BatchRow& row : m_viewModel.rows()) {
        if (QTreeWidgetItem* entry = item(row.id)) {
            fillRow(entry, row);
        }
        if (FolderListView* folders = folderList(row.id)) {
            folders->refreshSelection();
        }
    }
    refreshHeader();
}

void BatchView::rebuild()
{
    // Keep the current row, the open ones and their open groups across a
    // rebuild.
    QTreeWidgetItem* current = m_list->currentItem();
    while (current && current->parent()) {
        current = current->parent();
    }
    const int currentId = current ? current->data(nameColumn, idRole).toInt() : 0;
    QSet<int> expanded;
    QHash<int, QSet<QString>> openGroups;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const int id = m_list->topLevelItem(i)->data(nameColumn, idRole).toInt();
        if (m_list->topLevelItem(i)->isExpanded()) {
            expanded.insert(id);
        }
        if (const FolderListView* folders = folderList(id)) {
            openGroups.insert(id, folders->expandedGroups());
        }
    }
    const QSignalBlocker block(m_list);
    m_list->clear();
    // Items first, then what lays the list out again (a spanned column, an
    // open row, the current item): each of those lays out every row, so
    // doing it per row made a rebuild grow with the square of the rows.
    std::vector<QTreeWidgetItem*> holders;
    std::vector<std::pair<int, QTreeWidgetItem*>> entries;
    for (const BatchRow& row : m_viewModel.rows()) {
        auto* entry = new QTreeWidgetItem(m_list);
        entry->setData(nameColumn, idRole, row.id);
        fillRow(entry, row);
        entries.emplace_back(row.id, entry);
        for (const viewmodel::DeletionErrorEntry& error : row.errors) {
            auto* failure = new QTreeWidgetItem(entry);
            failure->setText(nameColumn, error.name);
            failure->setText(stateColumn, error.error);
        }
        if (row.info) {
            // The place of its folder list, made when the row is opened.
            auto* holder = new QTreeWidgetItem(entry);
            holder->setFlags(Qt::ItemIsEnabled);
            holder->setData(nameColumn, folderListRole, true);
            holders.push_back(holder);
        }
    }
    for (QTreeWidgetItem* holder : holders) {
        holder->setFirstColumnSpanned(true);
    }
    for (const auto& [id, entry] : entries) {
        if (expanded.contains(id)) {
            entry->setExpanded(true);
            showFolderList(entry, openGroups.value(id));
        }
        if (id == currentId) {
            m_list->setCurrentItem(entry);
        }
    }
    if (!m_list->currentItem() && m_list->topLevelItemCount() > 0) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    refreshHeader();
}

void BatchView::fillRow(QTreeWidgetItem* entry, const BatchRow& row)
{
    entry->setText(nameColumn, row.name);
    entry->setText(locationColumn, row.location);
    entry->setText(sizeColumn, bytes(row.totalSize));
    const bool counted = row.state == viewmodel::BatchRowState::ready ||
                         row.state == viewmodel::BatchRowState::cleaned ||
                         row.state == viewmodel::BatchRowState::failed ||
                         row.state == viewmodel::BatchRowState::deleting;
    entry->setText(reclaimableColumn, counted ? bytes(row.reclaimable) : QString());
    QString state = viewmodel::batchStateText(row);
    if (!row.detail.isEmpty() && row.state == viewmodel::BatchRowState::ready) {
        state += QStringLiteral(" — ") + row.detail; // a notice, such as a missing cache
    }
    entry->setText(stateColumn, state);
    entry->setToolTip(stateColumn, state);
    entry->setData(nameColumn, Qt::AccessibleTextRole, spokenRow(row));
}

void BatchView::showFolderList(QTreeWidgetItem* entry, const QSet<QString>& openGroups)
{
    QTreeWidgetItem* holder = nullptr;
    for (int i = 0; i < entry->childCount(); ++i) {
        if (entry->child(i)->data(nameColumn, folderListRole).toBool()) {
            holder = entry->child(i);
        }
    }
    if (!holder || m_list->itemWidget(holder, nameColumn)) {
        return;
    }
    const int id = entry->data(nameColumn, idRole).toInt();
    // The row is looked up at each read: rows move and go, ids stay.
    FolderListSource source{[this, id]() -> const model::BundleInfo* {
                                const BatchRow* row = m_viewModel.row(id);
                                return row && row->info ? &*row->info : nullptr;
                            },
                            [this, id]() -> const model::FolderSelection* {
                                const BatchRow* row = m_viewModel.row(id);
                                return row ? &row->selection : nullptr;
                            }};
    auto* folders = new FolderListView(std::move(source));
    folders->setCheckMarkExplanation(
        VELLICO_TEXT("Les cases suivent le préréglage choisi en haut de la liste, le même pour "
                     "toutes les bibliothèques : elles ne se changent pas une à une."));
    folders->setProperty("batchRowId", id);
    // The batch list is the Tab stop: the folder list is reached with the
    // arrows, from its row.
    folders->setTabFocus(false);
    connect(folders, &FolderListView::leaveRequested, this,
            [this, id](int direction) { leaveFolderList(id, direction); });
    folders->reload();
    for (const QString& group : openGroups) {
        folders->toggleGroup(group);
    }
    folders->installEventFilter(this);
    m_list->setItemWidget(holder, nameColumn, folders);
    holder->setSizeHint(nameColumn, QSize(0, folders->sizeHint().height()));
}

FolderListView* BatchView::folderList(int id) const
{
    QTreeWidgetItem* entry = item(id);
    for (int i = 0; entry && i < entry->childCount(); ++i) {
        if (entry->child(i)->data(nameColumn, folderListRole).toBool()) {
            return qobject_cast<FolderListView*>(m_list->itemWidget(entry->child(i), nameColumn));
        }
    }
    return nullptr;
}

bool BatchView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == m_list && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            return enterFolderList(key->key());
        }
        // A key that a folder list left unhandled would otherwise reach the
        // batch list behind it, whose type-ahead and arrows would move its
        // current row while the focus stays in the folder list. Shortcuts
        // (Ctrl, Alt) go on to the window.
        const bool typed =
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
        if (auto* folders = qobject_cast<FolderListView*>(watched); folders && typed) {
            if (key->key() == Qt::Key_Escape) {
                leaveFolderList(folders->property("batchRowId").toInt(), -1);
            }
            return true;
        }
    }
    // A group of a folder list opens or closes: its row grows or shrinks with it.
    if (event->type() == QEvent::LayoutRequest) {
        if (auto* folders = qobject_cast<FolderListView*>(watched)) {
            const int id = folders->property("batchRowId").toInt();
            QTreeWidgetItem* entry = item(id);
            for (int i = 0; entry && i < entry->childCount(); ++i) {
                if (m_list->itemWidget(entry->child(i), nameColumn) == folders) {
                    entry->child(i)->setSizeHint(nameColumn,
                                                 QSize(0, folders->sizeHint().height()));
                    // The tree takes the new height for the row, not for the
                    // widget in it: without a layout the list keeps its old
                    // height, squeezed (or spilling over the next row).
                    m_list->doItemsLayout();
                }
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool BatchView::enterFolderList(int key)
{
    if (key != Qt::Key_Down && key != Qt::Key_Up) {
        return false;
    }
    QTreeWidgetItem* current = m_list->currentItem();
    if (!current) {
        return false;
    }
    const bool down = key == Qt::Key_Down;
    QTreeWidgetItem* next = down ? m_list->itemBelow(current) : m_list->itemAbove(current);
    if (!next || !next->data(nameColumn, folderListRole).toBool()) {
        return false;
    }
    auto* folders = qobject_cast<FolderListView*>(m_list->itemWidget(next, nameColumn));
    if (folders && folders->focusEdge(down)) {
        // The row stays the list's current item while its folders have the focus.
        m_list->setCurrentItem(next->parent());
        return true;
    }
    // A folder list with nothing in it is stepped over.
    QTreeWidgetItem* beyond = down ? m_list->itemBelow(next) : next->parent();
    if (beyond) {
        m_list->setCurrentItem(beyond);
    }
    return true;
}

void BatchView::leaveFolderList(int id, int direction)
{
    QTreeWidgetItem* entry = item(id);
    if (!entry) {
        return;
    }
    QTreeWidgetItem* target = entry;
    if (direction > 0) {
        QTreeWidgetItem* holder = nullptr;
        for (int i = 0; i < entry->childCount(); ++i) {
            if (entry->child(i)->data(nameColumn, folderListRole).toBool()) {
                holder = entry->child(i);
            }
        }
        target = holder ? m_list->itemBelow(holder) : nullptr;
        if (!target) {
            return; // the last row: the focus stays on the last folder
        }
    }
    m_list->setCurrentItem(target);
    m_list->setFocus(Qt::OtherFocusReason);
    m_list->scrollToItem(target);
}

bool BatchView::focusNextPrevChild(bool next)
{
    // Tab from inside a folder list leaves the batch list as a whole, as
    // it does from the list itself.
    QWidget* focus = QApplication::focusWidget();
    if (focus && focus != m_list && m_list->isAncestorOf(focus)) {
        m_list->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
    return QWidget::focusNextPrevChild(next);
}

void BatchView::revealFocus(QWidget* widget)
{
    if (!widget || !m_list->viewport()->isAncestorOf(widget)) {
        return;
    }
    // The list scrolls by pixels: bring the focused header or folder into view.
    const QRect area = m_list->viewport()->rect();
    const QRect shown(widget->mapTo(m_list->viewport(), QPoint(0, 0)), widget->size());
    int shift = 0;
    if (shown.bottom() > area.bottom()) {
        shift = shown.bottom() - area.bottom();
    }
    if (shown.top() - shift < area.top()) {
        shift = shown.top() - area.top();
    }
    if (shift != 0) {
        QScrollBar* bar = m_list->verticalScrollBar();
        bar->setValue(bar->value() + shift);
    }
}

void BatchView::refreshHeader()
{
    const Phase phase = m_viewModel.phase();
    const auto& formatter = viewmodel::byteCountFormatter();
    if (phase == Phase::done) {
        // What the run did, against what it set out to do.
        m_totals->setText(viewmodel::texts::count(
            QT_TRANSLATE_NOOP("Vellico",
                              "%1 bibliothèques traitées — %2 libérés sur %3 récupérables"),
            m_viewModel.deletionCount(),
            {formatter.string(m_viewModel.freedSoFar()),
             formatter.string(m_viewModel.totalReclaimable())}));
    } else {
        m_totals->setText(viewmodel::texts::count(
            QT_TRANSLATE_NOOP("Vellico", "%1 bibliothèques à nettoyer — %2 récupérables sur %3"),
            m_viewModel.cleanableCount(),
            {formatter.string(m_viewModel.totalReclaimable()),
             formatter.string(m_viewModel.totalSize())}));
    }
    m_totals->setAccessibleName(m_totals->text());

    QString status;
    m_progress->setVisible(phase == Phase::deleting || phase == Phase::searching ||
                           phase == Phase::analysing);
    switch (phase) {
    case Phase::empty:
        status = VELLICO_TEXT("Aucune bibliothèque");
        break;
    case Phase::searching:
        status = VELLICO_TEXT_COUNT("Recherche en cours : %1 bibliothèques trouvées",
                                    m_viewModel.searchCount());
        m_progress->setRange(0, 0);
        break;
    case Phase::analysing:
        status = VELLICO_TEXT("Analyse des bibliothèques…");
        m_progress->setRange(0, 0);
        break;
    case Phase::ready:
        break;
    case Phase::deleting:
        status = VELLICO_TEXT("Bibliothèque %1 sur %2 — %3 libérés")
                     .arg(QString::number(m_viewModel.currentIndex()),
                          QString::number(m_viewModel.deletionCount()),
                          formatter.string(m_viewModel.freedSoFar()));
        m_progress->setRange(0, m_viewModel.deletionCount());
        m_progress->setValue(std::max(0, m_viewModel.currentIndex() - 1));
        break;
    case Phase::done: {
        const int failures = m_viewModel.failureCount();
        status =
            failures == 0 ? VELLICO_TEXT("Terminé !") : VELLICO_TEXT("Terminé avec des erreurs");
        status += QStringLiteral(" — ") +
                  VELLICO_TEXT_FILL("%1 libérés", formatter.string(m_viewModel.freedSoFar()));
        if (failures > 0) {
            status += QStringLiteral(" — ") +
                      VELLICO_TEXT_FILL("Bibliothèques en échec : %1", QString::number(failures));
        }
        if (m_viewModel.wasCancelled()) {
            status += QStringLiteral(" — ") + VELLICO_TEXT("Suppression interrompue");
        }
        break;
    }
    }
    m_status->setText(status);
    m_status->setAccessibleName(status);
    m_delete->setEnabled(phase == Phase::ready && m_viewModel.totalReclaimable() > 0);
    m_cancel->setEnabled(phase == Phase::deleting || phase == Phase::searching ||
                         phase == Phase::analysing);
    m_clear->setEnabled(phase != Phase::deleting);
    m_preset->setEnabled(phase != Phase::deleting && phase != Phase::done);
}

void BatchView::deleteClicked()
{
    if (m_viewModel.phase() != Phase::ready || m_warning) {
        return;
    }
    if (QSettings().value(QLatin1String(DeleteWarningSheet::skipKey), false).toBool()) {
        m_viewModel.startDeletion();
        return;
    }
    auto* warning =
        new DeleteWarningSheet(m_viewModel.totalReclaimable(), m_viewModel.cleanableCount(),
                               m_viewModel.folderCount(), m_viewModel.preset(), this);
    connect(warning, &DeleteWarningSheet::confirmed, this, [this] {
        if (m_warning) {
            m_warning->dismiss();
        }
        m_viewModel.startDeletion();
    });
    connect(warning, &DeleteWarningSheet::cancelled, this, [this] {
        if (m_warning) {
            m_warning->dismiss();
        }
    });
    m_warning = warning;
    warning->open();
}

} // namespace vellico::ui
