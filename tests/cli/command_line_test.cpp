#include "cli/clean_command.hpp"
#include "cli/command_line.hpp"
#include "cli/library_batch.hpp"
#include "cli/terminal.hpp"

#include <gtest/gtest.h>

#include <clocale>

namespace vellico::cli {
namespace {

tl::expected<CommandLine, UsageError> parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "vellico-cli");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return parseCommandLine(static_cast<int>(args.size()), argv.data());
}

TEST(CommandLine, ReadsEveryOptionForm)
{
    const struct {
        std::vector<std::string> args;
        std::function<bool(const CommandLine&)> holds;
    } cases[] = {
        {{"--version"}, [](const CommandLine& l) { return l.showVersion; }},
        {{"-h"}, [](const CommandLine& l) { return l.showHelp && l.command == Command::none; }},
        {{"clean", "--help"},
         [](const CommandLine& l) { return l.showHelp && l.command == Command::clean; }},
        {{"analyze", "-h", "x"}, [](const CommandLine& l) { return l.showHelp; }},
        {{"clean", "--only=Render Files", "--only", "backups", "--except=Shared Items", "--except",
          "Analysis Files", "a"}, // repeated, the lists add up
         [](const CommandLine& l) {
             return l.only == std::set<std::string>{"Render Files", "Final Cut Backups"} &&
                    l.except == std::set<std::string>{"Shared Items", "Analysis Files"};
         }},
        {{"analyze", "--preset=done", "a"},
         [](const CommandLine& l) { return l.preset == model::EditingPreset::done; }},
        {{"analyze", "a", "--preset", "done"}, // options after paths
         [](const CommandLine& l) {
             return l.preset == model::EditingPreset::done &&
                    l.paths == std::vector<std::string>{"a"};
         }},
        {{"analyze", "--", "--json", "-r"}, // "--" ends the options
         [](const CommandLine& l) {
             return !l.json && !l.recursive && l.paths == std::vector<std::string>{"--json", "-r"};
         }},
        {{"clean", "-ry", "--dry-run", "--jobs=4", "--original", "--home=/h", "a"},
         [](const CommandLine& l) {
             return l.recursive && l.yes && l.dryRun && l.jobs == 4 && l.original &&
                    l.home == std::filesystem::path("/h");
         }},
        {{"analyze", "--only", "Render Files,backups", "--except=Shared Items", "a"},
         [](const CommandLine& l) {
             return l.only == std::set<std::string>{"Render Files", "Final Cut Backups"} &&
                    l.except == std::set<std::string>{"Shared Items"};
         }},
        {{"help", "JA"}, [](const CommandLine& l) { return l.helpLanguage == "JA"; }},
    };
    for (const auto& c : cases) {
        const auto line = parse(c.args);
        ASSERT_TRUE(line.has_value()) << ::testing::PrintToString(c.args) << line.error().message;
        EXPECT_TRUE(c.holds(*line)) << ::testing::PrintToString(c.args);
    }
}

TEST(CommandLine, UsageErrorsNameWhatIsWrong)
{
    const struct {
        std::vector<std::string> args;
        const char* inMessage;
    } cases[] = {
        {{}, "commande manquante"},
        {{"frobnicate"}, "frobnicate"},
        {{"--bogus"}, "--bogus"},
        {{"analyze"}, "aucune bibliothèque"},
        {{"analyze", "--bogus=1", "a"}, "--bogus"},
        {{"analyze", "-x", "a"}, "-x"},
        {{"analyze", "--dry-run", "a"}, "--dry-run"}, // clean only
        {{"analyze", "a", "--preset"}, "--preset"},
        {{"analyze", "--preset=fini", "a"}, "fini"},
        {{"analyze", "--only=Render Files,Rendu", "a"}, "Rendu"},
        {{"analyze", "--jobs=0", "a"}, "--jobs"},
        {{"analyze", "--jobs=2x", "a"}, "2x"},
        {{"analyze", "--home=", "a"}, "--home"},
        {{"help", "FR", "EN"}, "help"},
    };
    for (const auto& c : cases) {
        const auto line = parse(c.args);
        ASSERT_FALSE(line.has_value()) << ::testing::PrintToString(c.args);
        EXPECT_NE(line.error().message.find(c.inMessage), std::string::npos)
            << ::testing::PrintToString(c.args) << " → " << line.error().message;
    }
}

TEST(Terminal, MeasuresAndCutsByDisplayWidth)
{
    const struct {
        std::string text;
        std::size_t width;
    } widths[] = {
        {"Film", 4},
        {"Cérémonie", 9},
        {"Ce\u0301re\u0301monie", 9}, // combining accents take no column
        {"結婚式", 6},                // wide characters take two
        {"\xff", 1},                  // not UTF-8: one column per byte
    };
    for (const auto& w : widths) {
        EXPECT_EQ(displayWidth(w.text), w.width) << w.text;
        EXPECT_EQ(displayWidth(padded(w.text, 12)), 12u) << w.text;
    }
    EXPECT_EQ(fitted("結婚式の動画", 6), "結婚\u2026");    // never half a character
    EXPECT_EQ(fitted("結婚式の動画", 12), "結婚式の動画"); // fits: unchanged
    EXPECT_EQ(fitted("[3/50] Film : Analyse", 10), "[3/50] Fi\u2026");
    EXPECT_LE(displayWidth(fitted("e\u0301e\u0301e\u0301e\u0301", 3)), 3u);
}

TEST(Confirmation, AcceptsTheLocalesYesAndTheShownOne)
{
    std::setlocale(LC_ALL, "C");
    const struct {
        const char* answer;
        bool yes;
    } cases[] = {{"y", true}, {"yes", true}, {"Y", true}, {"o", true},    {"oui", true},
                 {"O", true}, {"n", false},  {"", false}, {"non", false}, {"x", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(isYes(c.answer), c.yes) << c.answer;
    }
}

TEST(Selection, OnlyChoosesTheKindsAndExceptTakesThemOut)
{
    std::vector<model::FoundFolder> folders;
    for (const char* name : {"Final Cut Backups", "Render Files", "Transcoded Media",
                             "VideoSegmentationFiles", "Shared Items"}) {
        model::FoundFolder folder;
        folder.url = std::string("/l/") + name;
        folder.name = name;
        folders.push_back(folder);
    }
    using Kinds = std::set<std::string>;
    const struct {
        model::EditingPreset preset;
        std::optional<Kinds> only;
        Kinds except;
        Kinds selected;
    } cases[] = {
        {model::EditingPreset::done,
         std::nullopt,
         {},
         {"Final Cut Backups", "Render Files", "Transcoded Media", "Shared Items"}},
        {model::EditingPreset::done,
         Kinds{"Render Files", "Transcoded Media"},
         {},
         {"Render Files", "Transcoded Media"}},
        {model::EditingPreset::done,
         std::nullopt,
         {"Final Cut Backups"},
         {"Render Files", "Transcoded Media", "Shared Items"}},
        // Whatever the preset: segmentation files are chosen when named.
        {model::EditingPreset::inProgress,
         Kinds{"VideoSegmentationFiles", "Render Files"},
         {},
         {"VideoSegmentationFiles", "Render Files"}},
        {model::EditingPreset::inProgress, Kinds{"Transcoded Media"}, {}, {"Transcoded Media"}},
        {model::EditingPreset::inProgress, Kinds{"Render Files"}, {"Render Files"}, {}},
    };
    for (const auto& c : cases) {
        Kinds selected;
        for (const auto& url : refinedSelection(c.preset, folders, c.only, c.except)) {
            selected.insert(url.filename().string());
        }
        EXPECT_EQ(selected, c.selected);
    }
}

} // namespace
} // namespace vellico::cli
