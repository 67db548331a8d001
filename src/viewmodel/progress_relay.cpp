#include "viewmodel/progress_relay.hpp"

#include <QMetaObject>

namespace vellico::viewmodel {

std::shared_ptr<ProgressRelay> ProgressRelay::create(QObject* receiver, Deliver deliver)
{
    return std::shared_ptr<ProgressRelay>(new ProgressRelay(receiver, std::move(deliver)));
}

void ProgressRelay::post(const analysis::StatusText& status)
{
    {
        std::lock_guard lock(m_mutex);
        m_latest = status;
        if (m_queued) {
            return; // the queued delivery will pick this text up
        }
        m_queued = true;
    }
    QMetaObject::invokeMethod(
        m_receiver, [self = shared_from_this()] { self->deliverLatest(); }, Qt::QueuedConnection);
}

void ProgressRelay::deliverLatest()
{
    std::optional<analysis::StatusText> latest;
    {
        std::lock_guard lock(m_mutex);
        latest = std::exchange(m_latest, std::nullopt);
        m_queued = false;
    }
    if (latest && m_deliver) {
        m_deliver(*latest);
    }
}

} // namespace vellico::viewmodel
