// `vellico-cli clean` stopped by a signal in the middle of a deletion: the
// file in hand finishes, nothing more goes, the library is left in the
// released state and the partial result is printed. Stopped by Ctrl-C on its
// terminal before the deletion, during the analysis or the question: nothing
// is deleted and the library is left free. `analyze --json` stopped the same
// way still prints its document, of the libraries analysed in full.
#include "cleanup/library_lock.hpp"
#include "formats/property_list.hpp"
#include "sample_library.hpp"
#include "support/program_run.hpp"
#include "support/temp_dir.hpp"
#include "terminal_run.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

constexpr int eventCount = 6;
constexpr int filesEach = 1000;

// Waits until `path` exists; false after `limit`.
bool waitFor(const fs::path& path, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    struct stat st {};
    while (::lstat(path.c_str(), &st) != 0) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

TEST(CleanSignals, LeaveTheLibraryReleasedAndReportWhatWasRemoved)
{
    const struct {
        int signal;
        bool json;
    } cases[] = {{SIGINT, false}, {SIGTERM, true}, {SIGHUP, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.signal));
        test::TempDir tmp;
        tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
        for (int e = 0; e < eventCount; ++e) {
            const fs::path folder = lib.path() / ("Event " + std::to_string(e)) / "Render Files";
            tools::makeFolders(folder);
            for (int f = 0; f < filesEach; ++f) {
                tools::writeFile(folder / ("f" + std::to_string(f)), "x");
            }
        }
        std::vector<std::string> args = {"clean", "--yes", "--home", (tmp / "home").string(),
                                         lib.path().string()};
        if (c.json) {
            args.insert(args.begin() + 1, "--json");
        }
        const test::StartedProgram cli = test::startProgram(VELLICO_CLI_PATH, tmp, args);
        ASSERT_GT(cli.pid, 0);
        // The claim's marker appears right before the first removal: hold
        // the program there, send the signal, let it go on.
        const bool claimed =
            waitFor(lib.path() / ".lock-dir" / "Vellico 1", std::chrono::seconds(60));
        ::kill(cli.pid, SIGSTOP);
        ::kill(cli.pid, c.signal);
        ::kill(cli.pid, SIGCONT);
        const test::ProgramRun run = test::finishProgram(cli);
        ASSERT_TRUE(claimed);
        EXPECT_EQ(run.signal, 0) << "ended by the signal instead of handling it";
        EXPECT_EQ(run.status, 128 + c.signal) << run.err;

        // Released: the record names no secondary lock, the marker is gone,
        // "__Sync__" is back.
        const auto record = formats::readPropertyListDictionary(lib.path() / ".lock-info");
        ASSERT_TRUE(record);
        EXPECT_FALSE(record->find("FFFileLockActiveSecondaryLockName"));
        EXPECT_FALSE(fs::exists(lib.path() / ".lock-dir" / "Vellico 1"));
        EXPECT_TRUE(fs::is_regular_file(lib.path() / "__Sync__"));

        // Stopped early: folders still there, and exactly the ones reported
        // removed are gone.
        int gone = 0;
        for (int e = 0; e < eventCount; ++e) {
            gone +=
                fs::exists(lib.path() / ("Event " + std::to_string(e)) / "Render Files") ? 0 : 1;
        }
        EXPECT_LT(gone, eventCount) << "the signal came too late to stop anything";
        if (c.json) {
            const auto doc = nlohmann::json::parse(run.out);
            EXPECT_EQ(doc["interrupted"], true);
            const auto& library = doc["libraries"][0];
            EXPECT_EQ(library["interrupted"], true);
            EXPECT_EQ(library["foldersRemoved"], gone);
            // With --yes the removal counts what it removed as it goes: a
            // folder cut short counts for the files that went.
            EXPECT_GE(library["freedSpace"], gone * filesEach);
            EXPECT_LE(library["freedSpace"], eventCount * filesEach);
        } else {
            EXPECT_NE(run.out.find("« Film » : interrompu"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("Dossiers supprimés : " + std::to_string(gone) + " sur " +
                                   std::to_string(eventCount)),
                      std::string::npos)
                << run.out;
        }
    }
}

TEST(CleanSignals, CtrlCBeforeTheDeletionDeletesNothingAndLeavesTheLibraryFree)
{
    // The progress line is drawn as the analysis starts; a library this big
    // takes far longer to walk on one thread than the signal takes to come.
    const struct {
        const char* when;
        const char* waitFor; // what the program shows at that moment
        int files;
    } cases[] = {
        {"during the analysis", "[1/1] Film", 40'000},
        {"during the question", "[o/N]", 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        test::TempDir tmp;
        tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
        for (int e = 0; e < 4; ++e) {
            const fs::path folder = lib.path() / ("Event " + std::to_string(e)) / "Render Files";
            tools::makeFolders(folder);
            for (int f = 0; f < c.files / 4; ++f) {
                const fs::path file = folder / std::to_string(f);
                ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
            }
        }
        TerminalRun cli(
            {"clean", "--jobs=1", "--home", (tmp / "home").string(), lib.path().string()});
        ASSERT_TRUE(cli.started());
        const bool shown = cli.waitFor(c.waitFor, std::chrono::seconds(60));
        const bool asked = cli.screen().find("[o/N]") != std::string::npos;
        cli.pressCtrlC();
        EXPECT_EQ(cli.finish(), 130) << cli.screen();
        ASSERT_TRUE(shown) << cli.screen();
        if (std::string(c.waitFor) != "[o/N]") {
            EXPECT_FALSE(asked) << "the analysis ended before the signal: make it longer";
        }
        EXPECT_NE(cli.screen().find("suppression interrompue par un signal"), std::string::npos)
            << cli.screen();
        for (int e = 0; e < 4; ++e) {
            EXPECT_TRUE(
                fs::exists(lib.path() / ("Event " + std::to_string(e)) / "Render Files" / "0"));
        }
        EXPECT_FALSE(fs::exists(lib.path() / ".lock-dir" / "Vellico 1"));
        cleanup::LibraryLock lock;
        EXPECT_TRUE(lock.acquire(lib.path())) << "the library is still claimed";
    }
}

TEST(CleanQuestion, AYesTypedBeforeTheQuestionDoesNotAnswerIt)
{
    // Typed while the analysis runs (thousands of files: long after this
    // write lands), before any deletion was shown: not an answer.
    test::TempDir tmp;
    tools::LibraryBuilder lib(tmp / "Film.fcpbundle");
    const fs::path folder = lib.path() / "Event" / "Render Files";
    tools::makeFolders(folder);
    for (int f = 0; f < 4000; ++f) {
        ::close(::open((folder / std::to_string(f)).c_str(), O_CREAT | O_WRONLY, 0644));
    }
    TerminalRun cli({"clean", "--jobs=1", "--home", (tmp / "home").string(), lib.path().string()});
    ASSERT_TRUE(cli.started());
    cli.type("o\n");
    const bool asked = cli.waitFor("[o/N]", std::chrono::seconds(60));
    cli.type("n\n");
    EXPECT_EQ(cli.finish(), 1) << cli.screen();
    ASSERT_TRUE(asked) << cli.screen();
    EXPECT_TRUE(fs::exists(folder / "0")) << "the typed-ahead answer deleted the folder";
}

TEST(AnalyzeSignals, CtrlCStillPrintsTheDocumentWithoutTheLibraryCutShort)
{
    test::TempDir tmp;
    tools::LibraryBuilder done(tmp / "Done.fcpbundle");
    done.file("Event/Render Files/a", 100);
    tools::LibraryBuilder big(tmp / "Big.fcpbundle");
    const fs::path folder = big.path() / "Event" / "Render Files";
    tools::makeFolders(folder);
    for (int f = 0; f < 40'000; ++f) {
        const fs::path file = folder / std::to_string(f);
        ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
    }
    TerminalRun cli({"analyze", "--json", "--jobs=1", "--home", (tmp / "home").string(),
                     done.path().string(), big.path().string()});
    ASSERT_TRUE(cli.started());
    const bool shown = cli.waitFor("[2/2] Big", std::chrono::seconds(60));
    cli.pressCtrlC();
    EXPECT_EQ(cli.finish(), 130) << cli.screen();
    ASSERT_TRUE(shown) << cli.screen();
    // Everything after the progress line is the document (the terminal ends
    // its lines with CR LF); no message in text form beside it.
    const std::size_t start = cli.screen().find("{\"schemaVersion\"");
    ASSERT_NE(start, std::string::npos) << cli.screen();
    const auto doc = nlohmann::json::parse(cli.screen().substr(start));
    EXPECT_EQ(doc["interrupted"], true);
    ASSERT_EQ(doc["libraries"].size(), 1u) << "the library cut short is left out";
    EXPECT_EQ(doc["libraries"][0]["name"], "Done");
    EXPECT_EQ(cli.screen().find("analyse interrompue"), std::string::npos) << cli.screen();
}

} // namespace
} // namespace vellico::cli
