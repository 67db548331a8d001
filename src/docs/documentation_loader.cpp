#include "docs/documentation_loader.hpp"

#include "docs/embedded_help_files.hpp"
#include "docs/system_info.hpp"
#include "i18n/translations.hpp"
#include "model/utf8.hpp"
#include "platform/file_system.hpp"
#include "product_config.hpp"

#include <utf8proc.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace vellico::docs {

namespace {

using model::appendUtf8;
using model::isValidUtf8;
using model::utf8FromUtf16;

// The help files are a few tens of kilobytes; anything far larger is not one.
constexpr std::size_t maxHelpFileBytes = 1024 * 1024;

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isAddressCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '%' || c == '+' || c == '-' || c == '@' || c == '?' || c == '&' || c == '=';
}

// True when `text` goes on after `end` with more of an address or a query, so
// that the support address found there is only the start of something else.
bool continuesAddress(std::string_view text, std::size_t end)
{
    if (end >= text.size()) {
        return false;
    }
    if (isAddressCharacter(text[end])) {
        return true;
    }
    // "….app.example" goes on; "….app." ends a sentence.
    return text[end] == '.' && end + 1 < text.size() &&
           std::isalnum(static_cast<unsigned char>(text[end + 1])) != 0;
}

std::string replaceEvery(std::string_view text, std::string_view from, std::string_view to,
                         bool checkAddressEnd)
{
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t at = text.find(from); at != std::string_view::npos;
         at = text.find(from, at + from.size())) {
        if (checkAddressEnd && continuesAddress(text, at + from.size())) {
            continue;
        }
        out.append(text.substr(start, at - start));
        out.append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

} // namespace

std::optional<std::string> languageCodeForTag(std::string_view tag)
{
    const std::string_view primary = tag.substr(0, tag.find_first_of("-_.@"));
    if (primary.size() != 2) {
        return std::nullopt;
    }
    const std::string lower{lowerAscii(primary[0]), lowerAscii(primary[1])};
    for (const std::string_view code : documentationLanguages) {
        if (lower[0] == lowerAscii(code[0]) && lower[1] == lowerAscii(code[1])) {
            return std::string(code);
        }
    }
    return std::nullopt;
}

std::string documentationLanguageCode(std::span<const std::string> preferredLanguages)
{
    const std::string_view first =
        preferredLanguages.empty() ? std::string_view("en") : preferredLanguages.front();
    return languageCodeForTag(first).value_or("EN");
}

std::string documentationLanguageCode()
{
    // The window may speak the second preferred language (LANGUAGE=pt_BR:fr
    // gives French texts), but the help follows the first one only: one
    // without a help file gets the English help.
    const std::string first = i18n::firstPreferredLanguage(&std::getenv);
    if (!first.empty() && !languageCodeForTag(first)) {
        return "EN";
    }
    return std::string(i18n::helpCode(i18n::activeLanguage()));
}

std::string documentationFileName(std::string_view lang)
{
    if (lang.size() != 2 || lang[0] < 'A' || lang[0] > 'Z' || lang[1] < 'A' || lang[1] > 'Z') {
        return {};
    }
    return "Documentation_" + std::string(lang) + ".md";
}

HelpFileReader embeddedHelpFileReader()
{
    return [](const std::string& fileName) -> std::optional<std::string> {
        if (const auto bytes = embeddedHelpFile(fileName)) {
            return std::string(*bytes);
        }
        return std::nullopt;
    };
}

HelpFileReader directoryHelpFileReader(std::filesystem::path directory)
{
    return [directory =
                std::move(directory)](const std::string& fileName) -> std::optional<std::string> {
        // A regular file only, read without blocking (a FIFO in place of a
        // help file cannot hang the reader).
        const auto bytes = platform::readRegularFile(directory / fileName, maxHelpFileBytes);
        if (!bytes) {
            return std::nullopt;
        }
        return std::string(bytes->begin(), bytes->end());
    };
}

std::string decodeHelpText(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        const std::span<const std::uint8_t> units(
            reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
        if (auto text = utf8FromUtf16(units, bytes[0] == '\xFE')) {
            return std::move(*text);
        }
    }
    if (isValidUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string latin1;
    latin1.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        appendUtf8(latin1, static_cast<unsigned char>(c));
    }
    return latin1;
}

std::string fillDocumentation(std::string text, std::string_view systemInfo,
                              std::string_view supportEmail, std::string_view supportMailUrl)
{
    text = replaceEvery(text, "{{SYSTEM_INFO}}", systemInfo, false);
    if (supportEmail.empty()) {
        return text;
    }
    const std::string plainLink = "mailto:" + std::string(supportEmail);
    return replaceEvery(text, plainLink, supportMailUrl, true);
}

std::string loadDocumentation(std::string_view lang, const HelpFileReader& read)
{
    const std::string fileName = documentationFileName(lang);
    if (fileName.empty() || !read) {
        return {};
    }
    const std::optional<std::string> bytes = read(fileName);
    if (!bytes || bytes->size() > maxHelpFileBytes) {
        return {};
    }
    return fillDocumentation(decodeHelpText(*bytes), systemInfoString(), config::supportEmail,
                             supportMailURLString());
}

std::string loadDocumentation(std::string_view lang, const std::filesystem::path& resourceDir)
{
    return loadDocumentation(lang, directoryHelpFileReader(resourceDir));
}

} // namespace vellico::docs
