#pragma once

#include "platform/stop_token.hpp"
#include "platform/termination_signals.hpp"

namespace vellico::cli {

// SIGINT, SIGTERM and SIGHUP during `analyze` or `clean` (Ctrl-C, a session ending, a
// closed terminal) turned into a stop request: the walk under way (an
// analysis or a deletion) finishes the files in hand and removes nothing
// more, the lock is released the normal way and the partial result is
// printed. A second signal ends the program at once. A signal the program
// was started with ignored (nohup) stays ignored.
//
// The constructor installs the handlers and the destructor puts the earlier
// dispositions back. One object at a time per process; the main thread
// creates it.
class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Raised by the first signal; lives as long as the process.
    const platform::StopToken& token() const;
    bool stopRequested() const { return token().stopRequested(); }
    // The signal that asked to stop; 0 when none did.
    int signalNumber() const;

private:
    platform::TerminationSignalHandlers m_handlers;
};

} // namespace vellico::cli
