#include "ui/fcp_locked_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>

namespace vellico::ui {

using viewmodel::FCPLockedResponse;

FCPLockedSheet::FCPLockedSheet(const QString& libraryName, const QString& host,
                               const QString& application, bool offerEditor, QWidget* parent)
    : SheetDialog(440, parent)
{
    addArtwork(QStringLiteral("FCP-icons"));
    addTitle(VELLICO_TEXT("Bibliothèque ouverte dans Final Cut Pro"));
    QString message;
    if (host.isEmpty()) {
        message = VELLICO_TEXT_FILL("« %1 » est ouverte dans Final Cut Pro. Vous pouvez analyser "
                                    "son contenu mais la suppression sera impossible tant que la "
                                    "bibliothèque est ouverte.",
                                    libraryName);
    } else if (application.isEmpty()) {
        message = VELLICO_TEXT("« %1 » est ouverte dans Final Cut Pro sur « %2 ». Vous pouvez "
                               "analyser son contenu mais la suppression sera impossible tant "
                               "que la bibliothèque est ouverte.")
                      .arg(libraryName, host);
    } else {
        message = VELLICO_TEXT("« %1 » est ouverte dans %2 sur « %3 ». Vous pouvez analyser "
                               "son contenu mais la suppression sera impossible tant que la "
                               "bibliothèque est ouverte.")
                      .arg(libraryName, application, host);
    }
    addMessage(message, colors::secondary());
    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    QPushButton* analyse = makeButton(VELLICO_TEXT("Analyser"), ButtonStyle::prominent);
    connect(cancel, &QPushButton::clicked, this,
            [this] { emit responded(FCPLockedResponse::cancel); });
    connect(analyse, &QPushButton::clicked, this,
            [this] { emit responded(FCPLockedResponse::analyzeAnyway); });
    setDefaultButton(analyse);
    setCancelButton(cancel);
    if (offerEditor) {
        QPushButton* show = makeButton(VELLICO_TEXT("Voir Final Cut Pro"), ButtonStyle::standard);
        connect(show, &QPushButton::clicked, this, &FCPLockedSheet::showEditorRequested);
        addButtonRow({cancel, show, analyse});
    } else {
        addButtonRow({cancel, analyse});
    }
    finish();
}

} // namespace vellico::ui
