#include "i18n/catalogue.hpp"
#include "i18n/translations.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace vellico::i18n {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// Two strings joined by a NUL: a plural key, or the forms of a translation.
std::string forms(const std::string& first, const std::string& second)
{
    return first + '\0' + second;
}

// A .mo file laid out as msgfmt lays it out (header, key table, value
// table, then the strings, each followed by a NUL), without a hash table.
std::string moFile(const Entries& entries, bool littleEndian = true)
{
    std::string out;
    auto word = [&](std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            const int shift = littleEndian ? 8 * i : 8 * (3 - i);
            out += static_cast<char>((value >> shift) & 0xff);
        }
    };
    const auto count = static_cast<std::uint32_t>(entries.size());
    const std::uint32_t keysAt = 28;
    const std::uint32_t valuesAt = keysAt + 8 * count;
    std::uint32_t stringsAt = valuesAt + 8 * count;
    word(0x950412de);
    word(0);
    word(count);
    word(keysAt);
    word(valuesAt);
    word(0);
    word(stringsAt);
    std::string strings;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> values;
    for (const auto& [key, value] : entries) {
        keys.emplace_back(static_cast<std::uint32_t>(key.size()), stringsAt);
        strings += key + '\0';
        stringsAt += static_cast<std::uint32_t>(key.size() + 1);
    }
    for (const auto& [key, value] : entries) {
        values.emplace_back(static_cast<std::uint32_t>(value.size()), stringsAt);
        strings += value + '\0';
        stringsAt += static_cast<std::uint32_t>(value.size() + 1);
    }
    for (const auto& table : {keys, values}) {
        for (const auto& [length, offset] : table) {
            word(length);
            word(offset);
        }
    }
    return out + strings;
}

const Entries sample{
    {"", "Language: de\nPlural-Forms: nplurals=2; plural=(n != 1);\n"},
    {"Annuler", "Abbrechen"},
    {forms("%1 fichiers analysés", "%1 fichiers analysés"),
     forms("%1 Datei analysiert", "%1 Dateien analysiert")},
    {"intro - titre", "Schaffen Sie Platz"},
};

TEST(Catalogue, ReadsEntriesPluralsAndHeaderInBothByteOrders)
{
    for (const bool littleEndian : {true, false}) {
        const auto catalogue = Catalogue::parse(moFile(sample, littleEndian));
        ASSERT_TRUE(catalogue) << littleEndian;
        ASSERT_TRUE(catalogue->find("Annuler"));
        EXPECT_EQ(*catalogue->find("Annuler"), std::vector<std::string>{"Abbrechen"});
        ASSERT_TRUE(catalogue->find("%1 fichiers analysés"));
        EXPECT_EQ(*catalogue->find("%1 fichiers analysés"),
                  (std::vector<std::string>{"%1 Datei analysiert", "%1 Dateien analysiert"}));
        EXPECT_EQ(catalogue->find("Supprimer"), nullptr);
        EXPECT_EQ(catalogue->find(""), nullptr); // the header is not an entry
        EXPECT_EQ(catalogue->keys().size(), 3u);
        EXPECT_EQ(catalogue->headerField("Plural-Forms"), "nplurals=2; plural=(n != 1);");
        EXPECT_EQ(catalogue->headerField("Language"), "de");
        EXPECT_EQ(catalogue->headerField("Lang"), "");
    }
}

TEST(Catalogue, RefusesDamagedFilesWithoutReadingOutside)
{
    const std::string good = moFile(sample);
    auto withWord = [&](std::size_t at, std::uint32_t value) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xff);
        }
        return bytes;
    };
    std::string noNul = good;
    noNul.back() = 'x'; // the last string loses its terminating NUL
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"wrong magic", withWord(0, 0x12345678)},
        {"major revision 1", withWord(4, 0x10000)},
        {"count past the end", withWord(8, 0x7fffffff)},
        {"key table past the end", withWord(12, 0xfffffff0)},
        {"value table past the end", withWord(16, static_cast<std::uint32_t>(good.size()))},
        {"string length past the end", withWord(28, 0xffffffff)},
        {"string offset past the end", withWord(32, static_cast<std::uint32_t>(good.size() + 1))},
        {"unterminated string", noNul},
        {"header only", good.substr(0, 28)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Catalogue::parse(c.bytes)) << c.what;
    }
    // Every truncation is refused, never read past.
    for (std::size_t size = 0; size < good.size(); ++size) {
        EXPECT_FALSE(Catalogue::parse(std::string_view(good).substr(0, size))) << size;
    }
    // A minor revision adds nothing a reader needs.
    EXPECT_TRUE(Catalogue::parse(withWord(4, 1)));
}

TEST(Catalogue, LoadsOnlyRegularFilesOfBoundedSize)
{
    test::TempDir tmp;
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(tmp / name, std::ios::binary) << bytes;
        return tmp / name;
    };
    EXPECT_TRUE(Catalogue::load(write("de.mo", moFile(sample))));
    EXPECT_FALSE(Catalogue::load(tmp / "missing.mo"));
    EXPECT_FALSE(Catalogue::load(tmp.path())); // a directory
    std::string huge = moFile(sample);
    huge.resize(Catalogue::maxBytes + 1, '\0');
    EXPECT_FALSE(Catalogue::load(write("huge.mo", huge)));
}

TEST(Translations, FallBackToFrenchThenToTheKey)
{
    const auto german = Catalogue::parse(moFile(sample));
    const auto french = Catalogue::parse(moFile({
        {"intro - titre", "Faites de la place"},
        {"intro - étape 1", "Glissez une bibliothèque"},
        {forms("%1 fichiers analysés", "%1 fichiers analysés"),
         forms("%1 fichier analysé", "%1 fichiers analysés")},
    }));
    const Translations translations(Language::german, german, french);
    EXPECT_EQ(translations.text("intro - titre"), "Schaffen Sie Platz");
    EXPECT_EQ(translations.text("intro - étape 1"), "Glissez une bibliothèque");
    EXPECT_EQ(translations.text("Nouveau texte"), "Nouveau texte");
    EXPECT_EQ(translations.find("Nouveau texte"), nullptr);
    EXPECT_EQ(translations.plural("%1 fichiers analysés", 1), "%1 Datei analysiert");
    EXPECT_EQ(translations.plural("%1 fichiers analysés", 0), "%1 Dateien analysiert");

    // French answers with French plural rules: 0 takes the singular.
    const Translations frenchOnly(Language::german, std::nullopt, french);
    EXPECT_EQ(frenchOnly.plural("%1 fichiers analysés", 0), "%1 fichier analysé");
    EXPECT_EQ(frenchOnly.plural("%1 fichiers analysés", 2), "%1 fichiers analysés");
}

TEST(Translations, FillsPlaceholdersInOnePass)
{
    EXPECT_EQ(fillPlaceholders("« %1 » dans « %2 »", {"%2", "b"}), "« %2 » dans « b »");
    EXPECT_EQ(fillPlaceholders("%1 et %3", {"a"}), "a et %3");
    EXPECT_EQ(fillPlaceholders("100 % sûr %", {"x"}), "100 % sûr %");
}

} // namespace
} // namespace vellico::i18n
