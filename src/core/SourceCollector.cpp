#include "core/SourceCollector.h"

#include "core/ConnectorModelText.h"
#include "core/LogCategories.h"
#include "core/StateUpdate.h"
#include "core/TaskSupport.h"
#include "core/UsageHistory.h"
#include "model/DeviceIdentity.h"
#include "platform/HostInfo.h"

#include <QPointer>
#include <algorithm>
#include <qcoro/qcorofuture.h>

namespace korvo {

namespace {

// The host name, or "Mac" when the system gives none.
QString fallbackDeviceName(const QString& name) {
    return name.isEmpty() ? qText(std::string(kUnnamedDevice)) : name;
}

} // namespace

SourceCollector::SourceCollector(AdapterList realAdapters, AdapterList sourceAdapters,
                                 std::shared_ptr<HostInfo> hostInfo, Clock clock,
                                 QString connectorDeviceId, std::shared_ptr<UsageHistory> history,
                                 QObject* parent)
    : QObject(parent), realAdapters_(std::move(realAdapters)),
      sourceAdapters_(std::move(sourceAdapters)), hostInfo_(std::move(hostInfo)),
      clock_(std::move(clock)), connectorDeviceId_(std::move(connectorDeviceId)),
      history_(std::move(history)) {
    pool_.setMaxThreadCount(1);
    // Keep the worker thread: a pass every 30 seconds should not create a thread each time.
    pool_.setExpiryTimeout(-1);
}

SourceCollector::~SourceCollector() {
    pool_.waitForDone();
}

QCoro::Task<SourceCollector::Pass> SourceCollector::collectRows() {
    QPointer<SourceCollector> self(this);
    updateState(*this, collect_, [](CollectState& collect) {
        collect.phase = CollectState::Phase::collecting;
        collect.parserError.reset();
    });

    // One pass on the worker: every adapter in order, the rows into the usage history and each
    // row's current window out of it, then the host name for the snapshot.
    auto future = runInPool(pool_, [adapters = realAdapters_, hostInfo = hostInfo_,
                                    history = history_, now = clock_()] {
        Pass result;
        for (const auto& adapter : adapters) {
            UsageReading reading = adapter->readUsage();
            if (reading.row) {
                result.rows.push_back(std::move(*reading.row));
            }
            if (reading.error) {
                result.parserError = ParserError{qText(adapter->displayName()),
                                                 QString::fromStdString(reading.error->text())};
            }
        }
        if (history) {
            history->record(result.rows, now);
            for (const ProviderUsage& row : result.rows) {
                result.history[row.id] = history->currentWindow(row);
            }
        }
        result.deviceName = hostInfo->deviceName();
        return result;
    });
    Pass pass = co_await future;
    pass.deviceName = fallbackDeviceName(pass.deviceName);
    if (!self) {
        co_return pass;
    }
    if (pass.parserError) {
        qCInfo(lcSources).noquote()
            << pass.parserError->adapterName << "failed:" << pass.parserError->description;
    }
    qCDebug(lcSources) << "collected" << pass.rows.size() << "provider rows";
    updateState(*this, collect_, [&](CollectState& collect) {
        if (pass.parserError) {
            collect.parserError = pass.parserError;
        }
        collect.history = pass.history;
        if (pass.rows.empty()) {
            collect.phase = CollectState::Phase::demoFallback;
        } else {
            collect.lastSuccessfulCollectAt = clock_();
            collect.phase = CollectState::Phase::collected;
            collect.rowCount = int(pass.rows.size());
        }
    });
    co_return pass;
}

QCoro::Task<QString> SourceCollector::deviceName() {
    auto future = runInPool(pool_, [hostInfo = hostInfo_] { return hostInfo->deviceName(); });
    const QString name = co_await future;
    co_return fallbackDeviceName(name);
}

UsageSnapshot SourceCollector::assemble(std::string snapshotId, std::string syncSpaceId,
                                        const QString& deviceName,
                                        std::vector<ProviderUsage> rows) const {
    return assembleSnapshot(
        std::move(snapshotId), std::move(syncSpaceId),
        SnapshotDevice{stdText(connectorDeviceId_), stdText(deviceName), platformDeviceKind()},
        std::move(rows), clock_());
}

QCoro::Task<> SourceCollector::refreshLocalLimits(std::string syncSpaceId) {
    QPointer<SourceCollector> self(this);
    Pass pass = co_await collectRows();
    if (!self) {
        co_return;
    }
    std::optional<UsageSnapshot> snapshot;
    if (!pass.rows.empty()) {
        snapshot = assemble(localSnapshotId(), std::move(syncSpaceId), pass.deviceName,
                            std::move(pass.rows));
    }
    updateState(*this, collect_,
                [&](CollectState& collect) { collect.localSnapshot = std::move(snapshot); });
}

void SourceCollector::showUploaded(const UsageSnapshot& snapshot) {
    updateState(*this, collect_, [&](CollectState& collect) { collect.localSnapshot = snapshot; });
}

void SourceCollector::forgetCollection() {
    updateState(*this, collect_, [](CollectState& collect) {
        collect.lastSuccessfulCollectAt.reset();
        collect.phase = CollectState::Phase::notCollected;
        collect.parserError.reset();
    });
}

QFuture<std::vector<UsageHistoryPoint>> SourceCollector::historyPoints(std::string toolId,
                                                                       Instant since) {
    if (!history_) {
        return QtFuture::makeReadyFuture(std::vector<UsageHistoryPoint>{});
    }
    return runInPool(pool_, [history = history_, toolId = std::move(toolId), since] {
        return history->points(toolId.empty() ? std::nullopt : std::optional(toolId), since);
    });
}

QCoro::Task<> SourceCollector::refreshDiagnostics() {
    QPointer<SourceCollector> self(this);
    if (applyChange(diagnostics_, [](SourceDiagnosticsState& state) {
            state.phase = SourceDiagnosticsState::Phase::checking;
        })) {
        Q_EMIT changed();
    }
    auto future = runInPool(pool_, [adapters = sourceAdapters_] {
        std::vector<AdapterDiagnostic> result;
        result.reserve(adapters.size());
        for (const auto& adapter : adapters) {
            result.push_back(adapter->diagnose());
        }
        // Byte order of UTF-8 is code-point order: upper case before lower case.
        std::stable_sort(result.begin(), result.end(),
                         [](const AdapterDiagnostic& a, const AdapterDiagnostic& b) {
                             return a.displayName < b.displayName;
                         });
        return result;
    });
    std::vector<AdapterDiagnostic> diagnostics = co_await future;
    if (!self) {
        co_return;
    }
    if (applyChange(diagnostics_, [&](SourceDiagnosticsState& state) {
            state.diagnostics = std::move(diagnostics);
            state.phase = SourceDiagnosticsState::Phase::checked;
        })) {
        Q_EMIT changed();
    }
}

} // namespace korvo
