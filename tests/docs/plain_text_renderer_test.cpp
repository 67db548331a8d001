#include "docs/documentation_parser.hpp"
#include "docs/plain_text_renderer.hpp"
#include "docs/system_info.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sstream>

extern char** environ;

namespace vellico::docs {
namespace {

namespace fs = std::filesystem;

struct RenderCase {
    const char* name;
    std::string markup;
    std::string text;
};

TEST(PlainTextRenderer, Blocks)
{
    const std::vector<RenderCase> cases{
        {"headings", "# Title\n## Part\n### Sub", "Title\n=====\n\n\nPart\n----\n\nSub\n"},
        {"emphasis dropped", "**Bold** and *em* and `code`", "Bold and em and code\n"},
        {"link shows its address", "See [the site](https://v.app).",
         "See the site <https://v.app>.\n"},
        {"autolink shown once", "<https://v.app>", "https://v.app\n"},
        {"mail link shown as its address", "[a@b.c](mailto:a@b.c?subject=x)", "a@b.c\n"},
        {"list items together", "Intro\n- one\n- two\n\nEnd",
         "Intro\n\n  \u2022 one\n  \u2022 two\n\nEnd\n"},
        {"separator", "a\n---\nb", "a\n\n* * *\n\nb\n"},
        {"control characters removed", "bell\a esc\x1b[31m red\r", "bell esc[31m red\n"},
        {"invalid UTF-8 replaced", "bad \xFF byte", "bad \uFFFD byte\n"},
        {"wide heading underlined to its width", "## 帮助", "帮助\n----\n"},
    };
    for (const RenderCase& c : cases) {
        EXPECT_EQ(renderPlainText(parseDocumentation(c.markup), 78), c.text) << c.name;
    }
}

TEST(PlainTextRenderer, WrapsToWidthWithHangingIndent)
{
    const auto blocks = parseDocumentation(
        "- alpha beta gamma delta epsilon zeta eta theta iota kappa lambda\n"
        "日本語の文章は単語の間に空白がありませんが、行の幅に合わせて折り返されます。"
        "句読点が行頭に来ることはありません。");
    const std::string out = renderPlainText(blocks, 24);
    std::istringstream lines(out);
    std::string line;
    int listLines = 0;
    while (std::getline(lines, line)) {
        // Japanese characters are 3 bytes and 2 columns wide.
        const bool wide = static_cast<unsigned char>(line[0]) >= 0xE0;
        if (wide) {
            EXPECT_LE(line.size() / 3 * 2, 24u) << line;
            EXPECT_NE(line.rfind("、", 0), 0u) << line;
            EXPECT_NE(line.rfind("。", 0), 0u) << line;
        } else {
            EXPECT_LE(line.size(), 24u) << line;
        }
        if (line.rfind("  \u2022 ", 0) == 0 || line.rfind("    ", 0) == 0) {
            ++listLines;
        }
    }
    EXPECT_GE(listLines, 3) << out;
    EXPECT_NE(out.find("  \u2022 alpha beta gamma\n    delta"), std::string::npos) << out;
}

// vellico-cli, run with `args` and only the environment `env`.
test::ProgramRun runCli(const test::TempDir& tmp, std::vector<std::string> args,
                        std::vector<std::string> env = {})
{
    return test::runProgram(VELLICO_CLI_PATH, tmp, std::move(args), env);
}

TEST(CliHelp, PrintsTheManualAsPlainText)
{
    test::TempDir tmp;
    const test::ProgramRun run = runCli(tmp, {"help", "EN"}, {"LANG=fr_FR.UTF-8"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Vellico Help\n============\n", 0), 0u) << run.out.substr(0, 200);
    EXPECT_NE(run.out.find("\nThe two presets\n---------------\n"), std::string::npos);
    EXPECT_NE(run.out.find("  \u2022 vellico-cli analyze ~/Videos/Wedding.fcpbundle\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("Write to us at support@vellico.app."), std::string::npos);
    EXPECT_NE(run.out.find(systemInfoString()), std::string::npos);
    for (const char* markup : {"**", "`", "{{", "](", "\r", "## "}) {
        EXPECT_EQ(run.out.find(markup), std::string::npos) << markup;
    }
}

TEST(CliHelp, LanguageFromArgumentOrEnvironment)
{
    test::TempDir tmp;
    const std::vector<std::tuple<std::vector<std::string>, std::vector<std::string>, std::string>>
        cases{
            {{"help", "ja"}, {}, "Vellico ヘルプ\n"},
            {{"help", "de_CH"}, {}, "Vellico-Hilfe\n"},
            {{"help"}, {"LANG=es_ES.UTF-8"}, "Ayuda de Vellico\n"},
            {{"help"}, {"LANGUAGE=zh_CN:fr", "LANG=fr_FR.UTF-8"}, "Vellico 帮助\n"},
            // LANGUAGE is read even in the C locale: servers often have no other.
            {{"help"}, {"LANGUAGE=fr", "LANG=C"}, "Aide de Vellico\n"},
            {{"help"}, {"LANG=C"}, "Vellico Help\n"},
            {{"help"}, {"LANG=pt_BR.UTF-8"}, "Vellico Help\n"},
        };
    for (const auto& [args, env, start] : cases) {
        const test::ProgramRun run = runCli(tmp, args, env);
        EXPECT_EQ(run.status, 0) << args.size() << " " << run.err;
        EXPECT_EQ(run.out.rfind(start, 0), 0u) << start;
    }
}

TEST(CliHelp, UnknownLanguageOrExtraArgumentIsAUsageError)
{
    test::TempDir tmp;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"help", "pt"}, {"help", "EN", "FR"}}) {
        const test::ProgramRun run = runCli(tmp, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("vellico-cli --help"), std::string::npos) << run.err;
    }
    const test::ProgramRun usage = runCli(tmp, {"--help"}, {"LANGUAGE=fr"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out.rfind("Utilisation :", 0), 0u);
    // The usage speaks the user's language, English when none is set.
    EXPECT_EQ(runCli(tmp, {"--help"}).out.rfind("Usage:", 0), 0u);
}

} // namespace
} // namespace vellico::docs
