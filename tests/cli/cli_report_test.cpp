// The text report of the real program, as a user reads it: which library
// and backup each line is, what a dry run would free, sizes in the units
// asked for and in aligned columns, the order, and the options that shape it.
#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"
#include "support/text_lines.hpp"
#include "terminal_run.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

// Runs vellico-cli in French with `home` as HOME (and the backups' home).
test::ProgramRun runIn(const test::TempDir& tmp, const fs::path& home,
                       std::vector<std::string> args)
{
    return test::runProgram(
        VELLICO_CLI_PATH, tmp, std::move(args),
        std::vector<std::string>{"LANGUAGE=fr", "LANG=C", "HOME=" + home.string()});
}

std::vector<std::string> lines(const std::string& text)
{
    return test::textLines(text);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The lines of `text` that start with `prefix` (after the indentation).
std::vector<std::string> linesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> found;
    for (const std::string& line : lines(text)) {
        if (contains(line, part)) {
            found.push_back(line);
        }
    }
    return found;
}

TEST(CliReport, CleanNamesEachLibraryAndEachBackupByItsPath)
{
    test::TempDir tmp;
    const fs::path home = tmp / "home";
    // Two libraries of one name, told apart only by where they are.
    const fs::path projects = home / "Projets";
    tools::LibraryBuilder first(projects / "2023" / "Mariage Dupont.fcpbundle");
    first.settings({{"backupFolderName", formats::PlistValue("Mariage Dupont")}})
        .file("Soirée/Render Files/a", 3'000'000);
    tools::LibraryBuilder second(projects / "2024" / "Mariage Dupont.fcpbundle");
    second.file("Soirée/Render Files/a", 1'000'000);
    // Two backup folders of the first library, in one location.
    tools::BackupContents shape;
    shape.originalURL = first.path();
    shape.bytesEach = 5000;
    const fs::path backups = home / "Movies" / "Final Cut Backups";
    tools::writeBackupFolder(backups / "Mariage Dupont", shape);
    tools::writeBackupFolder(backups / "Mariage Dupont 2", shape);

    const test::ProgramRun run =
        runIn(tmp, home,
              {"clean", "--dry-run", "--preset", "done", "--home", home.string(),
               first.path().string(), second.path().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string& out = run.out;
    // Each library under its name, then its own path shortened with ~.
    EXPECT_TRUE(contains(out, "Bibliothèque « Mariage Dupont » — Montage terminé\n"
                              "  ~/Projets/2023/Mariage Dupont.fcpbundle\n"))
        << out;
    EXPECT_TRUE(contains(out, "Bibliothèque « Mariage Dupont » — Montage terminé\n"
                              "  ~/Projets/2024/Mariage Dupont.fcpbundle\n"))
        << out;
    // Each backup folder by its own path: two lines, two labels.
    const auto backupLines = linesWith(out, "~/Movies/Final Cut Backups/Mariage Dupont");
    ASSERT_EQ(backupLines.size(), 2u) << out;
    EXPECT_NE(backupLines[0], backupLines[1]);
    EXPECT_EQ(linesWith(out, "~/Movies/Final Cut Backups/Mariage Dupont 2 ").size(), 1u) << out;
    // A dry run lists every folder by path and says what would be freed.
    EXPECT_EQ(
        linesWith(out, "      ~/Projets/2023/Mariage Dupont.fcpbundle/Soirée/Render Files").size(),
        1u)
        << out;
    EXPECT_FALSE(contains(out, "Libéré :")) << out;
    EXPECT_FALSE(contains(out, "Zéro")) << out;
    const auto wouldFree = linesWith(out, "Serait libéré (--dry-run, rien n'a été supprimé) : ");
    ASSERT_EQ(wouldFree.size(), 1u) << out;
    EXPECT_TRUE(contains(wouldFree[0], " : 4 Mo")) << wouldFree[0]; // 4 MB and two small backups
    EXPECT_TRUE(fs::exists(first.path() / "Soirée" / "Render Files" / "a"));
    EXPECT_TRUE(fs::exists(backups / "Mariage Dupont 2"));
}

// The column where a size's decimal separator is, or would be.
std::size_t separatorColumn(const std::string& line)
{
    const std::size_t unit = line.find_last_of("0123456789") + 1;
    const std::size_t comma = line.rfind(',', unit);
    if (comma != std::string::npos && comma + 4 >= unit && comma > line.size() / 2) {
        return comma;
    }
    return unit; // no fraction: where the separator would be
}

TEST(CliReport, SizesInTheUnitsAskedForWithDecimalsInColumns)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Grand/Render Files/a", 2'500'000)
        .file("Grand/Analysis Files/b", 1'234'567'890)
        .file("Moyen/Transcoded Media/c", 25'000)
        .folder("Vide/Render Files");
    const auto analyse = [&](std::vector<std::string> options) {
        options.insert(options.begin(), "analyze");
        options.push_back(lib.path().string());
        return runIn(tmp, tmp.path(), options);
    };

    const test::ProgramRun decimal = analyse({});
    EXPECT_EQ(decimal.status, 0) << decimal.err;
    EXPECT_FALSE(contains(decimal.out, "Zéro")) << "zero is a number: " << decimal.out;
    EXPECT_TRUE(contains(decimal.out, " 0    octets\n")) << decimal.out;
    EXPECT_TRUE(contains(decimal.out, "   2,5  Mo\n")) << decimal.out;
    EXPECT_TRUE(contains(decimal.out, "   1,23 Go\n")) << decimal.out;
    EXPECT_TRUE(contains(decimal.out, "  25    Ko\n")) << decimal.out;
    std::vector<std::size_t> columns;
    for (const std::string& line : lines(decimal.out)) {
        if (contains(line, "[x]") || contains(line, "[ ]") || contains(line, "[-]")) {
            columns.push_back(separatorColumn(line));
        }
    }
    ASSERT_EQ(columns.size(), 7u) << decimal.out; // three events, four folders
    for (const std::size_t column : columns) {
        EXPECT_EQ(column, columns.front()) << decimal.out;
    }

    const test::ProgramRun bytes = analyse({"-b"});
    EXPECT_TRUE(contains(bytes.out, " 2500000 octets\n")) << bytes.out;
    EXPECT_TRUE(contains(bytes.out, " 1234567890 octets\n")) << bytes.out;
    EXPECT_TRUE(contains(bytes.out, " 0 octets\n")) << bytes.out;
    EXPECT_TRUE(contains(bytes.out, "Sélectionné pour la suppression : 2500000 octets\n"))
        << bytes.out;

    const test::ProgramRun binary = analyse({"--binary"});
    EXPECT_TRUE(contains(binary.out, "   2,4  Mio\n")) << binary.out; // 2 500 000 / 1024²
    EXPECT_TRUE(contains(binary.out, "   1,15 Gio\n")) << binary.out; // 1 234 567 890 / 1024³
    EXPECT_TRUE(contains(binary.out, "  24    Kio\n")) << binary.out; // 25 000 / 1024

    // The document keeps its byte counts whatever the text's units.
    const test::ProgramRun json = analyse({"--binary", "--json"});
    EXPECT_EQ(nlohmann::json::parse(json.out)["libraries"][0]["selectedSize"], 2'500'000);

    // Each figure says what it counts, hidden items included.
    EXPECT_TRUE(
        contains(decimal.out, "Taille de la bibliothèque (éléments masqués non comptés) : "))
        << decimal.out;
}

TEST(CliReport, LibrariesAndEventsComeLargestFirstOrByName)
{
    test::TempDir tmp;
    const fs::path root = tmp / "serveur";
    tools::LibraryBuilder(root / "Alpha.fcpbundle").file("E/Render Files/r", 100);
    tools::LibraryBuilder beta(root / "Beta.fcpbundle");
    beta.file("Zèbre/Render Files/r", 9000).file("Antilope/Render Files/r", 10);
    const auto order = [](const std::string& out, std::vector<std::string> parts) {
        std::vector<std::size_t> at;
        for (const std::string& part : parts) {
            at.push_back(out.find(part));
        }
        return std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos;
    };

    const test::ProgramRun bySize = runIn(tmp, tmp.path(), {"analyze", "-r", root.string()});
    EXPECT_EQ(bySize.status, 0) << bySize.err;
    EXPECT_TRUE(order(bySize.out, {"« Beta »", "Zèbre", "Antilope", "« Alpha »"})) << bySize.out;

    const test::ProgramRun byName =
        runIn(tmp, tmp.path(), {"analyze", "-r", "--sort=name", root.string()});
    EXPECT_TRUE(order(byName.out, {"« Alpha »", "« Beta »", "Antilope", "Zèbre"})) << byName.out;

    const test::ProgramRun clean =
        runIn(tmp, tmp.path(), {"clean", "--dry-run", "-r", root.string()});
    EXPECT_TRUE(order(clean.out,
                      {"« Beta »", "Render Files (Zèbre)", "Render Files (Antilope)", "« Alpha »"}))
        << clean.out;

    const test::ProgramRun bad = runIn(tmp, tmp.path(), {"analyze", "--sort=date", root.string()});
    EXPECT_EQ(bad.status, 2);
}

TEST(CliReport, FailuresPrintNoEmptySummaryAndAFolderHintsAtSearching)
{
    test::TempDir tmp;
    const fs::path folder = tmp / "Projets";
    tools::LibraryBuilder(folder / "Film.fcpbundle");

    const test::ProgramRun run = runIn(tmp, tmp.path(), {"analyze", folder.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "") << "no Summary block for nothing analysed";
    EXPECT_TRUE(contains(run.err, "C'est un dossier : l'option -r y cherche les bibliothèques."))
        << run.err;

    // Not for a folder that was searched, nor for a missing path.
    const test::ProgramRun missing =
        runIn(tmp, tmp.path(), {"clean", "--dry-run", (tmp / "Nulle part.fcpbundle").string()});
    EXPECT_EQ(missing.out, "");
    EXPECT_FALSE(contains(missing.err, "-r")) << missing.err;

    // A write that fails (a full disk) is said, and fails the run.
    for (const char* command : {"analyze", "--help"}) {
        const test::ProgramRun full =
            test::runProgram("/bin/sh", tmp,
                             {"-c", std::string("\"$0\" ") + command + " \"$1\" > /dev/full",
                              VELLICO_CLI_PATH, (folder / "Film.fcpbundle").string()},
                             std::vector<std::string>{"LANGUAGE=fr", "LANG=C"});
        EXPECT_EQ(full.status, 1) << command;
        EXPECT_TRUE(
            contains(full.err, "vellico-cli: écriture impossible sur la sortie standard : "))
            << command << ": " << full.err;
    }
}

TEST(CliOptions, QuietVerboseVersionPresetSpellingsAndValuesRefused)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Noces/Render Files/a", 2'000'000);
    const std::string path = lib.path().string();

    const test::ProgramRun quiet = runIn(tmp, tmp.path(), {"analyze", "-q", path});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_FALSE(contains(quiet.out, "Bibliothèque")) << quiet.out;
    EXPECT_TRUE(quiet.out.starts_with("Résumé : 1 bibliothèque analysée, 0 en échec\n"))
        << quiet.out;

    const test::ProgramRun verbose = runIn(tmp, tmp.path(), {"analyze", "--verbose", path});
    // Below HOME, paths start with ~.
    EXPECT_TRUE(contains(verbose.out, "          ~/Film.fcpbundle/Noces/Render Files\n"))
        << verbose.out;

    for (const char* spelling : {"in-progress", "inProgress"}) {
        const test::ProgramRun run =
            runIn(tmp, tmp.path(), {"analyze", "--json", "--preset", spelling, path});
        EXPECT_EQ(run.status, 0) << spelling << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out)["preset"], "inProgress") << spelling;
    }

    const test::ProgramRun version = runIn(tmp, tmp.path(), {"-V"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("vellico-cli ")) << version.out;

    const struct {
        std::vector<std::string> args;
        const char* message;
    } refused[] = {
        {{"analyze", "--help=foo", path}, "vellico-cli: l'option --help ne prend pas de valeur\n"},
        {{"clean", "--dry-run=oui", path},
         "vellico-cli: l'option --dry-run ne prend pas de valeur\n"},
        {{"--version=2"}, "vellico-cli: l'option --version ne prend pas de valeur\n"},
        {{"analyze", "-Z", path}, "vellico-cli: option inconnue : -Z\n"},
        {{"analyze", "--color=rose", path},
         "vellico-cli: --color demande auto, always ou never : rose\n"},
    };
    for (const auto& c : refused) {
        const test::ProgramRun run = runIn(tmp, tmp.path(), c.args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(c.args);
        EXPECT_TRUE(run.err.starts_with(c.message)) << run.err;
    }
}

TEST(CliOptions, ColourOnATerminalOnlyAndNeverUnderNoColorOrDumb)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Noces/Render Files/a", 2'000'000);
    const std::string path = lib.path().string();
    const std::string green = "\033[32m[x]\033[0m";

    // Not a terminal: no colour unless asked for.
    EXPECT_FALSE(contains(runIn(tmp, tmp.path(), {"analyze", path}).out, "\033["));
    EXPECT_TRUE(contains(runIn(tmp, tmp.path(), {"analyze", "--color=always", path}).out, green));

    {
        TerminalRun terminal({"analyze", path});
        ASSERT_TRUE(terminal.started());
        EXPECT_EQ(terminal.finish(), 0);
        EXPECT_TRUE(contains(terminal.screen(), green)) << terminal.screen();
        EXPECT_TRUE(contains(terminal.screen(), "\033[36m")) << "sizes: " << terminal.screen();
    }
    {
        TerminalRun terminal({"analyze", path}, "dumb");
        EXPECT_EQ(terminal.finish(), 0);
        EXPECT_FALSE(contains(terminal.screen(), "\033[")) << terminal.screen();
    }
    {
        TerminalRun terminal({"analyze", "--color=never", path});
        EXPECT_EQ(terminal.finish(), 0);
        EXPECT_FALSE(contains(terminal.screen(), "\033[3")) << terminal.screen();
    }
    ::setenv("NO_COLOR", "1", 1);
    {
        TerminalRun terminal({"analyze", path});
        EXPECT_EQ(terminal.finish(), 0);
        EXPECT_FALSE(contains(terminal.screen(), "\033[3")) << terminal.screen();
    }
    ::unsetenv("NO_COLOR");
}

#ifdef VELLICO_APP_PATH
TEST(AppCommandLine, HelpAndVersionAnswerWithoutADisplay)
{
    test::TempDir tmp;
    // No DISPLAY, no WAYLAND_DISPLAY, no QT_QPA_PLATFORM: a window could not open.
    const std::vector<std::string> environment{"LANGUAGE=fr", "LANG=C",
                                               "HOME=" + tmp.path().string()};
    const test::ProgramRun version =
        test::runProgram(VELLICO_APP_PATH, tmp, {"--version"}, environment);
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_TRUE(version.out.starts_with("vellico ")) << version.out;
    for (const char* option : {"--help", "-h"}) {
        const test::ProgramRun help =
            test::runProgram(VELLICO_APP_PATH, tmp, {option}, environment);
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_TRUE(help.out.starts_with("Utilisation : vellico [OPTION]...")) << help.out;
        EXPECT_TRUE(contains(help.out, "--reset-settings")) << help.out;
    }
    const test::ProgramRun english = test::runProgram(VELLICO_APP_PATH, tmp, {"-V", "--help"},
                                                      std::vector<std::string>{"LANG=C"});
    EXPECT_EQ(english.status, 0);
    EXPECT_TRUE(english.out.starts_with("vellico ")) << english.out;
}
#endif

} // namespace
} // namespace vellico::cli
