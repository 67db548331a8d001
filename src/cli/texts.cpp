#include "cli/texts.hpp"

#include <map>

namespace vellico::cli {

namespace {

const std::map<std::string, std::string, std::less<>>& table()
{
    static const std::map<std::string, std::string, std::less<>> texts{
        {"Render Files \u2014 aide", "Fichiers de rendu des effets, titres et transitions. Final "
                                     "Cut Pro les recrée quand il en a "
                                     "besoin."},
        {"Shared Items \u2014 aide",
         "Copies des fichiers partagés ou exportés depuis la bibliothèque. Elles peuvent être "
         "supprimées sans toucher au montage."},
        {"Analysis Files \u2014 aide",
         "Résultats d'analyse (stabilisation, personnes, couleur). Final Cut Pro les recalcule si "
         "nécessaire, ce qui peut prendre du temps."},
        {"Transcoded Media \u2014 aide", "Médias optimisés et proxys. Final Cut Pro peut les "
                                         "recréer à partir des médias originaux, "
                                         "tant que ceux-ci restent disponibles."},
        {"flexo.apple.com \u2014 aide", "Données générées par Final Cut Pro au niveau de la "
                                        "bibliothèque (vignettes, caches). Elles "
                                        "sont recréées à l'ouverture."},
        {"VideoSegmentationFiles \u2014 aide",
         "Fichiers de segmentation vidéo (masques d'isolement de sujet). Les recréer demande une "
         "nouvelle analyse longue : ils ne sont jamais présélectionnés."},
        {"Final Cut Backups \u2014 aide", "Sauvegardes automatiques de cette bibliothèque, hors du "
                                          "paquet. Utiles tant que le montage "
                                          "est en cours ; supprimables pour un projet archivé."},
        {"alias - résolution impossible « %1 »",
         "Impossible de trouver l'original de l'alias « %1 »."},
    };
    return texts;
}

std::string fill(std::string_view key, std::initializer_list<std::string> args)
{
    analysis::StatusText text{lookup(key), args};
    return text.formatted();
}

} // namespace

std::string lookup(std::string_view key)
{
    const auto& texts = table();
    if (const auto it = texts.find(key); it != texts.end()) {
        return it->second;
    }
    return std::string(key);
}

const model::ByteUnits& byteUnits()
{
    static const model::ByteUnits units{"Zéro Ko", "octet", "octets", "Ko", "Mo", "Go", "To", ','};
    return units;
}

std::string formatBytes(std::int64_t bytes)
{
    return model::formatByteCount(bytes, byteUnits());
}

std::string statusText(const analysis::StatusText& status)
{
    return analysis::StatusText{lookup(status.key), status.args}.formatted();
}

std::string intakeMessage(const analysis::IntakeError& error)
{
    using Kind = analysis::IntakeError::Kind;
    switch (error.kind) {
    case Kind::missing:
        return fill("« %1 » est introuvable.", {error.text});
    case Kind::aliasUnresolvable:
        return fill("alias - résolution impossible « %1 »", {error.text});
    case Kind::notALibrary:
        return fill("« %1 » n'est pas une bibliothèque Final Cut Pro valide.", {error.text});
    case Kind::locked:
        return fill("« %1 » est verrouillée. Déverrouillez-la dans le Finder avant de continuer.",
                    {error.text});
    }
    return {};
}

std::string noticeMessage(const model::AnalysisNotice& notice)
{
    using Kind = model::AnalysisNotice::Kind;
    switch (notice.kind) {
    case Kind::mountPoint:
        return fill("« %1 » est le point de montage d'un autre système de fichiers : il "
                    "n'appartient pas à la bibliothèque et n'est ni mesuré ni supprimé.",
                    {notice.subject});
    case Kind::unsafeName:
        return fill("le nom « %1 » lu dans « %2 » n'est pas un simple nom de dossier : il est "
                    "ignoré.",
                    {notice.value, notice.subject});
    }
    return {};
}

} // namespace vellico::cli
