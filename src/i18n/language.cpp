#include "i18n/language.hpp"

namespace vellico::i18n {

namespace {

struct LanguageFacts {
    Language language;
    std::string_view subtag;
    std::string_view catalogue;
    std::string_view help;
    std::string_view pluralForms;
    NumberFormat numbers;
};

constexpr std::string_view narrowNoBreakSpace = "\u202F";

constexpr std::array<LanguageFacts, 6> facts{{
    {Language::french,
     "fr",
     "fr",
     "FR",
     "nplurals=2; plural=(n > 1);",
     {narrowNoBreakSpace, ',', 4}},
    {Language::english, "en", "en", "EN", "nplurals=2; plural=(n != 1);", {",", '.', 4}},
    {Language::german, "de", "de", "DE", "nplurals=2; plural=(n != 1);", {".", ',', 4}},
    {Language::spanish, "es", "es", "ES", "nplurals=2; plural=(n != 1);", {".", ',', 5}},
    {Language::japanese, "ja", "ja", "JA", "nplurals=1; plural=0;", {",", '.', 4}},
    {Language::chinese, "zh", "zh_CN", "ZH", "nplurals=1; plural=0;", {",", '.', 4}},
}};

const LanguageFacts& factsOf(Language language)
{
    for (const LanguageFacts& entry : facts) {
        if (entry.language == language) {
            return entry;
        }
    }
    return facts[1];
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string_view catalogueName(Language language)
{
    return factsOf(language).catalogue;
}

std::string_view helpCode(Language language)
{
    return factsOf(language).help;
}

std::optional<Language> languageForTag(std::string_view tag)
{
    const std::string_view primary = tag.substr(0, tag.find_first_of("-_.@"));
    if (primary.size() != 2) {
        return std::nullopt;
    }
    for (const LanguageFacts& entry : facts) {
        if (lowerAscii(primary[0]) == entry.subtag[0] &&
            lowerAscii(primary[1]) == entry.subtag[1]) {
            return entry.language;
        }
    }
    return std::nullopt;
}

Language chooseLanguage(const std::function<const char*(const char*)>& getenv)
{
    auto variable = [&](const char* name) -> std::string_view {
        const char* value = getenv ? getenv(name) : nullptr;
        return value ? std::string_view(value) : std::string_view();
    };
    std::string_view list = variable("LANGUAGE");
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        if (const auto language = languageForTag(list.substr(0, colon))) {
            return *language;
        }
        if (colon == std::string_view::npos) {
            break;
        }
        list.remove_prefix(colon + 1);
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string_view locale = variable(name);
        if (!locale.empty()) {
            return languageForTag(locale).value_or(Language::english);
        }
    }
    return Language::english;
}

std::string firstPreferredLanguage(const std::function<const char*(const char*)>& getenv)
{
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv ? getenv(name) : nullptr;
        const std::string_view text = value ? std::string_view(value) : std::string_view();
        if (!text.empty()) {
            return std::string(text.substr(0, text.find(':')));
        }
    }
    return {};
}

std::size_t pluralIndex(Language language, std::int64_t n)
{
    switch (language) {
    case Language::french:
        return n > 1 ? 1 : 0;
    case Language::english:
    case Language::german:
    case Language::spanish:
        return n != 1 ? 1 : 0;
    case Language::japanese:
    case Language::chinese:
        break;
    }
    return 0;
}

std::string_view pluralFormsHeader(Language language)
{
    return factsOf(language).pluralForms;
}

NumberFormat numberFormat(Language language)
{
    return factsOf(language).numbers;
}

std::string formatCount(std::int64_t n, Language language)
{
    const NumberFormat format = numberFormat(language);
    // Through the unsigned magnitude, so the most negative count is printed too.
    const bool negative = n < 0;
    std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(n) + 1 : static_cast<std::uint64_t>(n);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    std::string out = negative ? "-" : "";
    if (static_cast<int>(digits.size()) < format.minimumDigitsToGroup) {
        return out + digits;
    }
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            out += format.groupSeparator;
        }
        out += digits[i];
    }
    return out;
}

} // namespace vellico::i18n
