#include "ui/cache_info_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include "viewmodel/byte_count_formatter.hpp"

#include <QPushButton>
#include <QVBoxLayout>

namespace vellico::ui {

CacheInfoSheet::CacheInfoSheet(std::int64_t reclaimableSize, std::int64_t cacheTotalSize,
                               QWidget* parent)
    : SheetDialog(420, parent)
{
    const auto& formatter = viewmodel::byteCountFormatter();
    addArtwork(QStringLiteral("fcpcache-icon"));
    addTitle(VELLICO_TEXT("Cache externe détecté"));
    auto* sizes = new QVBoxLayout;
    sizes->setSpacing(4);
    addMessage(VELLICO_TEXT_FILL("%1 récupérables dans la bibliothèque",
                                 formatter.string(reclaimableSize)),
               colors::primary(), sizes);
    addMessage(VELLICO_TEXT_FILL("%1 dans le cache externe", formatter.string(cacheTotalSize)),
               colors::primary(), sizes);
    column()->addLayout(sizes);
    auto* notes = new QVBoxLayout;
    notes->setSpacing(8);
    addMessage(VELLICO_TEXT("Vellico ne prend pas en charge la gestion des caches."),
               colors::secondary(), notes);
    addMessage(VELLICO_TEXT("Vous pouvez replacer le cache dans la bibliothèque via l'inspecteur "
                            "de Final Cut Pro."),
               colors::secondary(), notes);
    column()->addLayout(notes);
    QPushButton* ok = makeButton(VELLICO_TEXT("OK"), ButtonStyle::prominent);
    connect(ok, &QPushButton::clicked, this, &CacheInfoSheet::dismissed);
    setDefaultButton(ok);
    // Informative only: Escape closes it as well.
    setCancelButton(ok);
    ok->setToolTip(QString());
    addButtonRow({ok});
    finish();
}

} // namespace vellico::ui
