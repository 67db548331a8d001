// The shipped catalogues: every language has every entry of the French
// catalogue, finished, with the same placeholders and its own plural rule.
#include "i18n/catalogue.hpp"
#include "i18n/language.hpp"
#include "i18n/translations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace vellico::i18n {
namespace {

// The catalogue the build compiled for `language`; empty (and a failure)
// when it is missing.
Catalogue compiled(Language language)
{
    auto catalogue = Catalogue::load(cataloguePath(VELLICO_BUILD_LOCALE_DIR, language));
    if (!catalogue) {
        ADD_FAILURE() << "no compiled catalogue for " << catalogueName(language);
        return Catalogue();
    }
    return std::move(*catalogue);
}

std::string source(Language language)
{
    std::ifstream in(std::string(VELLICO_TRANSLATIONS_DIR) + "/" +
                     std::string(catalogueName(language)) + ".po");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The placeholders of a text, sorted: "%1", "%2"…
std::multiset<std::string> placeholders(const std::string& text)
{
    static const std::regex placeholder("%[1-9]");
    std::multiset<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder);
         it != std::sregex_iterator(); ++it) {
        found.insert(it->str());
    }
    return found;
}

TEST(CatalogueFiles, EveryLanguageHasEveryEntryFinished)
{
    const Catalogue french = compiled(Language::french);
    const std::vector<std::string> keys = french.keys();
    ASSERT_FALSE(keys.empty());
    // msgfmt leaves unfinished (empty or fuzzy) entries out of the compiled
    // file, so each source must count exactly as many entries as French
    // has compiled (plus the header).
    for (const Language language : languages) {
        const std::string po = source(language);
        std::size_t entries = 0;
        std::istringstream lines(po);
        for (std::string line; std::getline(lines, line);) {
            entries += line.rfind("msgid ", 0) == 0;
            EXPECT_NE(line.rfind("#, fuzzy", 0), 0u) << catalogueName(language) << ": " << line;
        }
        EXPECT_EQ(entries, keys.size() + 1) << catalogueName(language);

        const Catalogue catalogue = compiled(language);
        EXPECT_EQ(catalogue.keys().size(), keys.size()) << catalogueName(language);
        for (const std::string& key : keys) {
            const auto* forms = catalogue.find(key);
            if (!forms) {
                ADD_FAILURE() << catalogueName(language) << " lacks \"" << key << "\"";
                continue;
            }
            for (const std::string& form : *forms) {
                EXPECT_FALSE(form.empty()) << catalogueName(language) << ": " << key;
            }
        }
    }
}

TEST(CatalogueFiles, TranslationsKeepThePlaceholdersOfTheKey)
{
    const std::vector<std::string> keys = compiled(Language::french).keys();
    for (const Language language : languages) {
        const Catalogue catalogue = compiled(language);
        for (const std::string& key : keys) {
            const auto* forms = catalogue.find(key);
            if (!forms) {
                continue; // reported by the completeness test
            }
            for (const std::string& form : *forms) {
                EXPECT_EQ(placeholders(form), placeholders(key))
                    << catalogueName(language) << ": \"" << key << "\" → \"" << form << "\"";
            }
        }
    }
}

TEST(CatalogueFiles, PluralFormsMatchTheRulesTheProgramApplies)
{
    const Catalogue french = compiled(Language::french);
    for (const Language language : languages) {
        const Catalogue catalogue = compiled(language);
        const std::string header = catalogue.headerField("Plural-Forms");
        EXPECT_EQ(header, pluralFormsHeader(language)) << catalogueName(language);
        EXPECT_EQ(catalogue.headerField("Language"), catalogueName(language));
        const std::size_t forms = header.find("nplurals=1") == 0 ? 1 : 2;
        for (const std::string& key : french.keys()) {
            const auto* entry = catalogue.find(key);
            const std::size_t frenchForms = french.find(key)->size();
            if (entry && frenchForms > 1) {
                EXPECT_EQ(entry->size(), forms) << catalogueName(language) << ": " << key;
            } else if (entry) {
                EXPECT_EQ(entry->size(), 1u) << catalogueName(language) << ": " << key;
            }
        }
    }
}

} // namespace
} // namespace vellico::i18n
