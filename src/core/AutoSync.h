#pragma once

#include "core/ConnectorState.h"
#include "core/TaskSlot.h"
#include "model/Clock.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <qcoro/qcorotask.h>

namespace korvo {

// Automatic sync: a collect-and-upload cycle every interval while paired, paused around sleep,
// and a catch-up refresh shortly after a wake.
class AutoSync final : public QObject {
    Q_OBJECT
public:
    // What the loop needs of the rest of the model.
    struct Hooks {
        // A pairing is stored; each cycle reads the token itself.
        std::function<bool()> hasSyncSpace;
        std::function<QCoro::Task<>()> sync;             // one collect-and-upload cycle
        std::function<QCoro::Task<>()> refreshAfterWake; // the catch-up after a wake
    };

    AutoSync(Hooks hooks, Clock clock, std::chrono::milliseconds interval,
             std::chrono::milliseconds wakeDelay, QObject* parent = nullptr);

    const AutoSyncState& state() const { return state_; }
    bool isLoopRunning() const { return loop_.isRunning(); }
    bool isWakeRefreshRunning() const { return wakeRefresh_.isRunning(); }

    // Starts the loop when paired ("Active"); otherwise shows "Paused".
    void start();
    void stop();
    void setStatus(AutoSyncState::Status status);
    // Records the sleep; sync shows "Mac sleeping" when paired.
    void sleep();
    // Records the wake and lets the loop's pause look at the clock again.
    void wake();
    // Starts the loop and, after the wake delay, the catch-up refresh.
    void resumeAfterWake();

Q_SIGNALS:
    void changed();

private:
    static QCoro::Task<> runLoop(QPointer<AutoSync> self, std::shared_ptr<CancellationFlag> flag,
                                 std::chrono::milliseconds interval);
    static QCoro::Task<> runWakeRefresh(QPointer<AutoSync> self,
                                        std::shared_ptr<CancellationFlag> flag,
                                        std::chrono::milliseconds delay);

    Hooks hooks_;
    Clock clock_;
    std::chrono::milliseconds interval_;
    std::chrono::milliseconds wakeDelay_;
    AutoSyncState state_;
    TaskSlot loop_;
    TaskSlot wakeRefresh_;
};

} // namespace korvo
