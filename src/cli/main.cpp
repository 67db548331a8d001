// vellico-cli: analyse and clean library bundles from a terminal.
#include "cleanup/removal_error.hpp"
#include "cli/analyze_command.hpp"
#include "cli/clean_command.hpp"
#include "cli/command_line.hpp"
#include "cli/stop_signals.hpp"
#include "cli/texts.hpp"
#include "docs/documentation_loader.hpp"
#include "docs/documentation_parser.hpp"
#include "docs/plain_text_renderer.hpp"
#include "platform/tree_walker.hpp"
#include "product_config.hpp"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

using vellico::cli::say;

// Exit statuses, as --help and the manual page state them.
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

int usageError(const std::string& message)
{
    std::cerr << "vellico-cli: " << message << "\n"
              << say("Saisissez « vellico-cli --help » pour plus d'informations.") << "\n";
    return exitUsage;
}

// Prints the manual in the language asked for, or in the language of the
// messages, as plain text.
int runHelp(const std::string& tag)
{
    std::string lang;
    if (!tag.empty()) {
        const auto code = vellico::docs::languageCodeForTag(tag);
        if (!code) {
            return usageError(say("langue inconnue : %1 (FR, EN, DE, ES, JA ou ZH)", {tag}));
        }
        lang = *code;
    } else {
        lang = vellico::docs::documentationLanguageCode();
    }
    const std::string text =
        vellico::docs::loadDocumentation(lang, vellico::docs::embeddedHelpFileReader());
    const auto blocks = vellico::docs::parseDocumentation(text);
    if (blocks.empty()) {
        std::cerr << "vellico-cli: " << say("aide introuvable pour la langue %1", {lang}) << "\n";
        return exitFailed;
    }
    std::cout << vellico::docs::renderPlainText(blocks);
    return std::cout.flush() ? 0 : exitFailed;
}

int printed(const std::string& text)
{
    std::cout << text;
    return std::cout.flush() ? 0 : exitFailed;
}

// A write on stdout that failed (a full disk, a closed descriptor) is said
// on stderr, with the system's reason, and fails the run.
int outputChecked(int status)
{
    const int error = errno;
    if (std::cout.good()) {
        return status;
    }
    std::cerr << "vellico-cli: "
              << say("écriture impossible sur la sortie standard : %1",
                     {vellico::cleanup::systemErrorText(error)})
              << "\n";
    return status == 0 ? exitFailed : status;
}

int run(int argc, char** argv)
{
    const auto line = vellico::cli::parseCommandLine(argc, argv);
    if (!line) {
        return usageError(line.error().message);
    }
    if (line->showVersion) {
        return printed("vellico-cli " + std::string(vellico::config::version) + "\n");
    }
    if (line->showHelp) {
        return printed(vellico::cli::usageText(line->command));
    }
    switch (line->command) {
    case vellico::cli::Command::analyze: {
        vellico::cli::StopSignals signals;
        return vellico::cli::runAnalyze(*line, std::cout, std::cerr, &signals);
    }
    case vellico::cli::Command::clean: {
        vellico::cli::StopSignals signals;
        vellico::cli::TerminalConfirmation confirmation(&signals);
        return vellico::cli::runClean(*line, confirmation, std::cout, std::cerr,
                                      vellico::platform::defaultSystemCalls(), &signals);
    }
    case vellico::cli::Command::help:
        return runHelp(line->helpLanguage);
    case vellico::cli::Command::none:
        break;
    }
    return usageError(say("commande manquante"));
}

// With VELLICO_WALK_STATS=1, how many threads the walks reached, for the
// benchmarks: a diagnostic in English, on stderr, out of the normal output.
void printWalkStats()
{
    const char* wanted = std::getenv("VELLICO_WALK_STATS");
    if (wanted == nullptr || std::string_view(wanted) != "1") {
        return;
    }
    const vellico::platform::WalkThreadPeaks peaks = vellico::platform::walkThreadPeaks();
    std::cerr << "walk threads: peak " << peaks.streaming << " measuring, " << peaks.postOrder
              << " removing\n";
}

} // namespace

int main(int argc, char** argv)
{
    // Error texts of the system (strerror) and yes/no answers in the user's language.
    std::setlocale(LC_ALL, "");
    vellico::cli::useEnvironmentLanguage();
    const int status = outputChecked(run(argc, argv));
    printWalkStats();
    return status;
}
