// ConnectorModel: the automatic sync loop and what happens around sleep and wake.
#include "core/ConnectorModel.h"

namespace korvo {

void ConnectorModel::startAutoSync() {
    if (!isPaired()) {
        // A running loop is left alone; its cycles find out about the pairing themselves.
        setAutoSyncStatus(AutoSyncState::Status::paused);
        return;
    }
    setAutoSyncStatus(AutoSyncState::Status::active);
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
    setAutoSyncStatus(AutoSyncState::Status::paused);
}

void ConnectorModel::setAutoSyncStatus(AutoSyncState::Status status) {
    update(autoSync_, &ConnectorModel::autoSyncChanged,
           [status](AutoSyncState& autoSync) { autoSync.status = status; });
}

void ConnectorModel::handleSleep() {
    const bool paired = isPaired();
    update(autoSync_, &ConnectorModel::autoSyncChanged, [&](AutoSyncState& autoSync) {
        autoSync.asleep = true;
        autoSync.lastSleepAt = options_.clock();
        if (paired) {
            autoSync.status = AutoSyncState::Status::sleeping;
        }
    });
    if (paired) {
        setConnectionStatus(ConnectionStatus::sleeping);
    }
}

void ConnectorModel::handleWake() {
    update(autoSync_, &ConnectorModel::autoSyncChanged, [&](AutoSyncState& autoSync) {
        autoSync.asleep = false;
        autoSync.lastWakeAt = options_.clock();
    });
    // Pauses that ran on while the machine slept are over now; let them see it.
    for (std::optional<TaskHandle>* handle : {&autoSyncTask_, &pairingPollTask_}) {
        if (*handle) {
            (*handle)->flag->recheckClock();
        }
    }
    if (!isPaired()) {
        return;
    }
    setConnectionStatus(ConnectionStatus::woke);
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
