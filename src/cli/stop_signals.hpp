#pragma once

#include "platform/stop_token.hpp"

namespace vellico::cli {

// SIGINT, SIGTERM and SIGHUP during `clean` (Ctrl-C, a session ending, a
// closed terminal).
//
// Until armGracefulStop() nothing has been claimed or removed, and a signal
// ends the program at once, as it would without us. Once armed, the first
// signal only raises the stop request: the deletion finishes the file in
// hand, removes nothing more, the lock is released the normal way and the
// partial result is printed; a second signal ends the program at once.
//
// The constructor installs the handlers and the destructor puts the earlier
// dispositions back. One object at a time per process; the main thread
// creates it.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    void armGracefulStop();
    platform::StopToken token() const;
    bool stopRequested() const;
    // The signal that asked to stop; 0 when none did.
    int signalNumber() const;
};

} // namespace vellico::cli
