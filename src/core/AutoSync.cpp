#include "core/AutoSync.h"

#include "core/LogCategories.h"
#include "core/StateUpdate.h"

namespace korvo {

AutoSync::AutoSync(Hooks hooks, Clock clock, std::chrono::milliseconds interval,
                   std::chrono::milliseconds wakeDelay, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), clock_(std::move(clock)), interval_(interval),
      wakeDelay_(wakeDelay) {}

void AutoSync::setStatus(AutoSyncState::Status status) {
    updateState(*this, state_, [status](AutoSyncState& state) { state.status = status; });
}

void AutoSync::start() {
    if (!hooks_.hasSyncSpace()) {
        // A running loop is left alone; its cycles find out about the pairing themselves.
        setStatus(AutoSyncState::Status::paused);
        return;
    }
    setStatus(AutoSyncState::Status::active);
    if (loop_.isRunning()) {
        return;
    }
    loop_.launch([&](std::shared_ptr<CancellationFlag> flag) {
        return runLoop(QPointer<AutoSync>(this), std::move(flag), interval_);
    });
}

void AutoSync::stop() {
    loop_.cancel();
    setStatus(AutoSyncState::Status::paused);
}

QCoro::Task<> AutoSync::runLoop(QPointer<AutoSync> self, std::shared_ptr<CancellationFlag> flag,
                                std::chrono::milliseconds interval) {
    while (!flag->isCancelled()) {
        co_await cancellableSleep(interval, flag);
        if (flag->isCancelled() || !self) {
            co_return;
        }
        co_await self->hooks_.sync();
    }
}

void AutoSync::sleep() {
    qCInfo(lcSync) << "machine going to sleep";
    const bool paired = hooks_.hasSyncSpace();
    updateState(*this, state_, [&](AutoSyncState& state) {
        state.asleep = true;
        state.lastSleepAt = clock_();
        if (paired) {
            state.status = AutoSyncState::Status::sleeping;
        }
    });
}

void AutoSync::wake() {
    qCInfo(lcSync) << "machine woke";
    updateState(*this, state_, [&](AutoSyncState& state) {
        state.asleep = false;
        state.lastWakeAt = clock_();
    });
    loop_.recheckClock();
}

void AutoSync::resumeAfterWake() {
    start();
    wakeRefresh_.cancel();
    wakeRefresh_.launch([&](std::shared_ptr<CancellationFlag> flag) {
        return runWakeRefresh(QPointer<AutoSync>(this), std::move(flag), wakeDelay_);
    });
}

QCoro::Task<> AutoSync::runWakeRefresh(QPointer<AutoSync> self,
                                       std::shared_ptr<CancellationFlag> flag,
                                       std::chrono::milliseconds delay) {
    co_await cancellableSleep(delay, flag);
    if (flag->isCancelled() || !self) {
        co_return;
    }
    co_await self->hooks_.refreshAfterWake();
    if (self) {
        self->wakeRefresh_.clear(flag.get());
    }
}

} // namespace korvo
