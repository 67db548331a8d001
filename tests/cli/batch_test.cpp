#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

// The real program on a library "Film" with render files (selected by the
// default preset) and transcoded media (not selected by it).
class Batch : public ::testing::Test {
protected:
    Batch()
    {
        tools::LibraryBuilder(film())
            .file("E/Render Files/r", 1000)
            .file("E/Transcoded Media/t", 300);
    }

    fs::path libs() const { return tmp / "libs"; }
    fs::path film() const { return libs() / "Film.fcpbundle"; }

    test::ProgramRun run(std::vector<std::string> args)
    {
        args.insert(args.begin() + 1, {"--home", (tmp / "home").string()});
        return test::runProgram(VELLICO_CLI_PATH, tmp, std::move(args));
    }

    test::TempDir tmp;
};

TEST_F(Batch, OneLibraryUnderSeveralPathsIsOneLibraryAndOneTotal)
{
    fs::create_directory_symlink(film(), tmp / "Lien.fcpbundle");
    const std::string x = film().string();
    const std::vector<std::vector<std::string>> cases = {
        {x, x},
        {x, x + "/"},
        {x, (libs() / "." / "Film.fcpbundle").string()},
        {"-r", libs().string(), x},
        {x, (tmp / "Lien.fcpbundle").string()},
    };
    for (const auto& paths : cases) {
        SCOPED_TRACE(::testing::PrintToString(paths));
        std::vector<std::string> args{"analyze", "--json"};
        args.insert(args.end(), paths.begin(), paths.end());
        const test::ProgramRun json = run(args);
        EXPECT_EQ(json.status, 0) << json.err;
        const auto doc = nlohmann::json::parse(json.out);
        EXPECT_EQ(doc["summary"]["libraries"], 1);
        EXPECT_EQ(doc["summary"]["selectedSize"], 1000);
        EXPECT_TRUE(doc["errors"].empty()) << doc["errors"];

        args.erase(args.begin() + 1);
        const test::ProgramRun text = run(args);
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find("Résumé : 1 bibliothèque analysée, 0 en échec"), std::string::npos)
            << text.out;
    }
}

TEST_F(Batch, CleaningOneLibraryGivenTwiceCleansItOnce)
{
    const test::ProgramRun clean = run({"clean", "--yes", film().string(), film().string()});
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_EQ(clean.err.find("erreur"), std::string::npos) << clean.err;
    EXPECT_FALSE(fs::exists(film() / "E/Render Files"));
}

TEST_F(Batch, ABackupMetBySearchIsListedNotFailed)
{
    tools::BackupContents shape;
    shape.originalURL = film();
    tools::writeBackupFolder(libs() / "Sauvegardes", shape);
    const test::ProgramRun json = run({"analyze", "--json", "-r", libs().string()});
    EXPECT_EQ(json.status, 0) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["summary"]["libraries"], 1);
    EXPECT_TRUE(doc["errors"].empty()) << doc["errors"];
    ASSERT_EQ(doc["backups"].size(), 1u) << doc;
    EXPECT_EQ(doc["backups"][0]["path"], (libs() / "Sauvegardes" / shape.backups[0]).string());
    EXPECT_EQ(doc["backups"][0]["originalPath"], film().string());
    EXPECT_GT(doc["backups"][0]["size"].get<std::int64_t>(), 0);

    const test::ProgramRun text = run({"analyze", "-r", libs().string()});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("Sauvegarde "), std::string::npos) << text.out;

    // With --original the original, also found by the search, counts once.
    const test::ProgramRun original =
        run({"analyze", "--json", "--original", "-r", libs().string()});
    EXPECT_EQ(original.status, 0) << original.err;
    const auto both = nlohmann::json::parse(original.out);
    EXPECT_EQ(both["summary"]["libraries"], 1) << both;
    EXPECT_EQ(both["summary"]["selectedSize"], 1000);
}

TEST_F(Batch, OnlyChoosesKindsWhateverThePresetAndAnEmptySelectionSaysWhy)
{
    const test::ProgramRun only =
        run({"clean", "--yes", "--only", "Transcoded Media", film().string()});
    EXPECT_EQ(only.status, 0) << only.err;
    EXPECT_FALSE(fs::exists(film() / "E/Transcoded Media"));
    EXPECT_TRUE(fs::exists(film() / "E/Render Files/r"));

    const test::ProgramRun none =
        run({"clean", "--yes", "--only", "Shared Items", film().string()});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_NE(none.out.find("Aucun dossier des types demandés par --only n'a été trouvé."),
              std::string::npos)
        << none.out;
    const test::ProgramRun except =
        run({"clean", "--yes", "--except", "Render Files", film().string()});
    EXPECT_NE(except.out.find("--except retire tous les dossiers choisis."), std::string::npos)
        << except.out;
    EXPECT_TRUE(fs::exists(film() / "E/Render Files/r"));
}

} // namespace
} // namespace vellico::cli
