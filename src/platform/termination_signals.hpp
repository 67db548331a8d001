#pragma once

#include <signal.h>

#include <array>

namespace vellico::platform {

// The handlers of the signals that ask a program to end: SIGINT (Ctrl-C),
// SIGTERM (a session ending, kill) and SIGHUP (a closed terminal), installed
// while the object lives. A signal the process was started with ignored
// (nohup, a shell's background job) stays ignored. The destructor puts the
// earlier dispositions back. With `restartCalls` a system call the signal
// interrupts starts again (SA_RESTART); without, it fails with EINTR, so a
// prompt waiting on the terminal returns at once. One object at a time per
// process; the main thread creates it.
class TerminationSignalHandlers {
public:
    TerminationSignalHandlers(void (*handler)(int), bool restartCalls);
    ~TerminationSignalHandlers();
    TerminationSignalHandlers(const TerminationSignalHandlers&) = delete;
    TerminationSignalHandlers& operator=(const TerminationSignalHandlers&) = delete;

private:
    std::array<struct sigaction, 3> m_previous{};
};

// For a second signal, from inside its handler: the default disposition put
// back and the signal raised again, so that the process ends by the signal
// itself and its parent sees how it ended (it is blocked while the handler
// runs and strikes on return). Async-signal-safe.
void endBySignal(int number);

} // namespace vellico::platform
