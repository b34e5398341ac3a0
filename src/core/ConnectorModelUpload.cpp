// ConnectorModel: the collect-and-upload cycle.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "core/LogCategories.h"

namespace korvo {

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

    SourceCollector::Pass pass = co_await collector_->collectRows();
    if (!self) {
        co_return SyncOutcome::failed;
    }
    UsageSnapshot snapshot =
        pass.rows.empty()
            ? mockAdapter_->makeDemoSnapshot(syncSpaceId, stdText(connectorDeviceId_),
                                             stdText(pass.deviceName), platformDeviceKind())
            : collector_->assemble("snap_" + randomHex(16), syncSpaceId, pass.deviceName,
                                   std::move(pass.rows));

    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request

    const auto result = co_await relay->uploadSnapshot(snapshot, *token);
    if (!self) {
        co_return SyncOutcome::failed;
    }
    if (result.ok()) {
        const Instant now = options_.clock();
        qCInfo(lcSync).noquote() << "uploaded" << qText(snapshot.snapshotId);
        collector_->showUploaded(snapshot);
        update(upload_, &ConnectorModel::uploadChanged, [&](UploadState& upload) {
            upload.phase = UploadState::Phase::uploaded;
            upload.detail = qText(snapshot.snapshotId);
            upload.snapshot = std::move(snapshot);
            upload.lastUploadAt = now;
            upload.isSyncing = false;
        });
        autoSync_->setStatus(AutoSyncState::Status::active);
        setConnectionStatus(ConnectionStatus::connected);
        syncGuard_ = false;
        co_return SyncOutcome::uploaded;
    }
    const QString description = failureText(result);
    qCInfo(lcSync).noquote() << "upload failed:" << description;
    update(upload_, &ConnectorModel::uploadChanged, [&](UploadState& upload) {
        upload.phase = UploadState::Phase::failed;
        upload.detail = description;
        upload.isSyncing = false;
    });
    autoSync_->setStatus(AutoSyncState::Status::retrying);
    setError(ConnectorError{ConnectorError::Kind::uploadFailed, description});
    syncGuard_ = false;
    co_return SyncOutcome::failed;
}

} // namespace korvo
