#include "docs/documentation_loader.hpp"
#include "docs/documentation_parser.hpp"
#include "docs/embedded_help_files.hpp"
#include "docs/system_info.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace vellico::docs {
namespace {

std::string readSource(std::string_view lang)
{
    std::ifstream in(std::string(VELLICO_HELP_DIR) + "/" + documentationFileName(lang),
                     std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t countKind(const std::vector<DocBlock>& blocks, DocBlockKind kind)
{
    return static_cast<std::size_t>(std::count_if(
        blocks.begin(), blocks.end(), [kind](const DocBlock& b) { return b.kind == kind; }));
}

std::string allText(const std::vector<DocBlock>& blocks)
{
    std::string text;
    for (const DocBlock& block : blocks) {
        text += block.text + plainText(block.inlineText) + "\n";
    }
    return text;
}

bool linksTo(const std::vector<DocBlock>& blocks, const std::string& href)
{
    for (const DocBlock& block : blocks) {
        for (const InlineRun& run : block.inlineText) {
            if (run.href == href) {
                return true;
            }
        }
    }
    return false;
}

TEST(HelpFiles, EveryLanguageParsesLikeTheFrenchOne)
{
    const auto french = parseDocumentation(loadDocumentation("FR", embeddedHelpFileReader()));
    ASSERT_GT(countKind(french, DocBlockKind::heading2), 5u);
    for (const std::string_view lang : documentationLanguages) {
        SCOPED_TRACE(std::string(lang));
        const std::string source = readSource(lang);
        ASSERT_FALSE(source.empty());
        EXPECT_EQ(source.find('\r'), std::string::npos) << "CR-LF line ends";
        EXPECT_EQ(embeddedHelpFile(documentationFileName(lang)), source) << "stale embedded copy";

        const std::string text = loadDocumentation(lang, embeddedHelpFileReader());
        const auto blocks = parseDocumentation(text);
        EXPECT_EQ(countKind(blocks, DocBlockKind::heading1), 1u);
        EXPECT_EQ(blocks.front().kind, DocBlockKind::heading1);
        for (const DocBlockKind kind : {DocBlockKind::heading2, DocBlockKind::heading3,
                                        DocBlockKind::listItem, DocBlockKind::separator}) {
            EXPECT_EQ(countKind(blocks, kind), countKind(french, kind))
                << "block kind " << static_cast<int>(kind);
        }
        // Every paragraph of the file made it through the inline parser.
        EXPECT_EQ(countKind(blocks, DocBlockKind::paragraph),
                  countKind(french, DocBlockKind::paragraph));

        const std::string all = allText(blocks);
        EXPECT_NE(all.find(systemInfoString()), std::string::npos);
        EXPECT_EQ(all.find("{{"), std::string::npos);
        EXPECT_TRUE(linksTo(blocks, supportMailURLString())) << "support link not expanded";
        for (const char* needle :
             {"Montage en cours", "Montage terminé", "vellico-cli analyze", "vellico-cli clean",
              "Render Files", "Shared Items", "Analysis Files", "Transcoded Media",
              "flexo.apple.com", "VideoSegmentationFiles", "Final Cut Backups", "Alt"}) {
            EXPECT_NE(all.find(needle), std::string::npos) << needle;
        }
    }
}

TEST(HelpFiles, OnlyTheSixLanguagesAreEmbedded)
{
    EXPECT_FALSE(embeddedHelpFile("Documentation_PT.md").has_value());
    EXPECT_FALSE(embeddedHelpFile("../Documentation_FR.md").has_value());
    EXPECT_EQ(loadDocumentation("PT", embeddedHelpFileReader()), "");
}

} // namespace
} // namespace vellico::docs
