#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The languages Vellico speaks, how the user's language is chosen from the
// environment, and what differs between them besides the words: plural
// forms and the writing of numbers. Plain C++, no locale of the C library
// involved, so the choice works where no locale is generated.
namespace vellico::i18n {

enum class Language { french, english, german, spanish, japanese, chinese };

inline constexpr std::array<Language, 6> languages{Language::french,   Language::english,
                                                   Language::german,   Language::spanish,
                                                   Language::japanese, Language::chinese};

// The catalogue's name: "fr", "en", "de", "es", "ja", "zh_CN" (the file
// resources/translations/<name>.po, installed as
// share/locale/<name>/LC_MESSAGES/vellico.mo).
std::string_view catalogueName(Language language);

// The help file's language code: "FR", "EN", "DE", "ES", "JA", "ZH".
std::string_view helpCode(Language language);

// The language of a locale name or language tag ("de_AT.UTF-8@euro",
// "zh-Hans-CN", "ja"), by its primary subtag in any letter case; every
// Chinese variant reads the Simplified catalogue. None for "C", "POSIX",
// "pt_BR" and anything else unsupported.
std::optional<Language> languageForTag(std::string_view tag);

// The user's language from LANGUAGE (a colon-separated list, the first
// supported entry wins), then the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty. That locale gives its language when supported
// and English otherwise ("C", "POSIX", "pt_BR"); English too when nothing is
// set. Unlike the C library, LANGUAGE is read even in the C locale: servers
// and containers often have no locale at all. `getenv` is the lookup
// (std::getenv in the programs).
Language chooseLanguage(const std::function<const char*(const char*)>& getenv);

// The user's first preferred language as the environment names it: the
// first entry of LANGUAGE, else the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty; empty when none is. Unlike chooseLanguage(),
// it is not skipped when Vellico does not speak it ("pt_BR").
std::string firstPreferredLanguage(const std::function<const char*(const char*)>& getenv);

// Which plural form of a catalogue entry `n` takes: the gettext formula of
// the catalogue's Plural-Forms header, "nplurals=2; plural=(n > 1);" in
// French, "(n != 1)" in English, German and Spanish; Japanese and Chinese
// have a single form.
std::size_t pluralIndex(Language language, std::int64_t n);

// The Plural-Forms header the catalogue of `language` must declare.
std::string_view pluralFormsHeader(Language language);

// How a language writes numbers: the digit-group separator (a narrow
// no-break space in French), the decimal separator, and from how many digits
// on the groups start (five in Spanish: "1000", "13.685").
struct NumberFormat {
    std::string_view groupSeparator;
    char decimalSeparator;
    int minimumDigitsToGroup;
};

NumberFormat numberFormat(Language language);

// `n` with its digits grouped: "13 685" (U+202F) in French, "13,685" in
// English, "13.685" in German.
std::string formatCount(std::int64_t n, Language language);

} // namespace vellico::i18n
