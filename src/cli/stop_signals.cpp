#include "cli/stop_signals.hpp"

#include <signal.h>

#include <atomic>

namespace vellico::cli {

namespace {

// Touched by the handler: a lock-free store is all it does.
platform::StopToken stopToken;
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];

void onSignal(int number)
{
    if (stopToken.stopRequested()) {
        // Asked twice: end now, by the signal itself, so the parent sees how
        // we ended. It is blocked while this handler runs and strikes on
        // return.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    stopSignal.store(number);
    stopToken.requestStop();
}

} // namespace

StopSignals::StopSignals()
{
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt waiting on the terminal returns at once.
    action.sa_flags = 0;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(handledSignals[i], nullptr, &previous[i]);
        // An ignored signal stays ignored (nohup, a shell's background job).
        if (previous[i].sa_handler != SIG_IGN) {
            ::sigaction(handledSignals[i], &action, nullptr);
        }
    }
}

StopSignals::~StopSignals()
{
    for (int i = 0; i < 3; ++i) {
        ::sigaction(handledSignals[i], &previous[i], nullptr);
    }
}

const platform::StopToken& StopSignals::token() const
{
    return stopToken;
}

int StopSignals::signalNumber() const
{
    return stopSignal.load();
}

} // namespace vellico::cli
