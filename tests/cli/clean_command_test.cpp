#include "cli/clean_command.hpp"

#include "cleanup/lock_record.hpp"
#include "cli/report.hpp"
#include "cli/texts.hpp"
#include "i18n/translations.hpp"

#include "sample_library.hpp"
#include "support/scripted_system_calls.hpp"
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

// `clean --yes` measures the folders as it removes them, instead of before.
// Two identical libraries, one cleaned after the question and one with
// --yes: the same document (paths aside), sizes included.
class CleanYes : public ::testing::Test {
protected:
    static void fill(const fs::path& bundle)
    {
        tools::LibraryBuilder(bundle)
            .file("Wedding/Render Files/a", 1000)
            .file("Wedding/Render Files/.hidden", 77) // counted by neither
            .file("Wedding/Transcoded Media/b", 300)
            .file("Wedding/Transcoded Media/deep/c", 50)
            .file("Wedding/Original Media/clip.mov", 5000)
            .file("Wedding/Shared Items/s", 20);
    }

    // Every string with `from` in it, with `to` in its place.
    static void replaceIn(nlohmann::json& json, const std::string& from, const std::string& to)
    {
        if (json.is_string()) {
            std::string text = json.get<std::string>();
            for (std::size_t at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                text.replace(at, from.size(), to);
            }
            json = text;
        } else if (json.is_structured()) {
            for (auto& item : json) {
                replaceIn(item, from, to);
            }
        }
    }

    struct Run {
        int status = 0;
        std::string out;
        std::vector<std::string> questions;
    };

    Run clean(const fs::path& bundle, bool yes, bool json, platform::SystemCalls& calls)
    {
        CommandLine options;
        options.command = Command::clean;
        options.preset = model::EditingPreset::done;
        options.json = json;
        options.yes = yes;
        options.home = tmp / "home";
        options.paths = {bundle.string()};
        ScriptedConfirmation confirmation(true);
        std::ostringstream out, err;
        Run run;
        run.status = runClean(options, confirmation, out, err, calls);
        run.out = out.str();
        run.questions = confirmation.questions;
        return run;
    }

    // The documents of an asked run of A and a --yes run of B, B's paths
    // written as A's.
    std::pair<nlohmann::json, nlohmann::json> both(platform::SystemCalls& calls, int status)
    {
        const fs::path asked = tmp / "a" / "Film.fcpbundle";
        const fs::path yes = tmp / "b" / "Film.fcpbundle";
        fill(asked);
        fill(yes);
        const Run first = clean(asked, false, true, calls);
        const Run second = clean(yes, true, true, calls);
        EXPECT_EQ(first.status, status) << first.out;
        EXPECT_EQ(second.status, status) << second.out;
        EXPECT_EQ(first.questions.size(), 1u);
        EXPECT_TRUE(second.questions.empty());
        auto a = nlohmann::json::parse(first.out);
        auto b = nlohmann::json::parse(second.out);
        replaceIn(b, (tmp / "b").string(), (tmp / "a").string());
        return {a, b};
    }

    test::TempDir tmp;
};

TEST_F(CleanYes, SameDocumentAsAfterTheQuestionWithSizesFromTheRemoval)
{
    auto [asked, yes] = both(platform::defaultSystemCalls(), 0);
    EXPECT_EQ(asked, yes) << asked.dump(1) << "\n" << yes.dump(1);
    const auto& library = yes["libraries"][0];
    EXPECT_EQ(library["freedSpace"], 1370);
    EXPECT_EQ(library["selectedSize"], 1370);
    EXPECT_EQ(yes["summary"]["freedSpace"], 1370);
    EXPECT_FALSE(fs::exists(tmp / "b" / "Film.fcpbundle" / "Wedding" / "Render Files"));
    EXPECT_TRUE(fs::exists(tmp / "b" / "Film.fcpbundle" / "Wedding" / "Original Media"));
}

// A folder the removal leaves half-way: its size is what went plus what
// stayed (measured after), the space freed counts what went, which the
// analysed sizes of an asked run leave out.
TEST_F(CleanYes, AFolderRemovedInPartCountsWhatWentAndWhatStayed)
{
    test::ScriptedSystemCalls calls;
    calls.onUnlinkat = [](int, const std::string& name, int) -> std::optional<int> {
        return name == "c" ? std::optional<int>(EACCES) : std::nullopt;
    };
    auto [asked, yes] = both(calls, 1);
    const auto folderSize = [](const nlohmann::json& doc, const std::string& name) {
        for (const auto& folder : doc["libraries"][0]["foundFolders"]) {
            if (folder["name"] == name) {
                return folder["size"].get<std::int64_t>();
            }
        }
        return std::int64_t{-1};
    };
    EXPECT_EQ(folderSize(yes, "Transcoded Media"), 350);
    EXPECT_EQ(folderSize(asked, "Transcoded Media"), 350);
    EXPECT_EQ(yes["libraries"][0]["totalSize"], asked["libraries"][0]["totalSize"]);
    EXPECT_EQ(asked["libraries"][0]["freedSpace"], 1020); // the folders removed completely
    EXPECT_EQ(yes["libraries"][0]["freedSpace"], 1320);   // and b, which went
    EXPECT_EQ(yes["summary"]["freedSpace"], 1320);
    EXPECT_EQ(yes["libraries"][0]["foldersRemoved"], 2);
    ASSERT_EQ(yes["libraries"][0]["failures"].size(), 1u);
    EXPECT_EQ(yes["libraries"][0]["failures"], asked["libraries"][0]["failures"]);
    // Everything else alike, keys included.
    yes["libraries"][0]["freedSpace"] = asked["libraries"][0]["freedSpace"];
    yes["summary"]["freedSpace"] = asked["summary"]["freedSpace"];
    EXPECT_EQ(asked, yes) << asked.dump(1) << "\n" << yes.dump(1);
}

// The text: with --yes the folders come first, by name and without sizes,
// then the outcome with each folder's freed size; without, sizes first.
TEST_F(CleanYes, TextListsTheFoldersFirstThenEachOneFreedSize)
{
    const fs::path bundle = tmp / "Film.fcpbundle";
    fill(bundle);
    const Run run = clean(bundle, true, false, platform::defaultSystemCalls());
    EXPECT_EQ(run.status, 0);
    const std::string& out = run.out;
    ReportStyle style;
    const std::size_t listed = out.find("  Render Files (Wedding)\n");
    const std::size_t toDelete =
        out.find(say("À supprimer : %1", {i18n::fillPlural("%1 dossiers", 3)}));
    const std::size_t outcome =
        out.find(say("« %1 » : terminé, %2 libérés.", {"Film", sizeText(1370, style)}));
    ASSERT_NE(listed, std::string::npos) << out;
    ASSERT_NE(toDelete, std::string::npos) << out;
    ASSERT_NE(outcome, std::string::npos) << out;
    EXPECT_LT(listed, toDelete);
    EXPECT_LT(toDelete, outcome);
    // After the outcome, each folder with what its removal freed, largest first.
    const std::string after = out.substr(outcome);
    const std::size_t render = after.find("Render Files (Wedding)");
    const std::size_t transcoded = after.find("Transcoded Media (Wedding)");
    const std::size_t shared = after.find("Shared Items (Wedding)");
    ASSERT_NE(render, std::string::npos) << out;
    ASSERT_NE(transcoded, std::string::npos) << out;
    ASSERT_NE(shared, std::string::npos) << out;
    EXPECT_LT(render, transcoded);
    EXPECT_LT(transcoded, shared);
    const std::string renderLine = after.substr(render, after.find('\n', render) - render);
    EXPECT_TRUE(renderLine.ends_with(sizeColumn(1000, style))) << renderLine;

    // Without --yes: the sizes come before the question, as ever.
    const fs::path other = tmp / "Other.fcpbundle";
    fill(other);
    const Run asked = clean(other, false, false, platform::defaultSystemCalls());
    const std::size_t sized = asked.out.find(say("À supprimer : %1", {sizeText(1370, style)}));
    EXPECT_NE(sized, std::string::npos) << asked.out;
    EXPECT_EQ(asked.questions.size(), 1u);
}

} // namespace
} // namespace vellico::cli
