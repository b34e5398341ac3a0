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
    set(lastCollectStatus_, QStringLiteral("Collecting"),
        &ConnectorModel::lastCollectStatusChanged);
    set(lastParserError_, QStringLiteral("None"), &ConnectorModel::lastParserErrorChanged);

    // One pass on the worker: every adapter in order, then the host name for the snapshot.
    auto future = runInPool(adapterPool_, [adapters = realAdapters_, hostInfo = hostInfo_] {
        CollectPass result;
        for (const auto& adapter : adapters) {
            try {
                if (std::optional<ProviderUsage> row = adapter->readUsage()) {
                    result.rows.push_back(std::move(*row));
                }
            } catch (const std::exception& error) {
                result.parserError = qText(adapter->displayName()) + QStringLiteral(": ") +
                                     QString::fromUtf8(error.what());
            } catch (...) {
                result.parserError =
                    qText(adapter->displayName()) + QStringLiteral(": Unknown error");
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
    if (pass.parserError) {
        set(lastParserError_, *pass.parserError, &ConnectorModel::lastParserErrorChanged);
    }
    if (pass.rows.empty()) {
        set(lastCollectStatus_, QStringLiteral("No real providers; using demo fallback"),
            &ConnectorModel::lastCollectStatusChanged);
    } else {
        set(lastSuccessfulCollectAt_, std::optional<Instant>(options_.clock()),
            &ConnectorModel::lastSuccessfulCollectAtChanged);
        set(lastCollectStatus_,
            QString::number(pass.rows.size()) + QStringLiteral(" provider rows"),
            &ConnectorModel::lastCollectStatusChanged);
    }
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

QCoro::Task<> ConnectorModel::syncNow() {
    QPointer<ConnectorModel> self(this);
    const QString pairFirst = QStringLiteral("Pair with iPhone before uploading snapshots.");
    if (!syncSpaceId_) {
        set(errorMessage_, pairFirst, &ConnectorModel::errorMessageChanged);
        co_return;
    }
    if (syncGuard_) {
        co_return; // a cycle is running
    }
    syncGuard_ = true;

    const std::optional<std::string> token = co_await readToken();
    if (!self) {
        co_return;
    }
    if (!token || !syncSpaceId_) {
        syncGuard_ = false;
        set(errorMessage_, pairFirst, &ConnectorModel::errorMessageChanged);
        co_return;
    }
    const std::string syncSpaceId = stdText(*syncSpaceId_);

    set(isSyncing_, true, &ConnectorModel::isSyncingChanged);
    set(errorMessage_, std::nullopt, &ConnectorModel::errorMessageChanged);
    set(lastUploadStatus_, QStringLiteral("Uploading"), &ConnectorModel::lastUploadStatusChanged);
    set(lastUploadError_, QStringLiteral("None"), &ConnectorModel::lastUploadErrorChanged);

    CollectPass pass = co_await collectProviders();
    if (!self) {
        co_return;
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
        co_return;
    }
    if (result.ok()) {
        const Instant now = options_.clock();
        const QString uploaded = QStringLiteral("Uploaded ") + qText(snapshot.snapshotId);
        set(latestSnapshot_, snapshot, &ConnectorModel::latestSnapshotChanged);
        set(localLimitSnapshot_, std::move(snapshot), &ConnectorModel::localLimitSnapshotChanged);
        set(lastSyncAt_, now, &ConnectorModel::lastSyncAtChanged);
        set(lastUploadAt_, now, &ConnectorModel::lastUploadAtChanged);
        set(lastUploadStatus_, uploaded, &ConnectorModel::lastUploadStatusChanged);
        set(autoSyncStatus_, QStringLiteral("Active"), &ConnectorModel::autoSyncStatusChanged);
        set(statusMessage_, QStringLiteral("Connected to iPhone"),
            &ConnectorModel::statusMessageChanged);
    } else {
        const QString description = failureText(result);
        set(lastUploadStatus_, QStringLiteral("Failed"), &ConnectorModel::lastUploadStatusChanged);
        set(lastUploadError_, description, &ConnectorModel::lastUploadErrorChanged);
        set(autoSyncStatus_, QStringLiteral("Retrying"), &ConnectorModel::autoSyncStatusChanged);
        set(errorMessage_, QStringLiteral("Snapshot upload failed: ") + description,
            &ConnectorModel::errorMessageChanged);
    }
    syncGuard_ = false;
    set(isSyncing_, false, &ConnectorModel::isSyncingChanged);
}

QCoro::Task<> ConnectorModel::refreshLocalLimits() {
    QPointer<ConnectorModel> self(this);
    const std::string syncSpaceId = syncSpaceId_ ? stdText(*syncSpaceId_) : "local_display";
    CollectPass pass = co_await collectProviders();
    if (!self) {
        co_return;
    }
    if (pass.rows.empty()) {
        set(localLimitSnapshot_, std::nullopt, &ConnectorModel::localLimitSnapshotChanged);
        co_return;
    }
    set(localLimitSnapshot_,
        assembleSnapshot("local_" + randomHex(16), syncSpaceId, pass.deviceName,
                         std::move(pass.rows)),
        &ConnectorModel::localLimitSnapshotChanged);
}

QCoro::Task<> ConnectorModel::refreshSourceDiagnostics() {
    QPointer<ConnectorModel> self(this);
    set(sourceDiagnosticStatus_, QStringLiteral("Checking"),
        &ConnectorModel::sourceDiagnosticStatusChanged);
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
    const auto count = [&](bool AdapterDiagnostic::*flag) {
        return std::count_if(diagnostics.begin(), diagnostics.end(),
                             [flag](const AdapterDiagnostic& d) { return d.*flag; });
    };
    const QString status =
        QString::number(count(&AdapterDiagnostic::isAvailable)) + QStringLiteral(" detected · ") +
        QString::number(count(&AdapterDiagnostic::canUploadProvider)) +
        QStringLiteral(" usage · ") + QString::number(count(&AdapterDiagnostic::limitDataFound)) +
        QStringLiteral(" quota");
    set(sourceDiagnostics_, std::move(diagnostics), &ConnectorModel::sourceDiagnosticsChanged);
    set(sourceDiagnosticStatus_, status, &ConnectorModel::sourceDiagnosticStatusChanged);
}

} // namespace korvo
