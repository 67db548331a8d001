#include "platform/termination_signals.hpp"

namespace vellico::platform {

namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

} // namespace

TerminationSignalHandlers::TerminationSignalHandlers(void (*handler)(int), bool restartCalls)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restartCalls ? SA_RESTART : 0;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], nullptr, &m_previous[i]);
        if (m_previous[i].sa_handler != SIG_IGN) {
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
}

TerminationSignalHandlers::~TerminationSignalHandlers()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
}

void endBySignal(int number)
{
    ::signal(number, SIG_DFL);
    ::raise(number);
}

} // namespace vellico::platform
