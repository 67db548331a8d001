#include "cli/clean_command.hpp"

#include "cleanup/lock_record.hpp"

#include "sample_library.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

class ScriptedConfirmation final : public Confirmation {
public:
    explicit ScriptedConfirmation(std::optional<bool> answer) : m_answer(answer) {}
    std::optional<bool> ask(const std::string& question) override
    {
        questions.push_back(question);
        return m_answer;
    }
    std::vector<std::string> questions;

private:
    std::optional<bool> m_answer;
};

class Clean : public ::testing::Test {
protected:
    Clean() : library(tmp / "Film.fcpbundle")
    {
        library.file("Wedding/Render Files/a", 1000)
            .file("Wedding/Transcoded Media/b", 300)
            .file("Wedding/Original Media/clip.mov", 5000);
    }

    nlohmann::json run(CommandLine options, Confirmation& confirmation, int expectedStatus)
    {
        options.command = Command::clean;
        options.json = true;
        options.home = tmp / "home";
        options.paths = {library.path().string()};
        std::ostringstream out, err;
        EXPECT_EQ(runClean(options, confirmation, out, err), expectedStatus) << out.str();
        return nlohmann::json::parse(out.str());
    }

    bool exists(const char* rel) const { return fs::exists(library.path() / rel); }

    test::TempDir tmp;
    tools::LibraryBuilder library;
};

TEST_F(Clean, NeverDeletesUnasked)
{
    ScriptedConfirmation noTerminal(std::nullopt);
    auto doc = run({}, noTerminal, 1);
    EXPECT_EQ(doc["libraries"][0]["deleted"], false);
    EXPECT_NE(doc["errors"][0]["message"].get<std::string>().find("--yes"), std::string::npos);

    ScriptedConfirmation declined(false);
    doc = run({}, declined, 1);
    ASSERT_EQ(declined.questions.size(), 1u);
    EXPECT_NE(declined.questions[0].find("1 dossier"), std::string::npos) << declined.questions[0];

    ScriptedConfirmation yes(true);
    CommandLine dry;
    dry.dryRun = true;
    doc = run(dry, yes, 0);
    EXPECT_TRUE(yes.questions.empty());
    EXPECT_EQ(doc["libraries"][0]["selectedSize"], 1000);
    EXPECT_TRUE(exists("Wedding/Render Files/a"));
    EXPECT_FALSE(exists("__Sync__")); // no lock taken either
}

TEST_F(Clean, DeclinedBatchIsOneDecisionNotAFailureOfEachLibrary)
{
    tools::LibraryBuilder(tmp / "Two.fcpbundle").file("E/Render Files/a", 10);
    tools::LibraryBuilder(tmp / "Three.fcpbundle").file("E/Render Files/a", 10);
    CommandLine options;
    options.command = Command::clean;
    options.home = tmp / "home";
    options.paths = {library.path().string(), (tmp / "Two.fcpbundle").string(),
                     (tmp / "Three.fcpbundle").string()};
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        options.json = json;
        ScriptedConfirmation declined(false);
        std::ostringstream out, err;
        EXPECT_EQ(runClean(options, declined, out, err), 1);
        EXPECT_EQ(declined.questions.size(), 1u);
        EXPECT_TRUE(exists("Wedding/Render Files/a"));
        EXPECT_TRUE(fs::exists(tmp / "Two.fcpbundle/E/Render Files/a"));
        if (json) {
            const auto doc = nlohmann::json::parse(out.str());
            EXPECT_EQ(doc["declined"], true);
            EXPECT_TRUE(doc["errors"].empty()) << doc["errors"];
            EXPECT_EQ(doc["summary"]["libraries"], 3);
            EXPECT_EQ(doc["summary"]["failed"], 0);
            EXPECT_EQ(err.str(), "");
        } else {
            EXPECT_EQ(err.str(), "vellico-cli: Suppression annulée : rien n'a été supprimé.\n");
            EXPECT_NE(out.str().find("3 bibliothèques analysées, 0 en échec"), std::string::npos)
                << out.str();
        }
    }
}

TEST_F(Clean, DeletesTheSelectionUnderTheLockAndReleasesIt)
{
    ScriptedConfirmation yes(true);
    CommandLine options;
    options.preset = model::EditingPreset::done;
    const auto doc = run(options, yes, 0);
    const auto& result = doc["libraries"][0];
    EXPECT_EQ(result["deleted"], true);
    EXPECT_EQ(result["freedSpace"], 1300);
    EXPECT_TRUE(result["failures"].empty());
    EXPECT_FALSE(exists("Wedding/Render Files"));
    EXPECT_FALSE(exists("Wedding/Transcoded Media"));
    EXPECT_TRUE(exists("Wedding/Original Media/clip.mov"));
    EXPECT_TRUE(exists("__Sync__")); // released form
    EXPECT_FALSE(exists(".lock-dir/Vellico 1"));
}

TEST_F(Clean, RefusesALibraryHeldByAnotherAndNamesTheHolderFromTheRecord)
{
    // Another open file description holding the exclusive lock, as the editor does.
    const int fd = ::open((library.path() / ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    cleanup::LockRecord editor = cleanup::LockRecord::released();
    editor.secondaryLockName = "Final Cut Pro";
    editor.hostname = "montage-02";
    cleanup::LockRecord vellico = cleanup::LockRecord::claim();
    vellico.hostname = "serveur";
    const struct {
        std::optional<cleanup::LockRecord> record;
        const char* message;
    } cases[] = {
        {editor, "Impossible de supprimer : « Film » est maintenant ouverte dans Final Cut Pro sur "
                 "montage-02."},
        {vellico, "Impossible de supprimer : « Film » est en cours de nettoyage par Vellico sur "
                  "serveur."},
        {std::nullopt,
         "Impossible de supprimer : « Film » est maintenant ouverte dans Final Cut Pro."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove(library.path() / ".lock-info");
        if (c.record) {
            std::ofstream(library.path() / ".lock-info") << *cleanup::lockRecordXml(*c.record);
        }
        ScriptedConfirmation yes(true);
        CommandLine options;
        options.yes = true;
        const auto doc = run(options, yes, 1);
        EXPECT_EQ(doc["errors"][0]["message"], c.message);
        EXPECT_TRUE(exists("Wedding/Render Files/a"));
    }
    ::close(fd);
}

} // namespace
} // namespace vellico::cli
