#include "ui/library_open_panel.hpp"

#include "ui/ui_text.hpp"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace vellico::ui {

LibraryOpenPanel::LibraryOpenPanel(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::DontResolveSymlinks);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(VELLICO_TEXT("Sélectionnez une bibliothèque Final Cut Pro"));
    setLabelText(QFileDialog::Accept, VELLICO_TEXT("Ouvrir"));
    setNameFilter(VELLICO_TEXT_FILL("Bibliothèques Final Cut Pro (%1)",
                                    QStringLiteral("*.fcpbundle *.FCPBUNDLE")));
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

void LibraryOpenPanel::accept()
{
    const QStringList files = selectedFiles();
    if (files.size() == 1) {
        const QFileInfo info(files.front());
        if (info.isDir() && isLibraryName(info.fileName())) {
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

void LibraryOpenPanel::onDirectoryEntered(const QString& directory)
{
    if (!isVisible() || !m_chosen.isEmpty()) {
        return;
    }
    const QFileInfo info(directory);
    if (isLibraryName(info.fileName())) {
        choose(QDir::cleanPath(info.filePath()));
    }
}

} // namespace vellico::ui
