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

// The blocks that several commands' usage texts share, each one catalogue
// entry, so that a translation lines up its own columns.
std::string presetLines()
{
    return lookup("      --preset=NOM     in-progress (par défaut) : fichiers de rendu, éléments "
                  "partagés,\n"
                  "                       données de la bibliothèque ; done : tout sauf les "
                  "fichiers de\n"
                  "                       segmentation vidéo, sauvegardes comprises\n"
                  "      --only=TYPES     sélectionne ces types de dossiers, quel que soit le "
                  "préréglage\n"
                  "      --except=TYPES   retire ces types de dossiers de la sélection\n");
}

std::string commonLines()
{
    return lookup(
        "  -r, --recursive      cherche les bibliothèques (*.fcpbundle) dans les dossiers "
        "donnés,\n"
        "                       sans entrer dans une bibliothèque ni passer sur un autre "
        "volume\n"
        "      --original       pour une sauvegarde, traite la bibliothèque originale\n"
        "      --home=DOSSIER   dossier personnel où chercher les sauvegardes (par "
        "défaut $HOME)\n"
        "      --jobs=N         nombre de fils pour mesurer et supprimer les dossiers\n"
        "      --json           un seul document JSON sur la sortie standard, erreurs "
        "comprises\n"
        "  -h, --help           affiche cette aide\n");
}

std::string outputLines()
{
    return lookup("  -b, --bytes          écrit les tailles en octets exacts\n"
                  "      --binary         écrit les tailles en unités binaires (Kio, Mio, Gio)\n"
                  "      --sort=ORDRE     size (par défaut, les plus grandes d'abord) ou name :\n"
                  "                       l'ordre des bibliothèques et des événements\n"
                  "      --color=QUAND    auto (par défaut : sur un terminal, sauf si NO_COLOR\n"
                  "                       est défini), always ou never\n"
                  "  -q, --quiet          n'écrit que les erreurs et le résumé\n"
                  "  -v, --verbose        écrit aussi le chemin de chaque dossier\n");
}

std::string presetMappingLines()
{
    return lookup(
        "\nPRÉRÉGLAGE : in-progress (ou inProgress, comme en JSON) est « Montage en\n"
        "cours » dans le texte ; done est « Montage terminé ».\n"
        "Les tailles ne comptent pas les éléments masqués (noms commençant par un point).\n");
}

std::string kindsLines()
{
    return lookup("\nTYPES : noms séparés par des virgules parmi « Render Files », « Shared Items "
                  "»,\n"
                  "« Analysis Files », « Transcoded Media », « flexo.apple.com »,\n"
                  "« VideoSegmentationFiles » et « backups ».\n");
}

std::string exitLines()
{
    return lookup("\nCode de sortie :\n"
                  "  0    tout a été fait\n"
                  "  1    un chemin a échoué, une bibliothèque n'a pas pu être lue en entier,\n"
                  "       ou (clean) la suppression n'a pas été confirmée ou pas faite en entier\n"
                  "  2    ligne de commande incorrecte\n"
                  "  130  arrêté par Ctrl-C (128 + le numéro du signal)\n");
}

} // namespace

std::string say(std::string_view key, std::initializer_list<std::string_view> args)
{
    std::vector<std::string> filled;
    filled.reserve(args.size());
    for (const std::string_view arg : args) {
        filled.emplace_back(arg);
    }
    return i18n::fillPlaceholders(lookup(key), filled);
}

std::string usageText(Command command)
{
    switch (command) {
    case Command::analyze:
        return lookup(
                   "Utilisation : vellico-cli analyze [OPTION]... CHEMIN...\n"
                   "Mesure chaque bibliothèque et montre ce que le préréglage sélectionne.\n\n") +
               presetLines() + outputLines() + commonLines() + kindsLines() + presetMappingLines() +
               exitLines();
    case Command::clean:
        return lookup("Utilisation : vellico-cli clean [OPTION]... CHEMIN...\n"
                      "Supprime la sélection de chaque bibliothèque, après une seule\n"
                      "confirmation pour toutes.\n\n") +
               presetLines() +
               lookup("      --dry-run        montre ce qui serait supprimé, sans rien supprimer\n"
                      "  -y, --yes            supprime sans demander de confirmation\n") +
               outputLines() + commonLines() + kindsLines() + presetMappingLines() + exitLines();
    case Command::help:
        return lookup("Utilisation : vellico-cli help [FR|EN|DE|ES|JA|ZH]\n"
                      "Affiche le manuel, dans la langue donnée ou celle de l'utilisateur.\n");
    case Command::none:
        break;
    }
    return lookup("Utilisation : vellico-cli [-V|--version] [-h|--help] COMMANDE [OPTION]... "
                  "CHEMIN...\n\n"
                  "Commandes :\n"
                  "  analyze   mesure les bibliothèques et montre ce que le préréglage "
                  "sélectionne\n"
                  "  clean     supprime la sélection, après une seule confirmation\n"
                  "  help      affiche le manuel (FR, EN, DE, ES, JA ou ZH)\n\n"
                  "« vellico-cli COMMANDE --help » décrit les options d'une commande.\n") +
           exitLines();
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
    return say(analysis::messageKey(error.kind), {error.name.string()});
}

std::string missingCacheMessage(const std::string& cachePath)
{
    return say("le cache externe est introuvable (%1) ; la bibliothèque est analysée sans lui.",
               {cachePath});
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
    case Kind::holdsLibrary:
        return fill("le dossier de sauvegarde « %1 » contient la bibliothèque elle-même : il n'est "
                    "ni sélectionné ni supprimé.",
                    {notice.subject});
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
