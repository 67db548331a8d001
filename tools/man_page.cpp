// Writes a manual page of vellico-cli or vellico in one language, in roff,
// from the message catalogues: the usage texts the programs print, under
// headings that are catalogue entries too. The English pages are written
// by hand (resources/man); the other languages' pages come from here, so
// that they say what the programs say in that language.
//
// Usage: vellico-man-page vellico-cli|vellico CATALOGUE LOCALE_DIR
//   CATALOGUE   a catalogue name: fr, de, es, ja, zh_CN…
//   LOCALE_DIR  the folder of the compiled catalogues (<name>/LC_MESSAGES/vellico.mo)
#include "cli/command_line.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"
#include "product_config.hpp"

#include <iostream>
#include <sstream>
#include <string>

namespace {

using namespace vellico;

// `text` as roff reads it literally: backslashes doubled, a line that
// would start a request guarded, minus signs written as such.
std::string roff(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        lineStart = c == '\n';
    }
    return out;
}

// A block printed as it is, columns kept.
std::string verbatim(const std::string& text)
{
    return ".nf\n" + roff(text) + (text.ends_with('\n') ? "" : "\n") + ".fi\n";
}

std::string heading(const char* key)
{
    return ".SH \"" + roff(i18n::text(key)) + "\"\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: vellico-man-page vellico-cli|vellico CATALOGUE LOCALE_DIR\n";
        return 2;
    }
    const std::string page = argv[1];
    const std::string catalogue = argv[2];
    std::optional<i18n::Language> language;
    for (const i18n::Language candidate : i18n::languages) {
        if (i18n::catalogueName(candidate) == catalogue) {
            language = candidate;
        }
    }
    if (!language || (page != "vellico-cli" && page != "vellico")) {
        std::cerr << "vellico-man-page: unknown page or catalogue\n";
        return 2;
    }
    i18n::install(i18n::loadTranslations(*language, {std::filesystem::path(argv[3])}));

    std::ostringstream out;
    std::string upper = page;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // The encoding, for man-db's preconv: the pages are UTF-8.
    out << "'\\\" -*- coding: UTF-8 -*-\n";
    out << ".TH " << roff(upper) << " 1 \"\" \"" << roff(page) << " "
        << roff(std::string(config::version)) << "\" \""
        << roff(i18n::text("page de manuel - manuel")) << "\"\n";
    out << heading("page de manuel - nom");
    if (page == "vellico-cli") {
        out << roff(page) << " \\- " << roff(i18n::text("page de manuel - résumé vellico-cli"))
            << "\n";
        out << heading("page de manuel - synopsis") << verbatim(cli::usageText(cli::Command::none));
        out << heading("page de manuel - commandes");
        for (const auto& [name, command] :
             {std::pair{"analyze", cli::Command::analyze}, std::pair{"clean", cli::Command::clean},
              std::pair{"help", cli::Command::help}}) {
            out << ".SS " << name << "\n" << verbatim(cli::usageText(command));
        }
        out << ".PP\n" << roff(i18n::text("page de manuel - json")) << "\n";
        out << ".PP\n" << roff(i18n::text("page de manuel - manuel complet")) << "\n";
        out << heading("page de manuel - voir aussi") << ".BR vellico (1)\n";
    } else {
        out << roff(page) << " \\- " << roff(i18n::text("page de manuel - résumé vellico")) << "\n";
        out << heading("page de manuel - synopsis")
            << verbatim(i18n::text("Utilisation : vellico [OPTION]... [BIBLIOTHÈQUE]...\n"
                                   "Ouvre les bibliothèques Final Cut Pro données dans la "
                                   "fenêtre de Vellico.\n\n"
                                   "      --reset-settings  propose de remettre les "
                                   "préférences à zéro\n"
                                   "  -h, --help            affiche cette aide\n"
                                   "  -V, --version         affiche la version\n\n"
                                   "vellico-cli fait le même travail dans un terminal (voir « "
                                   "man vellico-cli »).\n"));
        out << heading("page de manuel - voir aussi") << ".BR vellico\\-cli (1)\n";
    }
    std::cout << out.str();
    return std::cout.flush() ? 0 : 1;
}
