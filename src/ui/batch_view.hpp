#pragma once

#include "ui/delete_warning_sheet.hpp"
#include "viewmodel/batch_view_model.hpp"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vellico::ui {

class FolderListView;

// Several libraries in one window: the batch's totals at the top, the
// preset of every library, one row per library (expanding a row shows its
// folder list, the single window's, with its read-only check marks), the
// deletion's progress and its outcome.
//
// Keys: the list is one Tab stop and moves with the arrow keys (Right and
// Left open and close a row). Down on an open row goes into its folder
// list, whose items the arrows walk as the rows of the list (Up on its
// first item, Left on a closed group or Esc go back to the row; Down on its
// last item goes on to the next row), and Tab leaves the whole list from
// there too. Ctrl+1 and Ctrl+2 choose the preset; Ctrl+D deletes (after the
// confirmation, unless "Ne plus demander"); Ctrl+Esc is "Annuler"; Ctrl+L
// empties the list. GUI thread.
class BatchView : public QWidget {
    Q_OBJECT

public:
    explicit BatchView(viewmodel::BatchViewModel& viewModel, QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }
    QLabel* totals() const { return m_totals; }
    QLabel* status() const { return m_status; }
    QComboBox* presetPicker() const { return m_preset; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* clearButton() const { return m_clear; }
    // The confirmation on screen, if any.
    DeleteWarningSheet* warning() const { return m_warning; }
    // The item of row `id`; null when it has none.
    QTreeWidgetItem* item(int id) const;
    // The folder list of row `id`, made when the row is first expanded;
    // null before, or when the row has no analysis.
    FolderListView* folderList(int id) const;

signals:
    // The batch was emptied: the window goes back to a single library.
    void closed();
    // Items dropped on the batch: they join it.
    void librariesDropped(const QList<QUrl>& urls);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // What makes the items of a row: when none of it changed, a reload only
    // writes the texts again and the folder lists keep their state.
    struct Shape {
        int id = 0;
        bool analysed = false;
        qsizetype errors = 0;
        bool operator==(const Shape&) const = default;
    };

    void reload();
    void rebuild();
    void fillRow(QTreeWidgetItem* entry, const viewmodel::BatchRow& row);
    // Puts row `id`'s folder list in its item (once), with the groups in
    // `openGroups` open.
    void showFolderList(QTreeWidgetItem* entry, const QSet<QString>& openGroups = {});
    void refreshHeader();
    void deleteClicked();
    // The arrow keys of the list: Down onto an open row's folder list, or
    // Up onto it from the row below, puts the focus in it. True when handled.
    bool enterFolderList(int key);
    // From inside row `id`'s folder list: back to the row (-1), or on to
    // the item below the list (1).
    void leaveFolderList(int id, int direction);
    // Scrolls the list so that `widget`, inside an open row, is in view.
    void revealFocus(QWidget* widget);

    viewmodel::BatchViewModel& m_viewModel;
    QLabel* m_totals;
    QLabel* m_status;
    QComboBox* m_preset;
    QTreeWidget* m_list;
    QProgressBar* m_progress;
    QPushButton* m_delete;
    QPushButton* m_cancel;
    QPushButton* m_clear;
    QPointer<DeleteWarningSheet> m_warning;
    std::vector<Shape> m_shape; // of the items as last built
};

} // namespace vellico::ui
