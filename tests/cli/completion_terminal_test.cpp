// The bash completion as a user meets it: an interactive bash on a
// pseudo-terminal, the script sourced, Tab pressed; what readline writes on
// the line is what is checked, quoting included.
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace vellico::cli {
namespace {

namespace fs = std::filesystem;

// bash -i on a terminal of its own, in `folder`, with the completion loaded.
class InteractiveBash {
public:
    explicit InteractiveBash(const fs::path& folder)
    {
        winsize size{};
        size.ws_row = 40;
        size.ws_col = 200;
        m_pid = ::forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            if (::chdir(folder.c_str()) != 0) {
                ::_exit(127);
            }
            ::clearenv();
            ::setenv("PATH", "/usr/bin:/bin", 1);
            ::setenv("TERM", "dumb", 1);
            ::setenv("PS1", "$ ", 1);
            ::setenv("HOME", folder.c_str(), 1);
            ::setenv("INPUTRC", "/dev/null", 1);
            ::execl("/bin/bash", "bash", "--norc", "--noprofile", "-i", nullptr);
            ::_exit(127);
        }
        // The program's stand-in prints the words it receives.
        type("vellico-cli() { printf '<%s>' \"$@\"; echo; }; source '" +
             std::string(VELLICO_BASH_COMPLETION) + "'; echo loaded\n");
        waitFor("loaded\r\n$ ");
        m_screen.clear();
    }
    ~InteractiveBash()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }

    bool started() const { return m_pid > 0; }

    void type(const std::string& keys) { (void)!::write(m_master, keys.data(), keys.size()); }

    // Reads until `text` shows, or five seconds pass.
    bool waitFor(const std::string& text)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_screen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 50) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n <= 0) {
                    return false;
                }
                m_screen.append(buffer, static_cast<std::size_t>(n));
            }
        }
        return true;
    }

    // The arguments the command line `typed` + Tab + `after` passes, as the
    // shell reads them: vellico-cli's stand-in prints each between brackets,
    // blanks and quotes resolved.
    std::string wordsAfterTab(const std::string& typed, const std::string& after = "")
    {
        m_screen.clear();
        type(typed + "\t");
        ::usleep(500'000); // readline completes before the rest arrives
        type(after + "\n");
        waitFor(">\r\n$ ");
        const std::size_t last = m_screen.rfind("\r\n$ ");
        const std::size_t start = last == std::string::npos || last == 0
                                      ? std::string::npos
                                      : m_screen.rfind("\n", last - 1);
        if (start == std::string::npos) {
            return m_screen;
        }
        return m_screen.substr(start + 1, last - start - 1);
    }

    const std::string& screen() const { return m_screen; }

private:
    int m_master = -1;
    int m_pid = -1;
    std::string m_screen;
};

TEST(BashCompletion, NamesWithBlanksAndKindListsStayWhole)
{
    test::TempDir tmp;
    fs::create_directories(tmp / "Mariage Dupont.fcpbundle");
    fs::create_directories(tmp / "Mariage Dupont 2.fcpbundle");
    fs::create_directories(tmp / "Autre");
    InteractiveBash bash(tmp.path());
    ASSERT_TRUE(bash.started());

    // A library whose name holds blanks is one word, completed whole.
    EXPECT_EQ(bash.wordsAfterTab("vellico-cli analyze Mariage\\ Dupont\\ "),
              "<analyze><Mariage Dupont 2.fcpbundle/>")
        << bash.screen();
    EXPECT_EQ(bash.wordsAfterTab("vellico-cli clean --dry-run Au"), "<clean><--dry-run><Autre/>")
        << bash.screen();
    // A kind list after an escaped blank: the next kind, no stray backslash.
    EXPECT_EQ(bash.wordsAfterTab("vellico-cli analyze --only=Render\\ Files,Tr"),
              "<analyze><--only=Render Files,Transcoded Media>")
        << bash.screen();
    // Readline closes the quote of a unique offer.
    EXPECT_EQ(bash.wordsAfterTab("vellico-cli analyze --except \"Render Files,Sh"),
              "<analyze><--except><Render Files,Shared Items>")
        << bash.screen();
}

} // namespace
} // namespace vellico::cli
