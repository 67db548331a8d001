#include "ui/delete_warning_sheet.hpp"

#include "ui/theme.hpp"
#include "ui/ui_text.hpp"
#include "viewmodel/byte_count_formatter.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace vellico::ui {

DeleteWarningSheet::DeleteWarningSheet(std::int64_t reclaimableSize, const QString& libraryName,
                                       model::EditingPreset selectedPreset, QWidget* parent)
    : DeleteWarningSheet(
          VELLICO_TEXT("Les fichiers sélectionnés (%1) vont être irrémédiablement supprimés "
                       "de la bibliothèque :\n« %2 »")
              .arg(viewmodel::byteCountFormatter().string(reclaimableSize), libraryName),
          selectedPreset, parent)
{}

DeleteWarningSheet::DeleteWarningSheet(std::int64_t reclaimableSize, int count, int folders,
                                       model::EditingPreset selectedPreset, QWidget* parent)
    : DeleteWarningSheet(
          // Two counts, each with its own plural form.
          VELLICO_TEXT("Les fichiers sélectionnés (%1) vont être irrémédiablement supprimés de "
                       "%2 (%3).")
              .arg(viewmodel::byteCountFormatter().string(reclaimableSize),
                   VELLICO_TEXT_COUNT("%1 bibliothèques", count),
                   VELLICO_TEXT_COUNT("%1 dossiers", folders)),
          selectedPreset, parent)
{}

DeleteWarningSheet::DeleteWarningSheet(const QString& message, model::EditingPreset selectedPreset,
                                       QWidget* parent)
    : SheetDialog(380, parent)
{
    addSymbol(QStringLiteral("exclamationmark.triangle.fill"), colors::orange());
    addTitle(VELLICO_TEXT("Suppression définitive"));
    addMessage(message, colors::secondary());
    QLabel* explanation = addMessage(
        selectedPreset == model::EditingPreset::done
            ? VELLICO_TEXT(
                  "⚠️ Supprime plus de fichiers. Adapté pour l'archivage. Peut nécessiter "
                  "un peu de travail si vous reprenez le montage.")
            : VELLICO_TEXT("✅ Supprime uniquement les fichiers qui n'ont aucun impact sur le "
                           "montage. Les sauvegardes sont conservées."),
        colors::secondary());
    explanation->setContentsMargins(8, 0, 8, 0);

    m_skip = new QCheckBox(VELLICO_TEXT("Ne plus demander"), this);
    m_skip->setChecked(QSettings().value(QLatin1String(skipKey), false).toBool());
    m_skip->setAccessibleName(m_skip->text());
    // Fusion fills the box with the base colour, which the dark palette
    // keeps near the sheet's own: a lighter box with a white tick instead.
    QPalette box = m_skip->palette();
    box.setColor(QPalette::Base, QColor(92, 92, 98));
    box.setColor(QPalette::Text, Qt::white);
    box.setColor(QPalette::Window, QColor(150, 150, 158)); // the outline is drawn from it
    m_skip->setPalette(box);
    connect(m_skip, &QCheckBox::toggled, this,
            [](bool on) { QSettings().setValue(QLatin1String(skipKey), on); });
    column()->addWidget(m_skip, 0, Qt::AlignHCenter);

    QPushButton* cancel = makeButton(VELLICO_TEXT("Annuler"), ButtonStyle::standard);
    QPushButton* remove =
        makeButton(VELLICO_TEXT("Supprimer"), ButtonStyle::prominent, colors::red());
    connect(cancel, &QPushButton::clicked, this, &DeleteWarningSheet::cancelled);
    connect(remove, &QPushButton::clicked, this, &DeleteWarningSheet::confirmed);
    setCancelButton(cancel);
    // No default button, and Return never confirms, even on "Supprimer":
    // only a click or Space deletes.
    setNotPressedByReturn(remove);
    addButtonRow({cancel, remove});
    finish();
}

} // namespace vellico::ui
