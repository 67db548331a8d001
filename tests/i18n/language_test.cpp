#include "i18n/language.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vellico::i18n {
namespace {

TEST(LanguageChoice, FollowsLanguageThenLocaleVariables)
{
    using L = Language;
    const struct {
        std::map<std::string, std::string> environment;
        Language expected;
    } cases[] = {
        {{}, L::english}, // nothing set
        {{{"LANG", "C"}}, L::english},
        {{{"LANG", "POSIX"}}, L::english},
        {{{"LANG", "C.UTF-8"}}, L::english},
        {{{"LANG", "pt_BR.UTF-8"}}, L::english}, // unsupported
        {{{"LANG", "fr_FR.UTF-8"}}, L::french},
        {{{"LANG", "fr_CA"}}, L::french},
        {{{"LANG", "de_AT.UTF-8@euro"}}, L::german},
        {{{"LANG", "es_MX.UTF-8"}}, L::spanish},
        {{{"LANG", "ja_JP.UTF-8"}}, L::japanese},
        {{{"LANG", "zh_CN.UTF-8"}}, L::chinese},
        {{{"LANG", "zh_TW.UTF-8"}}, L::chinese}, // one Chinese catalogue
        {{{"LANG", "en_GB.UTF-8"}}, L::english},
        {{{"LANG", "jam"}}, L::english}, // three letters, not "ja"
        {{{"LANG", "fr_FR.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, L::german},
        {{{"LC_MESSAGES", "de_DE.UTF-8"}, {"LC_ALL", "es_ES.UTF-8"}}, L::spanish},
        {{{"LC_ALL", ""}, {"LANG", "ja_JP.UTF-8"}}, L::japanese}, // empty is unset
        {{{"LC_ALL", "C"}, {"LANG", "fr_FR.UTF-8"}}, L::english}, // LC_ALL wins, even as C
        {{{"LANGUAGE", "de:en"}, {"LANG", "fr_FR.UTF-8"}}, L::german},
        {{{"LANGUAGE", "pt_BR:es:en"}, {"LANG", "fr_FR.UTF-8"}}, L::spanish},
        {{{"LANGUAGE", "pt_BR:it"}, {"LANG", "ja_JP.UTF-8"}}, L::japanese},
        {{{"LANGUAGE", "pt_BR"}}, L::english},
        {{{"LANGUAGE", "::zh_CN"}}, L::chinese},          // empty entries skipped
        {{{"LANGUAGE", "fr"}, {"LANG", "C"}}, L::french}, // read even in the C locale
        {{{"LANGUAGE", ""}, {"LANG", "de_DE"}}, L::german},
    };
    for (const auto& c : cases) {
        const auto getenv = [&](const char* name) -> const char* {
            const auto it = c.environment.find(name);
            return it == c.environment.end() ? nullptr : it->second.c_str();
        };
        std::string shown;
        for (const auto& [name, value] : c.environment) {
            shown += name + "=" + value + " ";
        }
        EXPECT_EQ(chooseLanguage(getenv), c.expected) << shown;
    }
    EXPECT_EQ(chooseLanguage(nullptr), Language::english);
}

TEST(LanguageChoice, PluralFormsFollowEachLanguage)
{
    const struct {
        Language language;
        std::int64_t n;
        std::size_t form;
    } cases[] = {
        {Language::french, 0, 0},     {Language::french, 1, 0},  {Language::french, 2, 1},
        {Language::french, 13685, 1}, {Language::english, 0, 1}, {Language::english, 1, 0},
        {Language::english, 2, 1},    {Language::german, 1, 0},  {Language::german, 21, 1},
        {Language::spanish, 1, 0},    {Language::spanish, 0, 1}, {Language::japanese, 1, 0},
        {Language::japanese, 7, 0},   {Language::chinese, 2, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pluralIndex(c.language, c.n), c.form)
            << catalogueName(c.language) << " n=" << c.n;
    }
}

TEST(NumberFormat, GroupsDigitsTheWayEachLanguageWrites)
{
    const std::string nnbsp = "\u202F";
    const struct {
        Language language;
        std::int64_t n;
        std::string text;
    } cases[] = {
        {Language::french, 13685, "13" + nnbsp + "685"},
        {Language::french, 999, "999"},
        {Language::french, 1000, "1" + nnbsp + "000"},
        {Language::french, 1234567, "1" + nnbsp + "234" + nnbsp + "567"},
        {Language::english, 13685, "13,685"},
        {Language::english, 0, "0"},
        {Language::english, -1234, "-1,234"},
        {Language::english, INT64_MIN, "-9,223,372,036,854,775,808"},
        {Language::german, 13685, "13.685"},
        {Language::spanish, 1000, "1000"}, // four digits stay together in Spanish
        {Language::spanish, 13685, "13.685"},
        {Language::japanese, 100000, "100,000"},
        {Language::chinese, 1000, "1,000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatCount(c.n, c.language), c.text) << catalogueName(c.language) << " " << c.n;
    }
}

} // namespace
} // namespace vellico::i18n
