#include "docs/documentation_parser.hpp"
#include "docs/inline_markdown.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellico::docs {
namespace {

// One line per block: "h1:", "h2:", "h3:", "p:", "li:" and the text (inline
// formatting dropped), or "sep".
std::vector<std::string> describe(const std::vector<DocBlock>& blocks)
{
    std::vector<std::string> lines;
    for (const DocBlock& block : blocks) {
        switch (block.kind) {
        case DocBlockKind::heading1:
            lines.push_back("h1:" + block.text);
            break;
        case DocBlockKind::heading2:
            lines.push_back("h2:" + block.text);
            break;
        case DocBlockKind::heading3:
            lines.push_back("h3:" + block.text);
            break;
        case DocBlockKind::paragraph:
            lines.push_back("p:" + plainText(block.inlineText));
            break;
        case DocBlockKind::listItem:
            lines.push_back("li:" + plainText(block.inlineText));
            break;
        case DocBlockKind::separator:
            lines.push_back("sep");
            break;
        }
    }
    return lines;
}

struct LineCase {
    const char* name;
    std::string text;
    std::vector<std::string> blocks;
};

TEST(DocumentationParser, LineRules)
{
    const std::vector<LineCase> cases{
        {"level 1", "# Title", {"h1:Title"}},
        {"level 2", "## Title", {"h2:Title"}},
        {"level 3", "### Title", {"h3:Title"}},
        {"no blank after the marker", "#Title", {"p:#Title"}},
        {"four number signs", "#### Title", {"p:#### Title"}},
        {"lone number sign", "#", {"p:#"}},
        {"lone number sign and blank", "# ", {"p:#"}},
        {"blanks kept after a marker", "##  Two", {"h2: Two"}},
        {"empty level-3 title", "### \t", {"p:###"}},
        {"asterisks stay in headings", "## **Bold** *it* `x`", {"h2:**Bold** *it* `x`"}},
        {"list item", "- item", {"li:item"}},
        {"list item keeps further blanks", "-   spaced", {"li:  spaced"}},
        {"lone hyphen", "-", {"p:-"}},
        {"hyphen and trailing blank", "- ", {"p:-"}},
        {"separator", "---", {"sep"}},
        {"four hyphens", "----", {"p:----"}},
        {"spaced hyphens are a list item", "- - -", {"li:- -"}},
        {"indented heading", "   ## Indented", {"h2:Indented"}},
        {"tab-indented list item", "\t- tabbed", {"li:tabbed"}},
        {"indented separator", "  ---  ", {"sep"}},
        {"four-blank indent is not code", "    code?", {"p:code?"}},
        {"lines join with one blank", "one\n  two\nthree", {"p:one two three"}},
        {"blanks inside a line kept", "a   b", {"p:a   b"}},
        {"empty line ends a paragraph", "a\n\nb", {"p:a", "p:b"}},
        {"blank-only line ends a paragraph", "a\n \t \nb", {"p:a", "p:b"}},
        {"heading ends a paragraph", "a\n# H\nb", {"p:a", "h1:H", "p:b"}},
        {"list item ends a paragraph", "a\n- x\nb", {"p:a", "li:x", "p:b"}},
        {"separator ends a paragraph", "a\n---\nb", {"p:a", "sep", "p:b"}},
        {"list items stay separate", "- a\n- b", {"li:a", "li:b"}},
        {"last line flushed", "end", {"p:end"}},
        {"empty text", "", {}},
        {"only blank lines", "\n\n  \n", {}},
        {"block syntax inside a paragraph stays text",
         "1. one\n> quote\n===\n```",
         {"p:1. one > quote === ```"}},
        {"CR-LF heading keeps its CR", "## Title\r\n", {"h2:Title\r"}},
        {"CR-LF separator is text", "---\r\ntext\r\n", {"p:---\r text\r"}},
        {"CR-LF empty line does not end a paragraph", "a\r\n\r\nb\r", {"p:a\r \r b\r"}},
        {"CR-LF list item", "- item\r\n", {"li:item\r"}},
        {"lone CR line is text", "\r", {"p:\r"}},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(describe(parseDocumentation(c.text)), c.blocks) << c.name;
    }
}

TEST(DocumentationParser, ParagraphsCarryInlineFormatting)
{
    const auto blocks = parseDocumentation("Read *this*\nand [that](https://x.y).\n- `code`");
    ASSERT_EQ(blocks.size(), 2u);
    const InlineText paragraph{{"Read ", false, false, false, ""},
                               {"this", true, false, false, ""},
                               {" and ", false, false, false, ""},
                               {"that", false, false, false, "https://x.y"},
                               {".", false, false, false, ""}};
    EXPECT_EQ(blocks[0], DocBlock::paragraph(paragraph));
    EXPECT_EQ(blocks[1], DocBlock::listItem({{"code", false, false, true, ""}}));
}

TEST(DocumentationParser, RejectedParagraphIsDroppedAndNeighboursKept)
{
    // The inline parser refuses texts over 16 MiB.
    const std::string huge(17u * 1024 * 1024, 'x');
    const auto blocks = parseDocumentation("# A\n" + huge + "\n\n- " + huge + "\n## B\nafter");
    EXPECT_EQ(describe(blocks), (std::vector<std::string>{"h1:A", "h2:B", "p:after"}));
}

struct InlineCase {
    const char* name;
    std::string text;
    InlineText runs;
};

InlineRun plain(std::string text)
{
    return {std::move(text), false, false, false, ""};
}

TEST(InlineMarkdown, Runs)
{
    const std::vector<InlineCase> cases{
        {"plain text", "plain", {plain("plain")}},
        {"emphasis and strong",
         "*em* and **strong**",
         {{"em", true, false, false, ""}, plain(" and "), {"strong", false, true, false, ""}}},
        {"underscores", "_em_", {{"em", true, false, false, ""}}},
        {"nested", "***both***", {{"both", true, true, false, ""}}},
        {"code span keeps its asterisks", "`code *x*`", {{"code *x*", false, false, true, ""}}},
        {"link",
         "[site](https://vellico.app)",
         {{"site", false, false, false, "https://vellico.app"}}},
        {"strong link text", "[**b**](x)", {{"b", false, true, false, "x"}}},
        {"relative link stays relative",
         "[doc](help/page.md)",
         {{"doc", false, false, false, "help/page.md"}}},
        {"mailto link with a query",
         "[s](mailto:a@b.c?subject=x%20y&body=z)",
         {{"s", false, false, false, "mailto:a@b.c?subject=x%20y&body=z"}}},
        {"autolink", "<https://a.b/c>", {{"https://a.b/c", false, false, false, "https://a.b/c"}}},
        {"references decoded",
         "a &amp; b &#233; &#x4E2D; &bogus;",
         {plain("a & b \u00E9 \u4E2D &bogus;")}},
        {"invalid numeric reference", "&#0; &#xD800;", {plain("\uFFFD \uFFFD")}},
        {"raw HTML is text", "<b>bold</b>", {plain("<b>bold</b>")}},
        {"escapes", "\\*not em\\*", {plain("*not em*")}},
        {"heading marker is text", "# not heading", {plain("# not heading")}},
        {"quote marker is text", "> q", {plain("> q")}},
        {"thematic break is text", "***", {plain("***")}},
        {"leading blanks kept", "  x", {plain("  x")}},
        {"leading no-break space kept", "\u00A0x", {plain("\u00A0x")}},
        {"CR kept in text", "line\rnext", {plain("line\rnext")}},
        {"CR line cannot open a block", "a\r# b\r---\r1. c", {plain("a\r# b\r---\r1. c")}},
        {"emphasis across a CR", "*a\rb*", {{"a\rb", true, false, false, ""}}},
        {"LF kept too", "a\n- b", {plain("a\n- b")}},
        {"NUL shows as replacement", std::string("x\0y", 3), {plain("x\uFFFDy")}},
        {"unclosed emphasis", "*open", {plain("*open")}},
        {"image shows its description", "![alt](p.png)", {plain("alt")}},
    };
    for (const InlineCase& c : cases) {
        const auto runs = parseInlineMarkdown(c.text);
        ASSERT_TRUE(runs.has_value()) << c.name;
        EXPECT_EQ(*runs, c.runs) << c.name;
    }
}

TEST(InlineMarkdown, RejectsTextsBeyondTheLimit)
{
    EXPECT_FALSE(parseInlineMarkdown(std::string(16u * 1024 * 1024 + 1, 'a')).has_value());
}

} // namespace
} // namespace vellico::docs
