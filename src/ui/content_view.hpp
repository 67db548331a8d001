#pragma once

#include "model/editing_preset.hpp"
#include "ui/library_open_panel.hpp"
#include "ui/sheet_dialog.hpp"
#include "ui/sheet_presenter.hpp"

#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QProgressBar;
class QVBoxLayout;

namespace vellico::viewmodel {
class MainViewModel;
}

namespace vellico::ui {

class DropZone;
class ElidedLabel;
class FolderListView;

// The content of the main window: it shows the view model in each phase
// (introduction, analysis, summary with the folder list and the action bar,
// deletion, results) and presents the sheet the view model asks for. It
// holds no state of the application, only what the pointer and the sheets
// need; everything else is read from the view model whenever it changes.
// Fixed size 500 × 590. GUI thread.
class MainWindowContent : public QWidget {
    Q_OBJECT

public:
    explicit MainWindowContent(viewmodel::MainViewModel& viewModel, QWidget* parent = nullptr);
    ~MainWindowContent() override;

    // Opens the library panel, as a click on the drop zone does.
    void showOpenPanel();

    // The parts of the window, for tests and screenshots.
    DropZone* dropZone() const { return m_dropZone; }
    FolderListView* folderList() const { return m_folderList; }
    QPushButton* deleteButton() const { return m_deleteButton; }
    QPushButton* resetButton() const { return m_resetButton; }
    QPushButton* presetButton(model::EditingPreset preset) const;
    ElidedLabel* libraryName() const { return m_name; }
    // The summary's cache line: its label and its path.
    QLabel* cacheLabel() const { return m_cacheLabel; }
    ElidedLabel* cachePath() const { return m_cachePath; }
    QScrollArea* introductionArea() const { return m_introScroll; }
    QScrollArea* folderListArea() const { return m_listScroll; }
    QPushButton* tutorialLink() const { return m_tutorialLink; }
    // The results card of the done state; null otherwise.
    QWidget* resultCard() const { return m_resultCard; }
    QLabel* aliasBadge() const { return m_aliasBadge; }
    QLabel* librarySize() const { return m_totalSize; }
    QLabel* analysisStatusLine() const { return m_analysisStatus; }
    // The sheet on screen; null when none.
    SheetDialog* currentSheet() const { return m_sheets->current(); }
    // The open panel on screen; null when none.
    LibraryOpenPanel* openPanel() const { return m_openPanel; }

signals:
    // The documentation button was pressed.
    void documentationRequested();
    // Several libraries were dropped or chosen together: the application
    // opens the batch.
    void librariesOpened(const QList<QUrl>& urls);

protected:
    // Return and Enter press the focused button (a push button leaves them
    // to its parent when it is not a dialog's default).
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateDeletionProgress();
    void updateFilesScanned();

    QWidget* makeHeader();
    QWidget* makeErrorBanner();
    QWidget* makeAnalysisIndicator();
    QWidget* makeSummary();
    QWidget* makeIntroduction();
    QWidget* makeActionBar();

    void refresh();
    void refreshSummary();
    void refreshPanel();
    // The panel's card while deleting, and once done.
    void fillDeletingCard(QFrame* box, QVBoxLayout* column);
    void fillResultCard(QFrame* box, QVBoxLayout* column);
    void refreshActionBar();
    void updateTabOrder();
    void deleteClicked();

    viewmodel::MainViewModel& m_viewModel;

    DropZone* m_dropZone = nullptr;
    QWidget* m_errorBanner = nullptr;
    QLabel* m_errorText = nullptr;
    QWidget* m_analysis = nullptr;
    QLabel* m_analysisStatus = nullptr;
    QLabel* m_filesScanned = nullptr; // "n fichiers analysés" under the status

    QWidget* m_summary = nullptr;
    ElidedLabel* m_name = nullptr;
    QLabel* m_aliasBadge = nullptr;
    QLabel* m_totalSize = nullptr;
    ElidedLabel* m_path = nullptr;
    QWidget* m_cacheRow = nullptr;
    QLabel* m_cacheLabel = nullptr; // what the path is: the cache, or where it was expected
    ElidedLabel* m_cachePath = nullptr;
    QLabel* m_unreadable = nullptr; // folders that could not be read, when there are
    QWidget* m_reclaimableRow = nullptr;
    QLabel* m_reclaimableSize = nullptr;
    QWidget* m_emptyNotice = nullptr;

    QWidget* m_listDivider = nullptr;
    QScrollArea* m_listScroll = nullptr;
    FolderListView* m_folderList = nullptr;
    bool m_listShown = false;

    QScrollArea* m_panelScroll = nullptr;
    QWidget* m_panelCard = nullptr;
    QPointer<QWidget> m_resultCard; // the done card, while it shows
    bool m_doneShown = false;       // the done card was shown (and announced) already

    QWidget* m_introduction = nullptr;
    QScrollArea* m_introScroll = nullptr;
    QPushButton* m_tutorialLink = nullptr; // null when the link's address is not valid

    QWidget* m_actionDivider = nullptr;
    QWidget* m_actionBar = nullptr;
    QButtonGroup* m_presets = nullptr;
    QPushButton* m_resetButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QLabel* m_lockedLine = nullptr;
    QWidget* m_filler = nullptr;

    SheetPresenter* m_sheets;             // owned by this widget
    QPointer<QProgressBar> m_deletionBar; // on the deleting card, while it shows
    QPointer<QLabel> m_deletionCount;     // "n / m" under it
    QPointer<LibraryOpenPanel> m_openPanel;
};

} // namespace vellico::ui
