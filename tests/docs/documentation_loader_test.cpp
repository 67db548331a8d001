#include "docs/documentation_loader.hpp"
#include "docs/inline_markdown.hpp"
#include "docs/system_info.hpp"
#include "i18n/language.hpp"
#include "i18n/translations.hpp"
#include "product_config.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>

namespace vellico::docs {
namespace {

namespace fs = std::filesystem;

std::size_t count(std::string_view text, std::string_view part)
{
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

void writeFile(const fs::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(DocumentationLanguage, FirstPreferredLanguageDecides)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"fr-CA"}, "FR"},
        {{"de-CH", "fr"}, "DE"},
        {{"pt-BR", "fr"}, "EN"},
        {{"zh-Hant-TW"}, "ZH"},
        {{"C"}, "EN"},
        {{}, "EN"},
        {{"ja"}, "JA"},
        {{"es-419"}, "ES"},
        {{"en-GB", "fr"}, "EN"},
        {{"fr_FR"}, "FR"},
        {{"FR-fr"}, "FR"},
        // Three-letter languages that merely start like one of ours.
        {{"jam"}, "EN"}, // Jamaican Creole, not Japanese
        {{"frr"}, "EN"}, // North Frisian
        {{"zha"}, "EN"}, // Zhuang
        {{""}, "EN"},
    };
    for (const auto& [languages, code] : cases) {
        EXPECT_EQ(documentationLanguageCode(languages), code)
            << (languages.empty() ? "(none)" : languages.front());
    }
}

// The window takes the first language it speaks from LANGUAGE (French for
// "pt_BR:fr"); the help looks at the first preferred language only.
TEST(DocumentationLanguage, HelpOfTheEnvironmentFollowsTheFirstLanguageOnly)
{
    const char* saved = std::getenv("LANGUAGE");
    const std::string before = saved ? saved : "";
    const auto installedBefore = i18n::activeLanguage();
    i18n::install(i18n::loadTranslations(i18n::Language::french, {}));
    setenv("LANGUAGE", "pt_BR:fr", 1);
    EXPECT_EQ(i18n::firstPreferredLanguage(&std::getenv), "pt_BR");
    EXPECT_EQ(documentationLanguageCode(), "EN");
    setenv("LANGUAGE", "fr:de", 1);
    EXPECT_EQ(documentationLanguageCode(), "FR");
    if (saved) {
        setenv("LANGUAGE", before.c_str(), 1);
    } else {
        unsetenv("LANGUAGE");
    }
    i18n::install(i18n::loadTranslations(installedBefore, {}));
}

TEST(DocumentationLoader, FillReplacesEveryPlaceholderAndPlainMailLink)
{
    const std::string filled =
        fillDocumentation("{{SYSTEM_INFO}} a {{SYSTEM_INFO}}{{SYSTEM_INFO}} {{SYSTEM_INFO\n"
                          "[w](mailto:help@x.org) [w](mailto:help@x.org) <mailto:help@x.org>\n"
                          "mailto:help@x.org.\n",
                          "INFO", "help@x.org", "mailto:help@x.org?body=B");
    EXPECT_EQ(filled, "INFO a INFOINFO {{SYSTEM_INFO\n"
                      "[w](mailto:help@x.org?body=B) [w](mailto:help@x.org?body=B) "
                      "<mailto:help@x.org?body=B>\n"
                      "mailto:help@x.org?body=B.\n");
}

TEST(DocumentationLoader, FillLeavesOtherAddressesAlone)
{
    const std::vector<std::string> untouched{
        "mailto:help@x.org?subject=own", // already carries its query
        "mailto:help@x.org.example",     // a longer domain
        "mailto:help@x.orgs",            // a longer name
        "MAILTO:help@x.org",             // case-sensitive
        "mailto:other@x.org",
        "help@x.org",
    };
    for (const std::string& text : untouched) {
        EXPECT_EQ(fillDocumentation(text, "I", "help@x.org", "mailto:help@x.org?body=B"), text);
    }
}

TEST(DocumentationLoader, LoadsFromDirectoryWithPlaceholdersFilled)
{
    test::TempDir tmp;
    const std::string address(config::supportEmail);
    writeFile(tmp / "Documentation_EN.md",
              "Info: {{SYSTEM_INFO}}\n[Mail](mailto:" + address + ")\n{{SYSTEM_INFO}}\n");
    const std::string text = loadDocumentation("EN", tmp.path());
    EXPECT_EQ(count(text, systemInfoString()), 2u);
    EXPECT_EQ(count(text, "{{SYSTEM_INFO}}"), 0u);
    EXPECT_NE(text.find("(" + supportMailURLString() + ")"), std::string::npos);
}

TEST(DocumentationLoader, MissingOrUnusableFilesGiveEmptyText)
{
    test::TempDir tmp;
    writeFile(tmp / "Documentation_EN.md", "# EN");
    fs::create_directory(tmp / "Documentation_ES.md");
    ASSERT_EQ(mkfifo((tmp / "Documentation_DE.md").c_str(), 0644), 0);
    writeFile(tmp / "Documentation_JA.md", std::string(1024 * 1024 + 1, 'x'));
    EXPECT_EQ(loadDocumentation("FR", tmp.path()), ""); // missing
    EXPECT_EQ(loadDocumentation("ES", tmp.path()), ""); // a directory
    EXPECT_EQ(loadDocumentation("DE", tmp.path()), ""); // a FIFO: must not block
    EXPECT_EQ(loadDocumentation("JA", tmp.path()), ""); // over 1 MiB
    EXPECT_EQ(loadDocumentation("en", tmp.path()), ""); // not a language code
    EXPECT_EQ(loadDocumentation("EN", tmp / "nowhere"), "");
    EXPECT_EQ(loadDocumentation("EN", tmp.path()), "# EN");
}

TEST(SystemInfo, DescribesProgramAndKernel)
{
    const std::string info = systemInfoString();
    const std::string start = "Vellico " + std::string(config::version) + " (build " +
                              std::string(config::build) + ") \u2014 Linux ";
    ASSERT_EQ(info.compare(0, start.size(), start), 0) << info;
    EXPECT_TRUE(std::regex_match(info.substr(start.size()), std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")))
        << info;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

TEST(SupportMail, AddressedWithSubjectAndBody)
{
    const std::string url = supportMailURLString();
    const std::string head = "mailto:" + std::string(config::supportEmail) +
                             "?subject=Vellico%20%E2%80%94%20Support&body=";
    ASSERT_EQ(url.compare(0, head.size(), head), 0) << url;
    const std::string body = percentDecode(url.substr(head.size()));
    EXPECT_EQ(body.rfind("Linux version: ", 0), 0u) << body;
    const std::string tail = "\nApp: Vellico\nApp version: " + std::string(config::version) + " (" +
                             std::string(config::build) + ")\n\nDescription:\n";
    ASSERT_GE(body.size(), tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail);
}

} // namespace
} // namespace vellico::docs
