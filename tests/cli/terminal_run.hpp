#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace vellico::cli {

// vellico-cli run on a pseudo-terminal of its own (stdin, stdout and stderr),
// as a user runs it, so that it asks its question and draws its progress.
class TerminalRun {
public:
    // `term` is TERM's value, `columns` the terminal's width.
    explicit TerminalRun(const std::vector<std::string>& args, const char* term = "xterm",
                         unsigned short columns = 100)
    {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = columns;
        m_pid = ::forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            std::vector<char*> argv{const_cast<char*>(VELLICO_CLI_PATH)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::setenv("TERM", term, 1);
            ::setenv("LANGUAGE", "fr", 1);
            ::execv(VELLICO_CLI_PATH, argv.data());
            ::_exit(127);
        }
    }
    ~TerminalRun()
    {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    bool started() const { return m_pid > 0; }

    // Reads what the program writes until `text` shows; false if it ends
    // or `limit` passes first.
    bool waitFor(const std::string& text, std::chrono::seconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (m_screen.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !readSome(50)) {
                return m_screen.find(text) != std::string::npos;
            }
        }
        return true;
    }

    // Types `text` at the keyboard.
    void type(const std::string& text) { (void)!::write(m_master, text.data(), text.size()); }

    // Types Ctrl-C: the terminal sends SIGINT to the program.
    void pressCtrlC() { (void)!::write(m_master, "\x03", 1); }

    // Reads to the end and waits for the program; its exit status, or -1
    // when a signal ended it.
    int finish()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (readSome(100)) {
            if (std::chrono::steady_clock::now() > end) {
                ::kill(m_pid, SIGKILL); // hung: fail rather than wait for ever
                break;
            }
        }
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_status;
    }

    const std::string& screen() const { return m_screen; }

private:
    // False once the program closed its side of the terminal.
    bool readSome(int timeoutMs)
    {
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0) {
            return true; // nothing yet; the caller's limit decides
        }
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            return false; // EIO: every descriptor of the terminal is closed
        }
        m_screen.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int m_master = -1;
    int m_pid = -1;
    int m_status = -1;
    std::string m_screen;
};

} // namespace vellico::cli
