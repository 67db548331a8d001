#include "desktop/clock.hpp"

#include <QCoro/QCoroTimer>
#include <QTimer>

namespace vellico::desktop {

QCoro::Task<> EventLoopClock::sleep(std::chrono::milliseconds duration)
{
    // The timer lives in this coroutine's frame, not in the clock: the wait
    // stays valid even if the clock is destroyed meanwhile.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    timer.start(duration);
    co_await timer;
}

} // namespace vellico::desktop
