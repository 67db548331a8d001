// vellico-cli: analyse and clean library bundles from a terminal.
#include "cli/analyze_command.hpp"
#include "cli/clean_command.hpp"
#include "cli/stop_signals.hpp"
#include "cli/texts.hpp"
#include "docs/documentation_loader.hpp"
#include "docs/documentation_parser.hpp"
#include "docs/plain_text_renderer.hpp"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* usageText =
    "Utilisation :\n"
    "  vellico-cli analyze [--json] [--preset in-progress|done] [--home DOSSIER] [--jobs N] "
    "CHEMIN...\n"
    "  vellico-cli clean [--preset in-progress|done] [--dry-run] [--yes] [--json] [--home DOSSIER] "
    "[--jobs N] CHEMIN...\n"
    "  vellico-cli help [FR|EN|DE|ES|JA|ZH]\n"
    "\n"
    "  --json     un seul document JSON sur la sortie standard\n"
    "  --preset   in-progress (par défaut) : fichiers de rendu, éléments partagés, données de la "
    "bibliothèque\n"
    "             done : tout sauf les fichiers de segmentation vidéo, sauvegardes comprises\n"
    "  --home     dossier personnel où chercher les sauvegardes (par défaut $HOME)\n"
    "  --dry-run  montre ce qui serait supprimé, sans rien supprimer\n"
    "  --jobs N   fils de parcours (par défaut : le nombre de cœurs, au plus 8)\n"
    "  --yes      supprime sans demander de confirmation\n";

int usageError(const std::string& message)
{
    std::cerr << "vellico-cli: " << message << "\n" << usageText;
    return 2;
}

// Prints the manual in the language asked for, or in the language of the
// messages, as plain text.
int runHelp(int argc, char** argv)
{
    if (argc > 3) {
        return usageError("help prend au plus une langue");
    }
    std::string lang;
    if (argc == 3) {
        const auto code = vellico::docs::languageCodeForTag(argv[2]);
        if (!code) {
            return usageError(std::string("langue inconnue : ") + argv[2] +
                              " (FR, EN, DE, ES, JA ou ZH)");
        }
        lang = *code;
    } else {
        lang = vellico::docs::documentationLanguageCode();
    }
    const std::string text =
        vellico::docs::loadDocumentation(lang, vellico::docs::embeddedHelpFileReader());
    const auto blocks = vellico::docs::parseDocumentation(text);
    if (blocks.empty()) {
        std::cerr << "vellico-cli: aide introuvable pour la langue " << lang << "\n";
        return 1;
    }
    std::cout << vellico::docs::renderPlainText(blocks);
    return std::cout.flush() ? 0 : 1;
}

// The options both commands share, and those of clean.
struct Arguments {
    bool json = false;
    bool dryRun = false;
    bool yes = false;
    vellico::model::EditingPreset preset = vellico::model::EditingPreset::inProgress;
    std::optional<std::filesystem::path> home;
    std::vector<std::string> paths;
    int jobs = 0;
};

// Parses argv[2…]; an error text on failure.
std::optional<std::string> parse(int argc, char** argv, bool clean, Arguments& args)
{
    bool onlyPaths = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* option) -> std::optional<std::string> {
            const std::string prefix = std::string(option) + "=";
            if (arg.rfind(prefix, 0) == 0) {
                return arg.substr(prefix.size());
            }
            if (i + 1 < argc) {
                return std::string(argv[++i]);
            }
            return std::nullopt;
        };
        if (onlyPaths || arg.empty() || arg[0] != '-') {
            args.paths.push_back(arg);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--json") {
            args.json = true;
        } else if (clean && arg == "--dry-run") {
            args.dryRun = true;
        } else if (clean && (arg == "--yes" || arg == "-y")) {
            args.yes = true;
        } else if (arg == "--home" || arg.rfind("--home=", 0) == 0) {
            const auto home = value("--home");
            if (!home || home->empty()) {
                return "--home demande un dossier";
            }
            args.home = *home;
        } else if (arg == "--jobs" || arg.rfind("--jobs=", 0) == 0) {
            const std::string jobs = value("--jobs").value_or("");
            char* end = nullptr;
            const long n = std::strtol(jobs.c_str(), &end, 10);
            if (jobs.empty() || *end != '\0' || n < 1 || n > 64) {
                return "--jobs demande un nombre de 1 à 64";
            }
            args.jobs = static_cast<int>(n);
        } else if (arg == "--preset" || arg.rfind("--preset=", 0) == 0) {
            const auto preset = value("--preset");
            if (preset == "in-progress") {
                args.preset = vellico::model::EditingPreset::inProgress;
            } else if (preset == "done") {
                args.preset = vellico::model::EditingPreset::done;
            } else {
                return "préréglage inconnu : " + preset.value_or("");
            }
        } else {
            return "option inconnue : " + arg;
        }
    }
    if (args.paths.empty()) {
        return std::string("aucune bibliothèque indiquée");
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    // Error texts of the system (strerror) in the user's language.
    std::setlocale(LC_ALL, "");
    vellico::cli::useEnvironmentLanguage();
    if (argc < 2) {
        return usageError("commande manquante");
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help") {
        std::cout << usageText;
        return 0;
    }
    if (command == "help") {
        return runHelp(argc, argv);
    }
    if (command != "analyze" && command != "clean") {
        return usageError("commande inconnue : " + command);
    }
    Arguments args;
    if (const auto error = parse(argc, argv, command == "clean", args)) {
        return usageError(*error);
    }
    if (command == "analyze") {
        vellico::cli::AnalyzeOptions options{args.json, args.home, args.preset, args.paths,
                                             args.jobs};
        return vellico::cli::runAnalyze(options, std::cout, std::cerr);
    }
    vellico::cli::CleanOptions options{args.json, args.dryRun, args.yes, args.preset,
                                       args.home, args.paths,  args.jobs};
    vellico::cli::TerminalConfirmation confirmation;
    vellico::cli::StopSignals signals;
    return vellico::cli::runClean(options, confirmation, std::cout, std::cerr, &signals);
}
