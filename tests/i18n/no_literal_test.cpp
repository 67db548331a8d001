// No user text bypasses the catalogues: every string literal of the layers
// that show texts is either a catalogue key passed to a lookup (and then the
// French catalogue must have it), or not meant for users (style sheets,
// object names, settings keys, file names), which the table below names.
#include "i18n/catalogue.hpp"
#include "i18n/translations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace vellico::i18n {
namespace {

namespace fs = std::filesystem;

struct Literal {
    std::string text;   // adjacent literals joined, escapes of quotes kept as written
    std::string before; // the source before it, whitespace collapsed, last 80 characters
};

std::string collapse(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
        } else {
            out += c;
        }
    }
    return out;
}

// The string literals of a C++ source, outside comments, character
// literals and #include lines.
std::vector<Literal> literals(const std::string& src)
{
    std::vector<Literal> found;
    std::size_t i = 0;
    const auto skipQuoted = [&](char quote) {
        std::size_t j = i + 1;
        while (j < src.size() && src[j] != quote) {
            j += src[j] == '\\' ? 2 : 1;
        }
        return j;
    };
    while (i < src.size()) {
        if (src.compare(i, 2, "//") == 0 || src.compare(i, 8, "#include") == 0) {
            i = src.find('\n', i);
            continue;
        }
        if (src.compare(i, 2, "/*") == 0) {
            i = src.find("*/", i);
            i = i == std::string::npos ? i : i + 2;
            continue;
        }
        if (src[i] == '\'') {
            i = skipQuoted('\'') + 1;
            continue;
        }
        if (src[i] != '"') {
            ++i;
            continue;
        }
        Literal literal;
        const std::size_t start = i;
        const std::string before =
            collapse(src.substr(start < 200 ? 0 : start - 200, start < 200 ? start : 200));
        literal.before = before.size() > 80 ? before.substr(before.size() - 80) : before;
        for (;;) {
            const std::size_t end = skipQuoted('"');
            literal.text += src.substr(i + 1, end - i - 1);
            i = end + 1;
            const std::size_t next = src.find_first_not_of(" \t\n", i);
            if (next == std::string::npos || src[next] != '"') {
                break;
            }
            i = next;
        }
        found.push_back(std::move(literal));
    }
    return found;
}

// The literal is the key argument of a catalogue lookup.
bool isKeyArgument(const Literal& literal)
{
    static const std::regex call(
        R"((VELLICO_TEXT|VELLICO_TEXT_FILL|VELLICO_TEXT_COUNT|catalogueKey|lookup|say|fill|fillPlural|text|plural|find|translate) ?\( ?$)");
    static const std::regex noop(R"(QT_TRANSLATE_NOOP ?\( ?"Vellico", ?$)");
    return std::regex_search(literal.before, call) || std::regex_search(literal.before, noop);
}

// The text with its escapes (universal character names, new lines, quotes)
// read as the compiler reads them, for comparing with keys.
std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'u' && i + 4 < text.size()) {
            const unsigned long cp = std::stoul(text.substr(i + 1, 4), nullptr, 16);
            i += 4;
            if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x800) {
                out += static_cast<char>(0xC0 | (cp >> 6));
                out += static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (cp >> 12));
                out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (cp & 0x3F));
            }
        } else if (kind == 'n') {
            out += '\n';
        } else {
            out += kind; // a quote or a backslash
        }
    }
    return out;
}

// Looks like something a user reads: words with a space, or a letter outside
// ASCII, once style sheets and markup are set aside.
bool looksUserVisible(const std::string& text)
{
    if (text.find('{') != std::string::npos) {
        return false; // a style sheet
    }
    // Markup, and the program's name that starts its messages, are not words to translate.
    const std::string visible =
        std::regex_replace(std::regex_replace(unescaped(text), std::regex("<[^>]*>"), ""),
                           std::regex("vellico-cli"), "");
    if (!std::regex_search(visible, std::regex("[A-Za-z]"))) {
        return false;
    }
    // Words, or one word as a label, French ("total : ") or capitalised
    // ("Total: "); not a URL scheme or a style property ("file:", "background: ").
    const bool words = std::regex_search(visible, std::regex("[A-Za-z]{2,} [A-Za-z%(]")) ||
                       std::regex_search(visible, std::regex("[A-Za-z]{2,} :( |$)")) ||
                       std::regex_search(visible, std::regex("[A-Z][a-z]+:( |$)"));
    const bool nonAscii = std::any_of(visible.begin(), visible.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return words || nonAscii;
}

// Literals that look like text but are not shown to users, by file.
const std::set<std::pair<std::string, std::string>> notUserText{
    {"app/preference_reset.cpp",
     R"(while kill -0 \"$1\" 2>/dev/null; do sleep 0.1; done; exec \"$2\")"},
    // The support mail is read by the developers, in English whatever the
    // user's language.
    {"app/support_mail.cpp", R"(Vellico \u2014 Support)"},
    {"app/support_mail.cpp", "Linux version: "},
    {"app/support_mail.cpp", R"(\nApp: Vellico\nApp version: )"},
    {"app/support_mail.cpp", R"()\n\nDescription:\n)"},
    // The help's language menu names each language by its flag and code,
    // the same in every language.
    {"ui/documentation_view.cpp", "🇫🇷 FR"},
    {"ui/documentation_view.cpp", "🇬🇧 EN"},
    {"ui/documentation_view.cpp", "🇩🇪 DE"},
    {"ui/documentation_view.cpp", "🇪🇸 ES"},
    {"ui/documentation_view.cpp", "🇯🇵 JA"},
    {"ui/documentation_view.cpp", "🇨🇳 ZH"},
    {"ui/library_open_panel.cpp", "*.fcpbundle *.FCPBUNDLE"},
    {"ui/theme.cpp", "rgba(%1, %2, %3, %4)"},
    {"ui/theme.cpp", "Noto Sans CJK JP"}, // font families
    {"ui/theme.cpp", "Noto Sans CJK SC"},
    {"ui/wrapping_label.cpp", "Noto Color Emoji"},
    // The mark of a line cut to the terminal's width.
    {"cli/terminal.cpp", R"(\u2026)"},
    // A diagnostic for the benchmarks (VELLICO_WALK_STATS=1).
    {"cli/main.cpp", "walk threads: peak "},
};

TEST(NoLiteral, EveryUserTextGoesThroughTheCatalogue)
{
    const auto french = Catalogue::load(cataloguePath(VELLICO_BUILD_LOCALE_DIR, Language::french));
    ASSERT_TRUE(french);
    const fs::path src = fs::path(VELLICO_SOURCE_TREE) / "src";
    std::size_t keysSeen = 0;
    for (const char* layer : {"ui", "viewmodel", "app", "cli"}) {
        for (const auto& entry : fs::directory_iterator(src / layer)) {
            const std::string extension = entry.path().extension().string();
            if (extension != ".cpp" && extension != ".hpp") {
                continue;
            }
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            const std::string file = std::string(layer) + "/" + entry.path().filename().string();
            for (const Literal& literal : literals(text.str())) {
                if (isKeyArgument(literal)) {
                    ++keysSeen;
                    EXPECT_TRUE(french->find(unescaped(literal.text)))
                        << file << ": key not in fr.po: \"" << literal.text << "\"";
                } else if (looksUserVisible(literal.text) &&
                           !notUserText.contains({file, literal.text})) {
                    ADD_FAILURE() << file << ": user text outside the catalogue: \"" << literal.text
                                  << "\"";
                }
            }
        }
    }
    EXPECT_GT(keysSeen, 50u); // the scan does find the texts
}

TEST(NoLiteral, ScannerTellsKeysFromBareTexts)
{
    const auto found = literals(R"(// "a comment"
        label(VELLICO_TEXT("Annuler"));
        char c = '"';
        x = QT_TRANSLATE_NOOP("Vellico",
                              "Deux " "morceaux");
        setStyleSheet(QStringLiteral("QLabel { color: red; }"));
        out << "Taille totale : ";
        setObjectName(QStringLiteral("errorBanner"));
    )");
    ASSERT_EQ(found.size(), 6u);
    EXPECT_EQ(found[0].text, "Annuler");
    EXPECT_TRUE(isKeyArgument(found[0]));
    EXPECT_EQ(found[1].text, "Vellico"); // the context, not a key
    EXPECT_FALSE(isKeyArgument(found[1]));
    EXPECT_EQ(found[2].text, "Deux morceaux");
    EXPECT_TRUE(isKeyArgument(found[2]));
    EXPECT_FALSE(looksUserVisible(found[3].text));
    EXPECT_FALSE(isKeyArgument(found[4]));
    EXPECT_TRUE(looksUserVisible(found[4].text));
    EXPECT_FALSE(looksUserVisible(found[5].text));
    EXPECT_TRUE(looksUserVisible(R"(<p>Version %2 (%3)</p>)"));
    EXPECT_EQ(unescaped(R"(Analyse\u2026)"), "Analyse\u2026");
    const auto cli = literals(R"(out << say("Taille totale : %1", {size});
        err << "vellico-cli: " << "dossier illisible" << "\n";)");
    ASSERT_EQ(cli.size(), 4u);
    EXPECT_TRUE(isKeyArgument(cli[0]));
    EXPECT_FALSE(looksUserVisible(cli[1].text)); // the program's name, as Unix tools print it
    EXPECT_FALSE(isKeyArgument(cli[2]));
    EXPECT_TRUE(looksUserVisible(cli[2].text));
    EXPECT_TRUE(looksUserVisible("  Total : "));
    EXPECT_TRUE(looksUserVisible("Total:"));
    EXPECT_FALSE(looksUserVisible("https://vellico.app"));
    EXPECT_FALSE(looksUserVisible("background: %1;"));
}

} // namespace
} // namespace vellico::i18n
