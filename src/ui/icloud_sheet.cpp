#include "ui/icloud_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>

namespace vellico::ui {

ICloudSheet::ICloudSheet(const QString& libraryName, bool isDownloaded, QWidget* parent)
    : SheetDialog(380, parent)
{
    addSymbol(isDownloaded ? QStringLiteral("icloud") : QStringLiteral("icloud.and.arrow.down"),
              colors::orange());
    addTitle(isDownloaded ? VELLICO_TEXT("Bibliothèque sur iCloud")
                          : VELLICO_TEXT("Bibliothèque non téléchargée"));
    addMessage(isDownloaded
                   ? VELLICO_TEXT_FILL(
                         "« %1 » est stockée sur iCloud Drive. Les suppressions seront "
                         "synchronisées sur tous vos appareils.\n\nNote : Final Cut Pro ne prend "
                         "pas en charge les bibliothèques stockées sur iCloud.",
                         libraryName)
                   : VELLICO_TEXT_FILL(
                         "« %1 » est stockée sur iCloud et n'est pas disponible localement. Son "
                         "téléchargement peut prendre beaucoup de temps selon sa taille et votre "
                         "connexion.\n\nNote : Final Cut Pro ne prend pas en charge les "
                         "bibliothèques stockées sur iCloud.",
                         libraryName),
               colors::secondary());
    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    QPushButton* goOn =
        makeButton(isDownloaded ? VELLICO_TEXT("Continuer") : VELLICO_TEXT("Patienter et analyser"),
                   ButtonStyle::prominent);
    connect(cancel, &QPushButton::clicked, this, [this] { emit responded(false); });
    connect(goOn, &QPushButton::clicked, this, [this] { emit responded(true); });
    setCancelButton(cancel);
    addButtonRow({cancel, goOn});
    finish();
}

} // namespace vellico::ui
