// The progress line of the real program on a terminal: library k of N and
// the walk's counters while a library is analysed, never wider than the
// terminal, and nothing of it for TERM=dumb.
#include "cli/terminal.hpp"
#include "sample_library.hpp"
#include "support/temp_dir.hpp"
#include "terminal_run.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

// The texts the line was drawn with: what lies between one "erase the
// line" and the next (after the last one comes the ordinary output).
std::vector<std::string> redraws(const std::string& screen)
{
    static const std::string erase = "\r\033[K";
    std::vector<std::string> found;
    std::size_t at = screen.find(erase);
    while (at != std::string::npos) {
        const std::size_t start = at + erase.size();
        at = screen.find(erase, start);
        if (at != std::string::npos && at > start) {
            found.push_back(screen.substr(start, at - start));
        }
    }
    return found;
}

TEST(ProgressLine, ShowsTheWalkCountersWithinTheTerminalWidth)
{
    test::TempDir tmp;
    // A long name. The counters show at the latest with the step that
    // follows the measure of the whole library.
    const std::string name = "Un très long nom de bibliothèque pour déborder la ligne";
    tools::LibraryBuilder lib(tmp / (name + ".fcpbundle"));
    for (int e = 0; e < 4; ++e) {
        const fs::path folder = lib.path() / ("Événement " + std::to_string(e)) / "Render Files";
        tools::makeFolders(folder);
        for (int f = 0; f < 500; ++f) {
            const fs::path file = folder / std::to_string(f);
            ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0644));
        }
    }
    const struct {
        const char* term;
        unsigned short columns;
    } cases[] = {{"xterm", 60}, {"xterm", 200}, {"dumb", 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term) + " " + std::to_string(c.columns));
        TerminalRun cli({"analyze", "--home", (tmp / "home").string(), lib.path().string()}, c.term,
                        c.columns);
        ASSERT_TRUE(cli.started());
        EXPECT_EQ(cli.finish(), 0) << cli.screen();
        const std::vector<std::string> lines = redraws(cli.screen());
        if (std::string(c.term) == "dumb") {
            EXPECT_EQ(cli.screen().find("\033["), std::string::npos) << cli.screen();
            continue;
        }
        EXPECT_FALSE(lines.empty()) << cli.screen();
        bool counted = false;
        for (const std::string& line : lines) {
            EXPECT_LT(displayWidth(line), c.columns) << line;
            EXPECT_EQ(line.find('\n'), std::string::npos) << line;
            EXPECT_EQ(line.rfind("[1/1] ", 0), 0u) << line;
            counted = counted || line.find(" fichiers analysés, ") != std::string::npos;
        }
        EXPECT_TRUE(counted) << "no redraw showed the counters";
    }
}

} // namespace
} // namespace vellico::cli
