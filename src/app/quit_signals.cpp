#include "app/quit_signals.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vellico::app {

namespace {

int pipeEnds[2] = {-1, -1};
std::atomic<bool> seen{false};

void onSignal(int number)
{
    if (seen.exchange(true)) {
        platform::endBySignal(number); // asked twice: end now
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
    m_handlers = std::make_unique<platform::TerminationSignalHandlers>(&onSignal, true);
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier) {
        return;
    }
    m_handlers.reset(); // the earlier dispositions back before the pipe goes
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
