#pragma once

#include "analysis/status_text.hpp"

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vellico::viewmodel {

// Carries progress texts from a worker thread to the GUI thread. A worker
// posts as often as it likes; at most one delivery is queued at a time and
// it hands over the latest text, so a fast scan never floods the event loop
// and the GUI does one small update per turn at most.
//
// `receiver` decides the thread of delivery and must outlive every post()
// (the view model waits for its workers before it goes away); a delivery
// still queued when it dies is dropped with it.
class ProgressRelay : public std::enable_shared_from_this<ProgressRelay> {
public:
    using Deliver = std::function<void(const analysis::StatusText&)>;

    static std::shared_ptr<ProgressRelay> create(QObject* receiver, Deliver deliver);

    // Any thread.
    void post(const analysis::StatusText& status);

private:
    ProgressRelay(QObject* receiver, Deliver deliver)
        : m_receiver(receiver), m_deliver(std::move(deliver))
    {}
    void deliverLatest(); // receiver's thread

    QObject* m_receiver;
    Deliver m_deliver;
    std::mutex m_mutex;
    std::optional<analysis::StatusText> m_latest; // guarded by m_mutex
    bool m_queued = false;                        // guarded by m_mutex
};

} // namespace vellico::viewmodel
