#pragma once

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace vellico::ui {

// The panel that picks a library. Qt's own file dialog (a native one cannot
// treat a folder as a package): a "*.fcpbundle" folder is chosen as one item,
// by Open, Return or a double click, instead of being entered; plain folders
// are entered as usual. Symbolic links to a library and alias files are
// handed on as they are, unresolved, whatever their names: the intake
// decides what they are. No name filter can tell an alias, so the panel
// lists every file but those whose extension says they are something else.
//
// Starts in the folder of the last library chosen (the setting
// "lastOpenPanelDirectory"), else in the Movies folder, else in the home
// folder. After a confirmed choice it stores the chosen item's parent folder
// there and emits `librarySelected`; a cancelled panel changes nothing.
// Window-modal through open(): no nested event loop.
class LibraryOpenPanel : public QFileDialog {
    Q_OBJECT

public:
    static constexpr const char* directoryKey = "lastOpenPanelDirectory";

    explicit LibraryOpenPanel(QWidget* parent = nullptr);

    // The item chosen; empty until the panel has been confirmed.
    const QUrl& chosenUrl() const { return m_chosen; }

    // True for a name ending in ".fcpbundle", in any letter case.
    static bool isLibraryName(const QString& name);
    // True for what the panel takes as one item instead of entering it: a
    // library, or a symbolic link to a library whatever the link's name.
    static bool isLibraryItem(const QFileInfo& item);
    // True for what the panel lists: folders, symbolic links, libraries and
    // the files that may be aliases (no extension, or one with a blank);
    // false for files whose plain extension says they are something else.
    static bool isListed(const QFileInfo& item);

    void accept() override;
    void done(int result) override;

signals:
    void librarySelected(const QUrl& url);
    // Several items chosen together (for the batch).
    void librariesSelected(const QList<QUrl>& urls);

private:
    void choose(const QString& path);
    void chooseSeveral(const QStringList& paths);
    void onDirectoryEntered(const QString& directory);

    QUrl m_chosen;
};

} // namespace vellico::ui
