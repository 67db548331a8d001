#include "cli/texts.hpp"

#include "i18n/translations.hpp"

#include <cstdlib>
#include <vector>

namespace vellico::cli {

std::string lookup(std::string_view key)
{
    return i18n::text(key);
}

namespace {

constexpr const char* presetLines =
    "      --preset=NOM     in-progress (par défaut) : fichiers de rendu, éléments partagés,\n"
    "                       données de la bibliothèque ; done : tout sauf les fichiers de\n"
    "                       segmentation vidéo, sauvegardes comprises\n"
    "      --only=TYPES     ne garde de la sélection que ces types de dossiers\n"
    "      --except=TYPES   retire ces types de dossiers de la sélection\n";

constexpr const char* commonLines =
    "  -r, --recursive      cherche les bibliothèques (*.fcpbundle) dans les dossiers donnés,\n"
    "                       sans entrer dans une bibliothèque ni passer sur un autre volume\n"
    "      --original       pour une sauvegarde, traite la bibliothèque originale\n"
    "      --home=DOSSIER   dossier personnel où chercher les sauvegardes (par défaut $HOME)\n"
    "      --jobs=N         nombre de fils pour mesurer les dossiers\n"
    "      --json           un seul document JSON sur la sortie standard\n"
    "  -h, --help           affiche cette aide\n";

constexpr const char* kindsLines =
    "\nTYPES : noms séparés par des virgules parmi « Render Files », « Shared Items »,\n"
    "« Analysis Files », « Transcoded Media », « flexo.apple.com »,\n"
    "« VideoSegmentationFiles » et « backups ».\n";

constexpr const char* exitLines =
    "\nCode de sortie :\n"
    "  0  tout a été fait\n"
    "  1  une bibliothèque a échoué ou n'a pas pu être lue en entier\n"
    "  2  ligne de commande incorrecte\n";

} // namespace

std::string say(std::string_view key, std::initializer_list<std::string_view> args)
{
    std::vector<std::string> filled;
    filled.reserve(args.size());
    for (const std::string_view arg : args) {
        filled.emplace_back(arg);
    }
    return analysis::StatusText{lookup(key), std::move(filled)}.formatted();
}

std::string usageText(Command command)
{
    switch (command) {
    case Command::analyze:
        return lookup(
                   "Utilisation : vellico-cli analyze [OPTION]... CHEMIN...\n"
                   "Mesure chaque bibliothèque et montre ce que le préréglage sélectionne.\n\n") +
               lookup(presetLines) + lookup(commonLines) + lookup(kindsLines) + lookup(exitLines);
    case Command::clean:
        return lookup("Utilisation : vellico-cli clean [OPTION]... CHEMIN...\n"
                      "Supprime la sélection de chaque bibliothèque, après une seule\n"
                      "confirmation pour toutes.\n\n") +
               lookup(presetLines) +
               lookup("      --dry-run        montre ce qui serait supprimé, sans rien supprimer\n"
                      "  -y, --yes            supprime sans demander de confirmation\n") +
               lookup(commonLines) + lookup(kindsLines) + lookup(exitLines);
    case Command::help:
        return lookup("Utilisation : vellico-cli help [FR|EN|DE|ES|JA|ZH]\n"
                      "Affiche le manuel, dans la langue donnée ou celle de l'utilisateur.\n");
    case Command::none:
        break;
    }
    return lookup("Utilisation : vellico-cli [--version] [-h|--help] COMMANDE [OPTION]... "
                  "CHEMIN...\n\n"
                  "Commandes :\n"
                  "  analyze   mesure les bibliothèques et montre ce que le préréglage "
                  "sélectionne\n"
                  "  clean     supprime la sélection, après une seule confirmation\n"
                  "  help      affiche le manuel (FR, EN, DE, ES, JA ou ZH)\n\n"
                  "« vellico-cli COMMANDE --help » décrit les options d'une commande.\n") +
           lookup(exitLines);
}

std::string fill(std::string_view key, std::initializer_list<std::string> args)
{
    return i18n::fill(key, args);
}

std::string formatBytes(std::int64_t bytes)
{
    return i18n::formatBytes(bytes);
}

std::string statusText(const analysis::StatusText& status)
{
    return i18n::fillPlaceholders(i18n::text(status.key), status.args);
}

std::string intakeMessage(const analysis::IntakeError& error)
{
    using Kind = analysis::IntakeError::Kind;
    switch (error.kind) {
    case Kind::missing:
        return say("« %1 » est introuvable.", {error.name.string()});
    case Kind::aliasUnresolvable:
        return say("alias - résolution impossible « %1 »", {error.name.string()});
    case Kind::notALibrary:
        return say("« %1 » n'est pas une bibliothèque Final Cut Pro valide.",
                   {error.name.string()});
    case Kind::locked:
        return say("« %1 » est verrouillée. Déverrouillez-la dans le Finder avant de continuer.",
                   {error.name.string()});
    case Kind::backupWithoutOriginal:
        return say("« %1 » est une sauvegarde, mais la bibliothèque originale est introuvable.",
                   {error.name.string()});
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

void useEnvironmentLanguage()
{
    const i18n::Language language =
        i18n::chooseLanguage([](const char* name) { return std::getenv(name); });
    i18n::install(i18n::loadTranslations(language, i18n::catalogueDirectories()));
}

} // namespace vellico::cli
