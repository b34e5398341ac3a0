#pragma once

// SIGINT and SIGTERM as a Qt signal, delivered on the event loop, so `run` can stop its tasks
// and leave the event loop cleanly instead of dying inside a handler.

#include <QObject>

class QSocketNotifier;

namespace korvo {

// The self-pipe way, which works on every POSIX system: the handler only writes the signal's
// number into a pipe (write() is async-signal-safe), and a socket notifier on the pipe's read
// end turns it into `received` on the thread that made this object. One object at a time; it
// puts the previous handlers back when it goes.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up; the signals then keep their
    // default action.
    bool isListening() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPending();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace korvo
