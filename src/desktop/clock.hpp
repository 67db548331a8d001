#pragma once

#include <QCoro/QCoroTask>

#include <chrono>

namespace vellico::desktop {

// Waits without blocking: the awaiting coroutine is resumed on its own
// thread's event loop once the time has passed. Injected so that tests of
// polling and waiting run at once. It needs an event loop, so it lives with
// the Qt layers (vellico_desktop), not in the Qt-free platform.
class Clock {
public:
    virtual ~Clock() = default;

    // Resumes the awaiting coroutine after `duration`. The returned task
    // holds everything it needs: it stays valid if the clock goes away first.
    virtual QCoro::Task<> sleep(std::chrono::milliseconds duration) = 0;
};

// Sleeps on the event loop's timers (QTimer, precise timer type).
class EventLoopClock final : public Clock {
public:
    QCoro::Task<> sleep(std::chrono::milliseconds duration) override;
};

} // namespace vellico::desktop
