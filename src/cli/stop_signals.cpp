#include "cli/stop_signals.hpp"

#include <atomic>

namespace vellico::cli {

namespace {

// Touched by the handler: a lock-free store is all it does.
platform::StopToken stopToken;
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int number)
{
    if (stopToken.stopRequested()) {
        platform::endBySignal(number); // asked twice: end now
        return;
    }
    stopSignal.store(number);
    stopToken.requestStop();
}

} // namespace

// No SA_RESTART: a prompt waiting on the terminal returns at once.
StopSignals::StopSignals() : m_handlers(&onSignal, false) {}

const platform::StopToken& StopSignals::token() const
{
    return stopToken;
}

int StopSignals::signalNumber() const
{
    return stopSignal.load();
}

} // namespace vellico::cli
