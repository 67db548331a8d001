#pragma once

#include "cli/command_line.hpp"
#include "platform/system_calls.hpp"

#include <iosfwd>
#include <optional>
#include <string>

namespace vellico::cli {

class StopSignals;

// How `clean` asks the user before deleting. Tests script it.
class Confirmation {
public:
    virtual ~Confirmation() = default;
    // None when no one can be asked (no terminal); otherwise the answer.
    virtual std::optional<bool> ask(const std::string& question) = 0;
};

// Asks on the terminal (stdin), the question on stderr; none without one.
// The answer is read as the locale's yes or no (rpmatch), and the "o"/"oui"
// the question shows is taken as yes in any locale. With `signals`, a stop
// signal ends the wait, even one that comes between the question and the
// read (the answer is then no).
class TerminalConfirmation final : public Confirmation {
public:
    explicit TerminalConfirmation(const StopSignals* signals = nullptr) : m_signals(signals) {}
    std::optional<bool> ask(const std::string& question) override;

private:
    const StopSignals* m_signals;
};

// True when `answer` says yes: the locale's yes expression (rpmatch), or the
// yes that the question shows.
bool isYes(const std::string& answer);

// `vellico-cli clean`: analyses every library first, shows each one's
// selection and the total, then asks once for the whole batch (never
// deletes unasked; --yes answers for the user). A library the editor has
// open is refused. Each library is then claimed under its lock, its
// selection deleted with progress on stderr, and released. The summary says
// what was freed; every failure is reported. Exit status 0 when everything
// selected was removed (with --dry-run, when every library was analysed
// completely), 1 otherwise. `calls` are the deletion's system calls (tests
// inject failures through them).
//
// With `signals`, a signal during a deletion stops it after the file in
// hand: the lock is released as after a normal run, what was done so far is
// reported in the usual form, no further library is touched, and the exit
// status is 128 + the signal's number (130 for SIGINT). A signal during the
// analysis or the question deletes nothing.
int runClean(const CommandLine& options, Confirmation& confirmation, std::ostream& out,
             std::ostream& err, platform::SystemCalls& calls = platform::defaultSystemCalls(),
             StopSignals* signals = nullptr);

} // namespace vellico::cli
