#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

test::ProgramRun runCli(const test::TempDir& tmp, std::vector<std::string> args)
{
    return test::runProgram(VELLICO_CLI_PATH, tmp, std::move(args));
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
    EXPECT_NE(run.out.find("Sélection : 2,5 Mo"), std::string::npos) << run.out;
    EXPECT_TRUE(run.err.empty()) << "no progress on a file: " << run.err;
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
