// ConnectorModel: collecting provider rows, uploading snapshots and the source diagnostics.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "platform/HostInfo.h"

#include <algorithm>
#include <exception>
#include <qcoro/qcorofuture.h>

namespace korvo {

QCoro::Task<ConnectorModel::CollectPass> ConnectorModel::collectProviders() {
    QPointer<ConnectorModel> self(this);
    update(collect_, &ConnectorModel::collectChanged, [](CollectState& collect) {
        collect.phase = CollectState::Phase::collecting;
        collect.parserError.reset();
    });

    // One pass on the worker: every adapter in order, then the host name for the snapshot.
    auto future = runInPool(adapterPool_, [adapters = realAdapters_, hostInfo = hostInfo_] {
        CollectPass result;
        for (const auto& adapter : adapters) {
            try {
                if (std::optional<ProviderUsage> row = adapter->readUsage()) {
                    result.rows.push_back(std::move(*row));
                }
            } catch (const std::exception& error) {
                result.parserError =
                    ParserError{qText(adapter->displayName()), QString::fromUtf8(error.what())};
            } catch (...) {
                result.parserError =
                    ParserError{qText(adapter->displayName()), QStringLiteral("Unknown error")};
            }
        }
        result.deviceName = hostInfo->deviceName();
        return result;
    });
    CollectPass pass = co_await future;
    pass.deviceName = fallbackDeviceName(pass.deviceName);
    if (!self) {
        co_return pass;
    }
    update(collect_, &ConnectorModel::collectChanged, [&](CollectState& collect) {
        if (pass.parserError) {
            collect.parserError = pass.parserError;
        }
        if (pass.rows.empty()) {
            collect.phase = CollectState::Phase::demoFallback;
        } else {
            collect.lastSuccessfulCollectAt = options_.clock();
            collect.phase = CollectState::Phase::collected;
            collect.rowCount = int(pass.rows.size());
        }
    });
    co_return pass;
}

UsageSnapshot ConnectorModel::assembleSnapshot(std::string snapshotId, std::string syncSpaceId,
                                               const QString& deviceName,
                                               std::vector<ProviderUsage> rows) const {
    UsageSnapshot snapshot;
    snapshot.schemaVersion = UsageSnapshot::currentSchemaVersion;
    snapshot.snapshotId = std::move(snapshotId);
    snapshot.syncSpaceId = std::move(syncSpaceId);
    snapshot.updatedAt = options_.clock();
    snapshot.device =
        SnapshotDevice{stdText(connectorDeviceId_), stdText(deviceName), platformDeviceKind()};
    snapshot.providers = std::move(rows);
    return snapshot;
}

QCoro::Task<SyncOutcome> ConnectorModel::syncNow() {
    QPointer<ConnectorModel> self(this);
    const ConnectorError pairFirst{ConnectorError::Kind::pairFirst, {}};
    if (!pairing_.syncSpaceId) {
        setError(pairFirst);
        co_return SyncOutcome::notPaired;
    }
    if (syncGuard_) {
        co_return SyncOutcome::alreadyRunning;
    }
    syncGuard_ = true;

    const std::optional<std::string> token = co_await readToken();
    if (!self) {
        co_return SyncOutcome::failed;
    }
    if (!token || !pairing_.syncSpaceId) {
        syncGuard_ = false;
        setError(pairFirst);
        co_return SyncOutcome::notPaired;
    }
    const std::string syncSpaceId = stdText(*pairing_.syncSpaceId);

    update(upload_, &ConnectorModel::uploadChanged, [](UploadState& upload) {
        upload.isSyncing = true;
        upload.phase = UploadState::Phase::uploading;
        upload.detail.clear();
    });
    setError(std::nullopt);

    CollectPass pass = co_await collectProviders();
    if (!self) {
        co_return SyncOutcome::failed;
    }
    UsageSnapshot snapshot =
        pass.rows.empty()
            ? mockAdapter_->makeDemoSnapshot(syncSpaceId, stdText(connectorDeviceId_),
                                             stdText(pass.deviceName), platformDeviceKind())
            : assembleSnapshot("snap_" + randomHex(16), syncSpaceId, pass.deviceName,
                               std::move(pass.rows));

    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request

    const auto result = co_await relay->uploadSnapshot(snapshot, *token);
    if (!self) {
        co_return SyncOutcome::failed;
    }
    if (result.ok()) {
        const Instant now = options_.clock();
        update(collect_, &ConnectorModel::collectChanged,
               [&](CollectState& collect) { collect.localSnapshot = snapshot; });
        update(upload_, &ConnectorModel::uploadChanged, [&](UploadState& upload) {
            upload.phase = UploadState::Phase::uploaded;
            upload.detail = qText(snapshot.snapshotId);
            upload.snapshot = std::move(snapshot);
            upload.lastUploadAt = now;
            upload.isSyncing = false;
        });
        setAutoSyncStatus(AutoSyncState::Status::active);
        setConnectionStatus(ConnectionStatus::connected);
        syncGuard_ = false;
        co_return SyncOutcome::uploaded;
    }
    const QString description = failureText(result);
    update(upload_, &ConnectorModel::uploadChanged, [&](UploadState& upload) {
        upload.phase = UploadState::Phase::failed;
        upload.detail = description;
        upload.isSyncing = false;
    });
    setAutoSyncStatus(AutoSyncState::Status::retrying);
    setError(ConnectorError{ConnectorError::Kind::uploadFailed, description});
    syncGuard_ = false;
    co_return SyncOutcome::failed;
}

QCoro::Task<> ConnectorModel::refreshLocalLimits() {
    QPointer<ConnectorModel> self(this);
    const std::string syncSpaceId =
        pairing_.syncSpaceId ? stdText(*pairing_.syncSpaceId) : "local_display";
    CollectPass pass = co_await collectProviders();
    if (!self) {
        co_return;
    }
    std::optional<UsageSnapshot> snapshot;
    if (!pass.rows.empty()) {
        snapshot = assembleSnapshot("local_" + randomHex(16), syncSpaceId, pass.deviceName,
                                    std::move(pass.rows));
    }
    update(collect_, &ConnectorModel::collectChanged,
           [&](CollectState& collect) { collect.localSnapshot = std::move(snapshot); });
}

QCoro::Task<> ConnectorModel::refreshSourceDiagnostics() {
    QPointer<ConnectorModel> self(this);
    update(sources_, &ConnectorModel::sourcesChanged, [](SourceDiagnosticsState& sources) {
        sources.phase = SourceDiagnosticsState::Phase::checking;
    });
    auto future = runInPool(adapterPool_, [adapters = sourceAdapters_] {
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
    update(sources_, &ConnectorModel::sourcesChanged, [&](SourceDiagnosticsState& sources) {
        sources.diagnostics = std::move(diagnostics);
        sources.phase = SourceDiagnosticsState::Phase::checked;
    });
}

} // namespace korvo
