#include "docs/documentation_parser.hpp"
#include "docs/plain_text_renderer.hpp"
#include "docs/system_info.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
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

// vellico-cli, run with `args` and the environment `env`.
struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

CliRun runCli(const test::TempDir& tmp, std::vector<std::string> args,
              std::vector<std::string> env = {})
{
    args.insert(args.begin(), VELLICO_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const fs::path out = tmp / "stdout", err = tmp / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    CliRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

TEST(CliHelp, PrintsTheManualAsPlainText)
{
    test::TempDir tmp;
    const CliRun run = runCli(tmp, {"help", "EN"}, {"LANG=fr_FR.UTF-8"});
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
            {{"help"}, {"LANGUAGE=fr", "LANG=C"}, "Vellico Help\n"},
            {{"help"}, {"LANG=pt_BR.UTF-8"}, "Vellico Help\n"},
        };
    for (const auto& [args, env, start] : cases) {
        const CliRun run = runCli(tmp, args, env);
        EXPECT_EQ(run.status, 0) << args.size() << " " << run.err;
        EXPECT_EQ(run.out.rfind(start, 0), 0u) << start;
    }
}

TEST(CliHelp, UnknownLanguageOrExtraArgumentIsAUsageError)
{
    test::TempDir tmp;
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"help", "pt"}, {"help", "EN", "FR"}}) {
        const CliRun run = runCli(tmp, args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Utilisation :"), std::string::npos);
    }
    const CliRun usage = runCli(tmp, {"--help"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out.rfind("Utilisation :", 0), 0u);
}

} // namespace
} // namespace vellico::docs
