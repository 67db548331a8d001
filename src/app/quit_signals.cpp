#include "app/quit_signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vellico::app {

namespace {

int pipeEnds[2] = {-1, -1};
std::atomic<bool> seen{false};
constexpr int handledSignals[] = {SIGTERM, SIGHUP, SIGINT};
struct sigaction previous[3];

void onSignal(int number)
{
    if (seen.exchange(true)) {
        // Asked twice: end now, by the signal itself.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    const int saved = errno;
    const char byte = static_cast<char>(number);
    (void)!::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent)
{
    seen = false;
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(handledSignals[i], nullptr, &previous[i]);
        // An ignored signal stays ignored (started with nohup).
        if (previous[i].sa_handler != SIG_IGN) {
            ::sigaction(handledSignals[i], &action, nullptr);
        }
    }
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        ::sigaction(handledSignals[i], &previous[i], nullptr);
    }
    m_notifier.reset();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void QuitSignals::readPipe()
{
    char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1) {
        emit received(static_cast<unsigned char>(byte));
    }
}

} // namespace vellico::app
