#include "ui/backup_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>

namespace vellico::ui {

using viewmodel::BackupResponse;

BackupSheet::BackupSheet(const QString& backupName, const QString& originalLibraryName,
                         QWidget* parent)
    : SheetDialog(420, parent)
{
    addSymbol(QStringLiteral("clock.arrow.circlepath"), colors::orange());
    addTitle(VELLICO_TEXT("Sauvegarde détectée"));
    addMessage(VELLICO_TEXT("« %1 » est une sauvegarde Final Cut Pro de la bibliothèque « %2 ». "
                            "Voulez-vous analyser la bibliothèque originale ?")
                   .arg(backupName, originalLibraryName),
               colors::secondary());
    QPushButton* analyse =
        makeButton(VELLICO_TEXT("Analyser la bibliothèque originale"), ButtonStyle::prominent);
    QPushButton* reveal =
        makeButton(VELLICO_TEXT("Afficher dans le Finder"), ButtonStyle::standard);
    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    connect(analyse, &QPushButton::clicked, this,
            [this] { emit responded(BackupResponse::analyzeOriginal); });
    connect(reveal, &QPushButton::clicked, this,
            [this] { emit responded(BackupResponse::showInFinder); });
    connect(cancel, &QPushButton::clicked, this,
            [this] { emit responded(BackupResponse::cancel); });
    setDefaultButton(analyse);
    setCancelButton(cancel);
    addButtonColumn({analyse, reveal, cancel});
    finish();
}

} // namespace vellico::ui
