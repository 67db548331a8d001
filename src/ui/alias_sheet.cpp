#include "ui/alias_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"

#include <QPushButton>

namespace vellico::ui {

using viewmodel::AliasResponse;

AliasSheet::AliasSheet(const QString& aliasName, QWidget* parent) : SheetDialog(380, parent)
{
    addSymbol(QStringLiteral("link"), colors::accent());
    addTitle(VELLICO_TEXT("alias - titre alerte"));
    addMessage(VELLICO_TEXT_FILL("alias - description alerte « %1 »", aliasName),
               colors::secondary());
    QPushButton* analyse =
        makeButton(VELLICO_TEXT("alias - bouton analyser"), ButtonStyle::prominent);
    QPushButton* reveal =
        makeButton(VELLICO_TEXT("alias - bouton afficher finder"), ButtonStyle::standard);
    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    connect(analyse, &QPushButton::clicked, this,
            [this] { emit responded(AliasResponse::analyze); });
    connect(reveal, &QPushButton::clicked, this,
            [this] { emit responded(AliasResponse::showInFinder); });
    connect(cancel, &QPushButton::clicked, this, [this] { emit responded(AliasResponse::cancel); });
    setDefaultButton(analyse);
    setCancelButton(cancel);
    addButtonColumn({analyse, reveal, cancel});
    finish();
}

} // namespace vellico::ui
