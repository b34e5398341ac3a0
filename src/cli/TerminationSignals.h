#pragma once

// SIGINT and SIGTERM as a Qt signal, delivered on the event loop, so `run` can stop its tasks
// and leave the event loop cleanly instead of dying inside a handler.

#include <QObject>

class QSocketNotifier;

namespace korvo {

class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    // Blocks SIGINT and SIGTERM in the calling thread. Call it in main() before any thread starts,
    // so every thread inherits the mask and the signals wait for the descriptor below.
    static void blockInThisProcess();

    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the descriptor could not be created; the signals then keep their default action.
    bool isListening() const { return fd_ >= 0; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPending();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace korvo
