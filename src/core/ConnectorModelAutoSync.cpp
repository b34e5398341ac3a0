// ConnectorModel: the automatic sync loop and what happens around sleep and wake.
#include "core/ConnectorModel.h"

namespace korvo {

void ConnectorModel::startAutoSync() {
    if (!isPaired()) {
        // A running loop is left alone; its cycles find out about the pairing themselves.
        set(autoSyncStatus_, QStringLiteral("Paused"), &ConnectorModel::autoSyncStatusChanged);
        return;
    }
    set(autoSyncStatus_, QStringLiteral("Active"), &ConnectorModel::autoSyncStatusChanged);
    if (autoSyncTask_) {
        return;
    }
    launch(autoSyncTask_, [&](std::shared_ptr<CancellationFlag> flag) {
        return runSyncLoop(QPointer<ConnectorModel>(this), std::move(flag), options_.syncInterval);
    });
}

QCoro::Task<> ConnectorModel::runSyncLoop(QPointer<ConnectorModel> model,
                                          std::shared_ptr<CancellationFlag> flag,
                                          std::chrono::milliseconds interval) {
    while (!flag->isCancelled()) {
        co_await cancellableSleep(interval, flag);
        if (flag->isCancelled() || !model) {
            co_return;
        }
        co_await model->syncNow();
    }
}

void ConnectorModel::stopAutoSync() {
    cancelTask(autoSyncTask_);
    set(autoSyncStatus_, QStringLiteral("Paused"), &ConnectorModel::autoSyncStatusChanged);
}

void ConnectorModel::handleSleep() {
    set(powerStatus_, QStringLiteral("Sleeping"), &ConnectorModel::powerStatusChanged);
    set(lastSleepAt_, std::optional<Instant>(options_.clock()),
        &ConnectorModel::lastSleepAtChanged);
    if (isPaired()) {
        set(autoSyncStatus_, QStringLiteral("Mac sleeping"),
            &ConnectorModel::autoSyncStatusChanged);
        set(statusMessage_, QStringLiteral("Mac sleeping"), &ConnectorModel::statusMessageChanged);
    }
}

void ConnectorModel::handleWake() {
    set(powerStatus_, QStringLiteral("Awake"), &ConnectorModel::powerStatusChanged);
    set(lastWakeAt_, std::optional<Instant>(options_.clock()), &ConnectorModel::lastWakeAtChanged);
    // Pauses that ran on while the machine slept are over now; let them see it.
    for (std::optional<TaskHandle>* handle : {&autoSyncTask_, &pairingPollTask_}) {
        if (*handle) {
            (*handle)->flag->recheckClock();
        }
    }
    if (!isPaired()) {
        return;
    }
    set(statusMessage_, QStringLiteral("Woke; syncing"), &ConnectorModel::statusMessageChanged);
    startAutoSync();
    cancelTask(wakeRefreshTask_);
    launch(wakeRefreshTask_, [&](std::shared_ptr<CancellationFlag> flag) {
        return runWakeRefresh(QPointer<ConnectorModel>(this), std::move(flag), options_.wakeDelay);
    });
}

QCoro::Task<> ConnectorModel::runWakeRefresh(QPointer<ConnectorModel> model,
                                             std::shared_ptr<CancellationFlag> flag,
                                             std::chrono::milliseconds delay) {
    co_await cancellableSleep(delay, flag);
    if (flag->isCancelled() || !model) {
        co_return;
    }
    co_await model->refreshSourceDiagnostics();
    if (!model) {
        co_return;
    }
    co_await model->syncNow();
    if (!model) {
        co_return;
    }
    co_await model->loadDevices();
    if (!model) {
        co_return;
    }
    co_await model->checkForUpdates(true);
    if (model) {
        clearTask(model->wakeRefreshTask_, flag.get());
    }
}

} // namespace korvo
