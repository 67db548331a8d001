#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellico::docs {

// The documentation languages, in the order the language picker lists them.
inline constexpr std::string_view documentationLanguages[] = {"FR", "EN", "DE", "ES", "JA", "ZH"};

// The documentation language for a language tag ("fr-CA", "de_CH", "zh-Hant-TW",
// "JA"): the primary subtag, compared without regard to case, must be fr, en,
// de, es, ja or zh. None for any other tag ("pt-BR", "C", "jam").
std::optional<std::string> languageCodeForTag(std::string_view tag);

// The default documentation language for a user whose preferred languages
// are `preferredLanguages`, most preferred first. Only the first is looked at;
// an empty list counts as "en"; anything without its own help file ("C",
// "pt-BR") gives "EN".
std::string documentationLanguageCode(std::span<const std::string> preferredLanguages);

// The default documentation language: the language of the messages
// (i18n::activeLanguage(), chosen from LANGUAGE, LC_ALL, LC_MESSAGES and
// LANG), so the help opens in the language the window and the CLI speak;
// but "EN" when the first preferred language has no help file of its own
// (LANGUAGE=pt_BR:fr: French messages, English help).
std::string documentationLanguageCode();

// "Documentation_" + lang + ".md"; empty when `lang` is not two capital
// letters, so no language code can name a file elsewhere.
std::string documentationFileName(std::string_view lang);

// Reads one help file by plain name; none when it is missing or unreadable.
using HelpFileReader = std::function<std::optional<std::string>(const std::string& fileName)>;

// A reader of the help files compiled into the program.
HelpFileReader embeddedHelpFileReader();

// A reader of the help files in `directory`: regular files of at most 1 MiB.
HelpFileReader directoryHelpFileReader(std::filesystem::path directory);

// Bytes of a help file as UTF-8 text: a UTF-8 byte-order mark is dropped,
// well-formed UTF-16 with a byte-order mark is converted, valid UTF-8 is
// kept, and anything else is read as Latin-1.
std::string decodeHelpText(std::string_view bytes);

// Fills a help text: every "{{SYSTEM_INFO}}" becomes `systemInfo`, and every
// "mailto:" + `supportEmail` becomes `supportMailUrl` (case-sensitive, in one
// pass, so the inserted URL is not rewritten again). An address that goes on
// with more address characters ("mailto:support@vellico.app.example", or one
// already followed by "?") is left as written.
std::string fillDocumentation(std::string text, std::string_view systemInfo,
                              std::string_view supportEmail, std::string_view supportMailUrl);

// The help text for `lang` read through `read`, decoded and filled with
// systemInfoString() and supportMailURLString() for the configured support
// address. Empty when the language code is not valid or the file is missing
// or unreadable.
std::string loadDocumentation(std::string_view lang, const HelpFileReader& read);

// The same, reading from a directory of help files.
std::string loadDocumentation(std::string_view lang, const std::filesystem::path& resourceDir);

} // namespace vellico::docs
