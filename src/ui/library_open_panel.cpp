#include "ui/library_open_panel.hpp"

#include "ui/ui_text.hpp"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QRegularExpression>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

namespace vellico::ui {

namespace {

// Keeps what the panel can hand on or walk through: folders (libraries among
// them), symbolic links, and the files that may be aliases. Hides the files
// that cannot be either. Reads nothing: the model's file information only.
class ListedItems final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) {
            return true;
        }
        return LibraryOpenPanel::isListed(files->fileInfo(files->index(row, 0, parent)));
    }
};

// "mov", "txt", "fcpxml": an extension that says what a file is. An alias
// copied from a Mac has none ("Film alias") or one with a blank
// ("Film.fcpbundle alias").
bool hasPlainExtension(const QFileInfo& info)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,8}$"));
    const QString suffix = info.suffix();
    return !suffix.isEmpty() && plain.match(suffix).hasMatch();
}

} // namespace

LibraryOpenPanel::LibraryOpenPanel(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::DontResolveSymlinks);
    // Several libraries may be chosen together: they open in the batch.
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(VELLICO_TEXT("Sélectionnez une bibliothèque Final Cut Pro"));
    setLabelText(QFileDialog::Accept, VELLICO_TEXT("Ouvrir"));
    // No name pattern can tell an alias: the proxy below does the sorting.
    setNameFilter(
        VELLICO_TEXT_FILL("Bibliothèques Final Cut Pro et alias (%1)", QStringLiteral("*")));
    setProxyModel(new ListedItems(this));
    setWindowModality(Qt::WindowModal);

    const QSettings settings;
    QString start = settings.value(QLatin1String(directoryKey)).toString();
    if (start.isEmpty()) {
        start = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        if (start.isEmpty() || !QFileInfo(start).isDir()) {
            start = QDir::homePath();
        }
    }
    setDirectory(start);

    // A double click (or Return in the list) on a library enters it before
    // accept() sees it: take the library and close instead.
    connect(this, &QFileDialog::directoryEntered, this, &LibraryOpenPanel::onDirectoryEntered);
}

bool LibraryOpenPanel::isLibraryName(const QString& name)
{
    return name.endsWith(QLatin1String(".fcpbundle"), Qt::CaseInsensitive);
}

bool LibraryOpenPanel::isLibraryItem(const QFileInfo& item)
{
    if (isLibraryName(item.fileName())) {
        return true;
    }
    // A link named anything ("Film (lien)") that leads to a library is the
    // user's shortcut to it: handed on as it is, not entered.
    return item.isSymLink() && item.isDir() &&
           isLibraryName(QFileInfo(item.canonicalFilePath()).fileName());
}

bool LibraryOpenPanel::isListed(const QFileInfo& item)
{
    if (item.isDir() || item.isSymLink() || isLibraryName(item.fileName())) {
        return true;
    }
    return !hasPlainExtension(item);
}

void LibraryOpenPanel::accept()
{
    const QStringList files = selectedFiles();
    if (files.size() > 1) {
        chooseSeveral(files);
        return;
    }
    if (files.size() == 1) {
        const QFileInfo info(files.front());
        if (info.isDir() && isLibraryItem(info)) {
            choose(info.filePath());
            return;
        }
    }
    // A plain folder is entered; a file closes the panel through done().
    QFileDialog::accept();
}

void LibraryOpenPanel::done(int result)
{
    if (result == QDialog::Accepted && m_chosen.isEmpty()) {
        const QStringList files = selectedFiles();
        if (files.isEmpty()) {
            QFileDialog::done(QDialog::Rejected);
            return;
        }
        if (files.size() > 1) {
            chooseSeveral(files);
            return;
        }
        m_chosen = QUrl::fromLocalFile(files.front());
        QSettings().setValue(QLatin1String(directoryKey), QFileInfo(files.front()).path());
        QFileDialog::done(result);
        emit librarySelected(m_chosen);
        return;
    }
    QFileDialog::done(result);
}

void LibraryOpenPanel::choose(const QString& path)
{
    m_chosen = QUrl::fromLocalFile(path);
    QSettings().setValue(QLatin1String(directoryKey), QFileInfo(path).path());
    QFileDialog::done(QDialog::Accepted);
    emit librarySelected(m_chosen);
}

void LibraryOpenPanel::chooseSeveral(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    m_chosen = urls.front();
    QSettings().setValue(QLatin1String(directoryKey), QFileInfo(paths.front()).path());
    QFileDialog::done(QDialog::Accepted);
    emit librariesSelected(urls);
}

void LibraryOpenPanel::onDirectoryEntered(const QString& directory)
{
    if (!isVisible() || !m_chosen.isEmpty()) {
        return;
    }
    const QFileInfo info(QDir::cleanPath(directory));
    if (isLibraryItem(info)) {
        choose(info.filePath());
    }
}

} // namespace vellico::ui
