#include "formats/bookmark_writer.hpp"
#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"
#include "support/text_lines.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

test::ProgramRun runCli(const test::TempDir& tmp, std::vector<std::string> args)
{
    return test::runProgram(VELLICO_CLI_PATH, tmp, std::move(args));
}

// Runs the command line as a user without privileges (nobody), so that
// permissions apply even when the tests run as root. The temporary folder is
// opened to that user.
test::ProgramRun runCliUnprivileged(const test::TempDir& tmp, std::vector<std::string> args)
{
    if (::geteuid() != 0) {
        return runCli(tmp, std::move(args));
    }
    ::chmod(tmp.path().c_str(), 0755);
    args.insert(args.begin(),
                {"--reuid=65534", "--regid=65534", "--clear-groups", VELLICO_CLI_PATH});
    return test::runProgram("/usr/bin/setpriv", tmp, std::move(args));
}

std::vector<std::string> lines(const std::string& text)
{
    return test::textLines(text);
}

// A bookmark to `folder` as the editor writes one for a cache location.
std::vector<std::uint8_t> bookmarkTo(const fs::path& folder)
{
    formats::BookmarkTarget target;
    for (const auto& part : folder) {
        if (part != "/") {
            target.pathComponents.push_back(part.string());
        }
    }
    return formats::makeBookmarkData(target);
}

TEST(CliAnalyze, JsonDocumentForLibrariesAndErrors)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Wedding/Render Files/a", 1000)
        .file("Wedding/Transcoded Media/b", 300)
        .file("VideoSegmentationFiles/c", 20);
    tools::writeFile(tmp / "photo.jpg", "x");

    const test::ProgramRun run = runCli(tmp, {"analyze", "--json", "--preset", "done",
                                              (tmp / "photo.jpg").string(), lib.path().string()});
    EXPECT_EQ(run.status, 1); // one input failed
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc["libraries"].size(), 1u);
    const auto& library = doc["libraries"][0];
    EXPECT_EQ(library["name"], "Film");
    EXPECT_EQ(library["path"], lib.path().string());
    EXPECT_EQ(library["preset"], "done");
    EXPECT_EQ(library["cachePath"], nullptr);
    EXPECT_EQ(library["isFromAlias"], false);
    EXPECT_EQ(library["selectedSize"], 1300);
    ASSERT_EQ(library["foundFolders"].size(), 3u);
    std::int64_t selected = 0;
    for (const auto& folder : library["foundFolders"]) {
        EXPECT_TRUE(fs::path(folder["path"].get<std::string>()).is_absolute());
        EXPECT_EQ(folder["selected"], folder["name"] != "VideoSegmentationFiles");
        if (folder["selected"] == true) {
            selected += folder["size"].get<std::int64_t>();
        }
    }
    EXPECT_EQ(selected, 1300);
    ASSERT_EQ(doc["errors"].size(), 1u);
    EXPECT_EQ(doc["errors"][0]["message"],
              "« photo.jpg » n'est pas une bibliothèque Final Cut Pro valide.");
    EXPECT_EQ(run.err, "") << "the error is in the document, not repeated as text";
}

TEST(CliAnalyze, HumanOutputShowsGroupsAndSelection)
{
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    lib.file("Wedding/Render Files/a", 2'500'000).file("Wedding/Analysis Files/b", 1000);
    const test::ProgramRun run = runCli(tmp, {"analyze", lib.path().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("[-] Wedding (2)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[x] Render Files"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[ ] Analysis Files"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Sélectionné pour la suppression : 2,5 Mo"), std::string::npos)
        << run.out;
    EXPECT_TRUE(run.err.empty()) << "no progress on a file: " << run.err;
}

TEST(CliConventions, VersionHelpAndUsageErrors)
{
    test::TempDir tmp;
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out; // in stdout
    } cases[] = {
        {{"--version"}, 0, "vellico-cli "},
        {{"--help"}, 0, "Code de sortie"},
        {{"-h"}, 0, "analyze"},
        {{"analyze", "--help"}, 0, "--recursive"},
        {{"clean", "-h"}, 0, "--dry-run"},
        {{"help", "--help"}, 0, "FR|EN"},
    };
    for (const auto& c : cases) {
        const test::ProgramRun run = runCli(tmp, c.args);
        EXPECT_EQ(run.status, c.status) << ::testing::PrintToString(c.args) << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << ::testing::PrintToString(c.args);
        EXPECT_TRUE(run.err.empty()) << run.err;
    }
    // A usage error: one line saying what, one pointing to --help, nothing on stdout.
    const test::ProgramRun run = runCli(tmp, {"analyze", "--jsn", "x"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    const auto err = lines(run.err);
    ASSERT_EQ(err.size(), 2u) << run.err;
    EXPECT_EQ(err[0], "vellico-cli: option inconnue : --jsn");
    EXPECT_EQ(err[1], "Saisissez « vellico-cli --help » pour plus d'informations.");
}

TEST(CliConventions, ErrorsNameThePathAsGiven)
{
    test::TempDir tmp;
    tools::writeFile(tmp / "-photo.jpg", "x");
    const std::string given = (tmp / "sub" / ".." / "-photo.jpg").string();
    fs::create_directories(tmp / "sub");
    const test::ProgramRun run = runCli(tmp, {"analyze", "--", given});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "vellico-cli: " + given +
                           ": « -photo.jpg » n'est pas une bibliothèque Final Cut Pro valide.\n");
}

TEST(CliBatch, RecursiveSearchTakesEveryLibraryOnceInSortedOrder)
{
    test::TempDir tmp;
    const fs::path root = tmp / "serveur";
    tools::LibraryBuilder(root / "b" / "Beta.fcpbundle").file("E/Render Files/r", 100);
    tools::LibraryBuilder(root / "a" / "Alpha.fcpbundle").file("E/Render Files/r", 10);
    tools::LibraryBuilder(root / "c" / "d" / "Gamma.fcpbundle");
    // Not entered: a bundle's own contents, a link to a folder elsewhere.
    tools::LibraryBuilder(root / "b" / "Beta.fcpbundle" / "Inner.fcpbundle");
    tools::LibraryBuilder(tmp / "ailleurs" / "Delta.fcpbundle");
    fs::create_directory_symlink(tmp / "ailleurs", root / "lien");
    tools::writeFile(root / "notes.txt", "x");

    const test::ProgramRun run = runCli(tmp, {"analyze", "-r", "--json", root.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    std::vector<std::string> inputs;
    for (const auto& library : doc["libraries"]) {
        inputs.push_back(library["input"]);
    }
    EXPECT_EQ(inputs, (std::vector<std::string>{(root / "a/Alpha.fcpbundle").string(),
                                                (root / "b/Beta.fcpbundle").string(),
                                                (root / "c/d/Gamma.fcpbundle").string()}));
    EXPECT_EQ(doc["summary"]["libraries"], 3);
    EXPECT_EQ(doc["summary"]["failed"], 0);
    EXPECT_EQ(doc["summary"]["selectedSize"], 110);

    const test::ProgramRun text = runCli(tmp, {"analyze", "--recursive", root.string()});
    EXPECT_NE(text.out.find("Résumé : 3 bibliothèques analysées, 0 en échec"), std::string::npos)
        << text.out;
}

TEST(CliIntake, BackupNamesItsOriginalAndOriginalAnalysesIt)
{
    test::TempDir tmp;
    const fs::path film = tools::LibraryBuilder(tmp / "Film.fcpbundle").path();
    tools::BackupContents shape;
    shape.originalURL = film;
    tools::writeBackupFolder(tmp / "Sauvegardes", shape);
    const fs::path backup = tmp / "Sauvegardes" / shape.backups[0];

    test::ProgramRun run = runCli(tmp, {"analyze", backup.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(film.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--original"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Bibliothèque"), std::string::npos) << "not analysed: " << run.out;

    run = runCli(tmp, {"analyze", "--json", "--original", backup.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto library = nlohmann::json::parse(run.out)["libraries"][0];
    EXPECT_EQ(library["path"], film.string());
    EXPECT_EQ(library["backupPath"], backup.string());
    EXPECT_EQ(library["input"], backup.string());
}

TEST(CliIntake, AliasIsFollowedAndMissingCacheOnlyWarns)
{
    test::TempDir tmp;
    fs::create_directories(tmp / "caches");
    tools::LibraryBuilder film(tmp / "Film.fcpbundle");
    film.settings({{"cacheFolderName", formats::PlistValue("Film.fcpcache")},
                   {"cacheLocation", formats::PlistValue(bookmarkTo(tmp / "caches"))}});
    fs::create_symlink(film.path(), tmp / "Raccourci.fcpbundle");

    const test::ProgramRun run =
        runCli(tmp, {"analyze", "--json", (tmp / "Raccourci.fcpbundle").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto library = nlohmann::json::parse(run.out)["libraries"][0];
    EXPECT_EQ(library["isFromAlias"], true);
    EXPECT_EQ(library["path"], film.path().string());
    EXPECT_EQ(library["missingCachePath"], (tmp / "caches" / "Film.fcpcache").string());
    ASSERT_EQ(library["warnings"].size(), 1u);
    EXPECT_EQ(library["warnings"][0]["kind"], "missingCache");
    EXPECT_EQ(library["warnings"][0]["path"], (tmp / "caches" / "Film.fcpcache").string());
    EXPECT_EQ(run.err, ""); // in the document only

    const test::ProgramRun text = runCli(tmp, {"analyze", (tmp / "Raccourci.fcpbundle").string()});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.err.find((tmp / "caches" / "Film.fcpcache").string()), std::string::npos)
        << text.err;
}

TEST(CliNothingHidden, UnreadableFoldersAreNamedAndFailTheRun)
{
    test::TempDir tmp;
    tools::LibraryBuilder film(tmp / "Film.fcpbundle");
    film.file("Mariage/Original Media/clip.mov", 5000).file("Mariage/Render Files/a", 100);
    fs::permissions(tmp / "Film.fcpbundle" / "Mariage" / "Original Media", fs::perms::none);

    const test::ProgramRun run = runCliUnprivileged(
        tmp, {"analyze", "--json", "--home", tmp.path().string(), film.path().string()});
    fs::permissions(tmp / "Film.fcpbundle" / "Mariage" / "Original Media", fs::perms::owner_all);
    EXPECT_EQ(run.status, 1) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    const auto& library = doc["libraries"][0];
    EXPECT_EQ(library["incomplete"], true);
    EXPECT_EQ(library["unreadable"],
              nlohmann::json::array({(film.path() / "Mariage" / "Original Media").string()}));
    // Why, in words: the permission the unprivileged run lacked.
    ASSERT_EQ(library["unreadableReasons"].size(), 1U);
    const std::string reason = library["unreadableReasons"][0];
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(library["selectedSize"], 100) << "the rest is still measured";
    EXPECT_EQ(doc["summary"]["incomplete"], 1);
    EXPECT_EQ(run.err, "");

    // As text, the same fact goes to stderr.
    fs::permissions(tmp / "Film.fcpbundle" / "Mariage" / "Original Media", fs::perms::none);
    const test::ProgramRun text =
        runCliUnprivileged(tmp, {"analyze", "--home", tmp.path().string(), film.path().string()});
    fs::permissions(tmp / "Film.fcpbundle" / "Mariage" / "Original Media", fs::perms::owner_all);
    EXPECT_EQ(text.status, 1) << text.err;
    EXPECT_NE(text.err.find("1 dossier illisible, compté pour zéro"), std::string::npos)
        << text.err;
    EXPECT_NE(text.err.find("Mariage/Original Media (" + reason + ")"), std::string::npos)
        << text.err;
}

// Names are bytes the library's author chose: escape sequences in them must
// not clear the screen, retitle the window or forge lines of the listing.
TEST(CliAnalyze, ControlCharactersInNamesNeverReachTheTerminalRaw)
{
    test::TempDir tmp;
    const std::string evil = "\033]0;pwned\007Evil\033[2J\nRender Files : 0 octet\r";
    tools::LibraryBuilder lib(tmp / ("Fi\033[31mlm\x9b"
                                     ".fcpbundle"));
    lib.file(evil + "/Render Files/a", 10).file("Event/Shared Items/b", 10);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"analyze", lib.path().string()},
          std::vector<std::string>{"clean", "--yes", "--dry-run", lib.path().string()},
          std::vector<std::string>{"analyze", (tmp / "missing\033[2J").string()}}) {
        const test::ProgramRun run = runCli(tmp, args);
        for (const std::string* text : {&run.out, &run.err}) {
            for (const char c : *text) {
                const auto byte = static_cast<unsigned char>(c);
                EXPECT_TRUE(byte >= 0x20 || byte == '\n') << "raw control " << int(byte) << " in\n"
                                                          << *text;
            }
        }
        const std::string& where =
            args.back().find("missing") != std::string::npos ? run.err : run.out;
        EXPECT_NE(where.find("\\033"), std::string::npos) << where;
    }
    const test::ProgramRun listing = runCli(tmp, {"analyze", lib.path().string()});
    EXPECT_NE(listing.out.find("\\033]0;pwned\\007Evil\\033[2J\\012Render Files : 0 octet\\015"),
              std::string::npos)
        << listing.out;
    EXPECT_NE(listing.out.find("Fi\\033[31mlm\\233"), std::string::npos) << listing.out;
}

TEST(CliAnalyze, UsageErrorsExitWithTwo)
{
    test::TempDir tmp;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"analyze"},
                                               {"analyze", "--preset", "fini", "x"},
                                               {"analyze", "--bogus", "x"},
                                               {"frobnicate"}}) {
        EXPECT_EQ(runCli(tmp, args).status, 2) << ::testing::PrintToString(args);
    }
}

} // namespace
} // namespace vellico::cli
