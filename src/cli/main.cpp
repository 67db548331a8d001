// vellico-cli: analyse and clean library bundles from a terminal.
#include "cli/analyze_command.hpp"

#include <clocale>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr const char* usageText =
    "Utilisation :\n"
    "  vellico-cli analyze [--json] [--preset in-progress|done] CHEMIN...\n"
    "\n"
    "  --json     un seul document JSON sur la sortie standard\n"
    "  --preset   in-progress (par défaut) : fichiers de rendu, éléments partagés, données de la bibliothèque\n"
    "             done : tout sauf les fichiers de segmentation vidéo, sauvegardes comprises\n";

int usageError(const std::string& message)
{
    std::cerr << "vellico-cli: " << message << "\n" << usageText;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        return usageError("commande manquante");
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << usageText;
        return 0;
    }
    if (command != "analyze") {
        return usageError("commande inconnue : " + command);
    }

    vellico::cli::AnalyzeOptions options;
    bool onlyPaths = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyPaths || arg.empty() || arg[0] != '-') {
            options.paths.push_back(arg);
        } else if (arg == "--") {
            onlyPaths = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--preset" || arg.rfind("--preset=", 0) == 0) {
            std::string value;
            if (arg == "--preset") {
                if (i + 1 >= argc) {
                    return usageError("--preset demande une valeur");
                }
                value = argv[++i];
            } else {
                value = arg.substr(std::strlen("--preset="));
            }
            if (value == "in-progress") {
                options.preset = vellico::model::EditingPreset::inProgress;
            } else if (value == "done") {
                options.preset = vellico::model::EditingPreset::done;
            } else {
                return usageError("préréglage inconnu : " + value);
            }
        } else {
            return usageError("option inconnue : " + arg);
        }
    }
    if (options.paths.empty()) {
        return usageError("aucune bibliothèque indiquée");
    }
    return vellico::cli::runAnalyze(options, std::cout, std::cerr);
}
