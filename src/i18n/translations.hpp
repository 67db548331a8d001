#pragma once

#include "i18n/catalogue.hpp"
#include "i18n/language.hpp"
#include "model/byte_count_format.hpp"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every user text of the application and of vellico-cli goes through here:
// the key (the French text, or a descriptive key such as "intro - titre")
// is looked up in the catalogue of the chosen language, then in the French
// catalogue, and shown as it is when neither has it.
namespace vellico::i18n {

class Translations {
public:
    // No catalogue: every key is shown as it is, so the texts are French.
    Translations() = default;
    Translations(Language language, std::optional<Catalogue> chosen,
                 std::optional<Catalogue> french);

    Language language() const { return m_language; }

    // The display text of `key`; null when no catalogue has it.
    const std::string* find(std::string_view key) const;

    // The form of `key` for the count `n`, by the plural rule of the
    // language whose catalogue answered; null when no catalogue has it.
    const std::string* findPlural(std::string_view key, std::int64_t n) const;

    // The same, `key` itself when no catalogue has it.
    std::string text(std::string_view key) const;
    std::string plural(std::string_view key, std::int64_t n) const;

private:
    Language m_language = Language::french;
    std::optional<Catalogue> m_chosen;
    std::optional<Catalogue> m_french;
};

// The directories that may hold the catalogues, in the order searched: the
// one beside the running program (<program>/../share/locale, so an installed
// tree can move), the install prefix's, and the build tree's.
std::vector<std::filesystem::path> catalogueDirectories();

// The catalogue file of `language` under `directory`:
// <directory>/<name>/LC_MESSAGES/vellico.mo.
std::filesystem::path cataloguePath(const std::filesystem::path& directory, Language language);

// The translations of `language` (with French behind), each catalogue read
// from the first directory of `directories` that has it.
Translations loadTranslations(Language language,
                              const std::vector<std::filesystem::path>& directories);

// The process's translations. Installed once at start-up, before any other
// thread runs; read from any thread afterwards. Until then every key is shown
// as it is.
const Translations& active();
void install(Translations translations);

// The language of the installed translations.
Language activeLanguage();

// Shorthands on the installed translations.
std::string text(std::string_view key);

// Marks a catalogue key that is handed on to be looked up later (a refusal's
// key, say): the key itself, unchanged. The catalogue checks see it as a key.
constexpr std::string_view catalogueKey(std::string_view key)
{
    return key;
}
std::string plural(std::string_view key, std::int64_t n);

// `pattern` with %1…%9 replaced by `args`, in one pass: an argument holding
// "%2" is not expanded again; a placeholder without argument stays.
std::string fillPlaceholders(std::string_view pattern, const std::vector<std::string>& args);

// The translation of `key`, its placeholders filled.
std::string fill(std::string_view key, std::initializer_list<std::string> args);

// The plural form of `key` for `n`, with %1 the count written in the
// language's digits ("13 685 fichiers analysés") and %2… the other args.
std::string fillPlural(std::string_view key, std::int64_t n,
                       std::initializer_list<std::string> otherArgs = {});

// A count in the installed language's digits.
std::string formatCount(std::int64_t n);

// The byte-count units of the installed language, and a size written with them.
model::ByteUnits byteUnits();
std::string formatBytes(std::int64_t bytes);

} // namespace vellico::i18n
