#include "ui/fcp_locked_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>

namespace vellico::ui {

using viewmodel::FCPLockedResponse;

FCPLockedSheet::FCPLockedSheet(const QString& libraryName, QWidget* parent)
    : SheetDialog(440, parent)
{
    addArtwork(QStringLiteral("FCP-icons"));
    addTitle(VELLICO_TEXT("Bibliothèque ouverte dans Final Cut Pro"));
    addMessage(VELLICO_TEXT_FILL("« %1 » est ouverte dans Final Cut Pro. Vous pouvez analyser son "
                                 "contenu mais la suppression sera impossible tant que la "
                                 "bibliothèque est ouverte.",
                                 libraryName),
               colors::secondary());
    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    QPushButton* show = makeButton(VELLICO_TEXT("Voir Final Cut Pro"), ButtonStyle::standard);
    QPushButton* analyse = makeButton(VELLICO_TEXT("Analyser"), ButtonStyle::prominent);
    connect(cancel, &QPushButton::clicked, this,
            [this] { emit responded(FCPLockedResponse::cancel); });
    connect(show, &QPushButton::clicked, this, &FCPLockedSheet::showEditorRequested);
    connect(analyse, &QPushButton::clicked, this,
            [this] { emit responded(FCPLockedResponse::analyzeAnyway); });
    setDefaultButton(analyse);
    setCancelButton(cancel);
    addButtonRow({cancel, show, analyse});
    finish();
}

} // namespace vellico::ui
