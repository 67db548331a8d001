#pragma once

#include "model/folder_group.hpp"
#include "ui/hover_popover.hpp"

#include <QHash>
#include <QSet>
#include <QString>
#include <QWidget>

#include <functional>

class QVBoxLayout;

namespace vellico::viewmodel {
class MainViewModel;
}

namespace vellico::ui {

class GroupCheckbox;

// What a folder list shows: a library's found folders and the folders
// selected among them, read at each reload() and refreshSelection(). Null
// from `library`: no library. Both are called on the GUI thread only.
struct FolderListSource {
    std::function<const model::BundleInfo*()> library;
    std::function<const model::FolderSelection*()> selection;
};

// The found folders of the analysed library in collapsible groups, each
// group and folder with a check indicator that mirrors the selection, and an
// explanation popover on the rows that have one. The list never changes the
// selection: its indicators are read-only, follow the selection of its
// source, and a click on one only says why it does not change; a click on a
// group's header (but not on its indicator) expands or collapses it. The
// single window's list and each library's list in a batch are this one.
// GUI thread.
class FolderListView : public QWidget {
    Q_OBJECT

public:
    // The library and `selectedFolders` of the single window's view model;
    // the indicators follow each change of the selection.
    explicit FolderListView(viewmodel::MainViewModel& viewModel, QWidget* parent = nullptr);
    // Any other library: its owner calls refreshSelection() when the
    // selection changes.
    explicit FolderListView(FolderListSource source, QWidget* parent = nullptr);

    // What a click on a check indicator says (by default: the marks follow
    // the selection chosen at the bottom of the window).
    void setCheckMarkExplanation(const QString& text);

    // Rebuilds the rows from the view model's library, every group collapsed.
    // Call each time the list is shown anew.
    void reload();
    // Updates every indicator from the view model's selection.
    void refreshSelection();

    void toggleGroup(const QString& groupId);
    // The headers and folder rows that take the keyboard focus, in the
    // order they are shown (hidden rows are skipped by the focus anyway).
    // The list is one stop of the Tab key: only the item that last had the
    // focus (at first the first header) takes it from Tab; the arrow keys
    // move between the items, Right and Left open and close a group.
    QList<QWidget*> focusChain() const;
    // The item that the Tab key brings the focus to.
    QWidget* tabStop() const { return m_tabStop; }
    // False: the Tab key never stops in the list; its items take the focus
    // from the arrow keys and the pointer only (a list inside another list
    // that is the Tab stop). True by default.
    void setTabFocus(bool enabled);
    // Puts the focus on the first item, or on the last one shown; false
    // when the list has none.
    bool focusEdge(bool first);
    bool isExpanded(const QString& groupId) const { return m_expanded.contains(groupId); }
    const QSet<QString>& expandedGroups() const { return m_expanded; }

    HoverPopover& popover() { return m_popover; }

    // The widgets of one group or folder, for tests and accessibility tools;
    // null when there is none with that key.
    QWidget* groupHeader(const QString& groupId) const;
    GroupCheckbox* groupCheckbox(const QString& groupId) const;
    QWidget* folderRow(const QString& folderKey) const;
    GroupCheckbox* folderCheckbox(const QString& folderKey) const;

signals:
    // An arrow key would leave the list: Up on its first item or Left on a
    // closed group (-1), Down on its last item shown (1). The focus stays
    // where it is; the list's owner may move it on.
    void leaveRequested(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Group {
        model::FolderGroup group;
        QWidget* header = nullptr;
        QWidget* chevron = nullptr;
        GroupCheckbox* checkbox = nullptr;
        QWidget* rows = nullptr;
        QString size; // the folders' sum, formatted
    };
    struct Row {
        std::filesystem::path url;
        QWidget* row = nullptr;
        GroupCheckbox* checkbox = nullptr;
        QString size;
    };
    // What the pointer handling needs to know about a row.
    struct HoverTarget {
        QString key;
        QString text; // empty: the row has no explanation
    };

    QWidget* makeHeader(const model::FolderGroup& group, Group& entry);
    QWidget* makeRows(const model::FolderGroup& group);
    void animateRows(Group& entry, bool expand);
    void setTabStop(QWidget* item);
    // The headers and rows shown (rows of open groups), in order.
    QList<QWidget*> visibleItems() const;
    // Moves the focus from `item` by `step` items among the visible ones
    // (clamped at both ends); true when it moved.
    bool moveFocus(QWidget* item, int step);
    // Says why a check mark does not change the selection.
    void explainCheckMark(QWidget* mark);

    FolderListSource m_source;
    QString m_checkMarkWhy;
    QVBoxLayout* m_layout;
    std::vector<Group> m_groups;
    QHash<QString, Row> m_rows;
    QHash<QObject*, HoverTarget> m_hoverTargets;
    QHash<QObject*, QString> m_headerIds;
    QSet<QString> m_expanded;
    HoverPopover m_popover;
    QWidget* m_tabStop = nullptr;
    bool m_tabFocus = true;
};

} // namespace vellico::ui
