#pragma once

#include "platform/termination_signals.hpp"

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace vellico::app {

// SIGTERM, SIGHUP and SIGINT (a session logout, a closed terminal, Ctrl-C)
// turned into an ordinary quit on the GUI thread, so that a running deletion
// is stopped after the file in hand and the library's lock given back before
// the process ends, instead of the process dying with the library claimed.
//
// The handler only writes the signal's number into a pipe (the one thing a
// handler may safely do); a notifier on the other end emits `received` on
// the thread that created the object. A second signal, once the first has
// been seen, ends the process at once. One object per process; the
// destructor puts the earlier dispositions back.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    // False when the pipe could not be made: signals then keep their
    // default effect.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<platform::TerminationSignalHandlers> m_handlers;
};

} // namespace vellico::app
