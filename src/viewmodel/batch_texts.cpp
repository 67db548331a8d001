// The texts of the batch's rows.

#include "viewmodel/batch_texts.hpp"

#include "i18n/translations.hpp"
#include "viewmodel/batch_view_model.hpp"
#include "viewmodel/byte_count_formatter.hpp"
#include "viewmodel/texts.hpp"

namespace vellico::viewmodel {

QString holderText(const std::optional<cleanup::LockHolder>& holder)
{
    if (holder && holder->isVellico) {
        return texts::fill("Ouverte par une autre copie de Vellico sur %1",
                           texts::displayText(holder->hostname));
    }
    if (holder && !holder->hostname.empty()) {
        return texts::fill("Ouverte dans Final Cut Pro sur %1",
                           texts::displayText(holder->hostname));
    }
    return texts::translate("Ouverte dans Final Cut Pro");
}

QString batchStateText(const BatchRow& row)
{
    const auto bytes = [](qint64 size) { return byteCountFormatter().string(size); };
    switch (row.state) {
    case BatchRowState::waiting:
        return texts::translate("En attente");
    case BatchRowState::analysing:
        return QString::fromStdString(
            i18n::fillPlural("Analyse en cours : %1 fichiers", row.filesScanned));
    case BatchRowState::ready:
        return texts::translate("Prête");
    case BatchRowState::openInEditor:
        return row.holder;
    case BatchRowState::locked:
        return texts::translate("Verrouillée");
    case BatchRowState::backup:
        return texts::fill("Sauvegarde de « %1 »", row.detail);
    case BatchRowState::cloudOnly:
        return texts::translate("Dans le nuage, pas encore téléchargée");
    case BatchRowState::refused:
    case BatchRowState::skipped:
        return row.detail;
    case BatchRowState::deleting:
        return texts::translate("Suppression…");
    case BatchRowState::cleaned:
        return texts::fill("Nettoyée : %1 libérés", bytes(row.freed));
    case BatchRowState::failed:
        return texts::fill("Dossiers non supprimés : %1", QString::number(row.errors.size()));
    }
    return {};
}

} // namespace vellico::viewmodel
