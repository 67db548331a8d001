#include "ui/folder_list_view.hpp"

#include "ui/group_checkbox.hpp"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

#include <algorithm>

// The folder list's keyboard and pointer: hover help on check marks and
// titles, and focus moving through the group headers and the rows of the
// open groups, as one Tab stop with arrow keys.
namespace vellico::ui {

bool FolderListView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::Leave: {
        const auto target = m_hoverTargets.constFind(watched);
        if (target == m_hoverTargets.cend() || target->text.isEmpty()) {
            break; // no explanation: the pointer changes nothing
        }
        if (event->type() == QEvent::Enter) {
            m_popover.pointerEntered(target->key, target->text, static_cast<QWidget*>(watched));
        } else {
            m_popover.pointerLeft();
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto header = m_headerIds.constFind(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (header != m_headerIds.cend() && mouse->button() == Qt::LeftButton &&
            static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint())) {
            toggleGroup(*header);
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
        if (m_hoverTargets.contains(watched)) {
            setTabStop(static_cast<QWidget*>(watched));
        }
        break;
    case QEvent::KeyPress: {
        const auto header = m_headerIds.constFind(watched);
        auto* item = static_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (header != m_headerIds.cend() &&
            (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            toggleGroup(*header);
            return true;
        }
        if (!m_hoverTargets.contains(watched)) {
            break;
        }
        switch (key) {
        case Qt::Key_Down:
            if (!moveFocus(item, 1)) {
                emit leaveRequested(1);
            }
            return true;
        case Qt::Key_Up:
            if (!moveFocus(item, -1)) {
                emit leaveRequested(-1);
            }
            return true;
        case Qt::Key_Home:
            moveFocus(item, -static_cast<int>(m_hoverTargets.size()));
            return true;
        case Qt::Key_End:
            moveFocus(item, static_cast<int>(m_hoverTargets.size()));
            return true;
        case Qt::Key_Right:
            if (header != m_headerIds.cend() && !m_expanded.contains(*header)) {
                toggleGroup(*header);
            }
            return true;
        case Qt::Key_Left:
            if (header != m_headerIds.cend()) {
                if (m_expanded.contains(*header)) {
                    toggleGroup(*header);
                } else {
                    emit leaveRequested(-1);
                }
                return true;
            }
            // On a row: back to its group's header.
            for (const Group& entry : m_groups) {
                if (entry.rows->isAncestorOf(item)) {
                    entry.header->setFocus(Qt::OtherFocusReason);
                }
            }
            return true;
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FolderListView::setTabStop(QWidget* item)
{
    if (item == m_tabStop) {
        return;
    }
    if (m_tabStop) {
        m_tabStop->setFocusPolicy(Qt::ClickFocus);
    }
    m_tabStop = item;
    if (item) {
        item->setFocusPolicy(m_tabFocus ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void FolderListView::setTabFocus(bool enabled)
{
    m_tabFocus = enabled;
    if (m_tabStop) {
        m_tabStop->setFocusPolicy(enabled ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

bool FolderListView::focusEdge(bool first)
{
    const QList<QWidget*> visible = visibleItems();
    if (visible.isEmpty()) {
        return false;
    }
    (first ? visible.front() : visible.back())->setFocus(Qt::OtherFocusReason);
    return true;
}

QList<QWidget*> FolderListView::visibleItems() const
{
    QList<QWidget*> visible;
    for (QWidget* candidate : focusChain()) {
        // A row of a group that is closing is still visible for a moment.
        bool shown = candidate->isVisibleTo(this);
        for (const Group& entry : m_groups) {
            if (entry.rows->isAncestorOf(candidate)) {
                shown = shown && m_expanded.contains(QString::fromStdString(entry.group.id));
            }
        }
        if (shown) {
            visible.append(candidate);
        }
    }
    return visible;
}

bool FolderListView::moveFocus(QWidget* item, int step)
{
    const QList<QWidget*> visible = visibleItems();
    const qsizetype at = visible.indexOf(item);
    if (at < 0 || visible.isEmpty()) {
        return false;
    }
    const qsizetype to = std::clamp<qsizetype>(at + step, 0, visible.size() - 1);
    if (to == at) {
        return false;
    }
    visible[to]->setFocus(Qt::OtherFocusReason);
    return true;
}

void FolderListView::explainCheckMark(QWidget* mark)
{
    QToolTip::showText(mark->mapToGlobal(QPoint(mark->width() / 2, mark->height())), m_checkMarkWhy,
                       mark);
}

QList<QWidget*> FolderListView::focusChain() const
{
    QList<QWidget*> chain;
    for (const Group& entry : m_groups) {
        chain.append(entry.header);
        for (const model::FoundFolder& folder : entry.group.folders) {
            if (QWidget* row = folderRow(QString::fromStdString(folder.id.toString()))) {
                chain.append(row);
            }
        }
    }
    return chain;
}

} // namespace vellico::ui
