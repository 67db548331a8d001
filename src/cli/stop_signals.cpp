#include "cli/stop_signals.hpp"

#include <signal.h>

#include <atomic>

namespace vellico::cli {

namespace {

// Written by the handler: lock-free atomics are safe to touch there.
std::atomic<bool> stopFlag{false};
std::atomic<int> stopSignal{0};
std::atomic<bool> graceful{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[3];

void onSignal(int number)
{
    if (!graceful.load() || stopFlag.load()) {
        // Nothing to give back yet, or asked twice: end now, by the signal
        // itself, so the parent sees how we ended. It is blocked while this
        // handler runs and strikes on return.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    stopSignal.store(number);
    stopFlag.store(true);
}

} // namespace

StopSignals::StopSignals()
{
    stopFlag = false;
    stopSignal = 0;
    graceful = false;
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

void StopSignals::armGracefulStop()
{
    graceful = true;
}

platform::StopToken StopSignals::token() const
{
    return platform::StopToken(stopFlag);
}

bool StopSignals::stopRequested() const
{
    return stopFlag.load();
}

int StopSignals::signalNumber() const
{
    return stopSignal.load();
}

} // namespace vellico::cli
