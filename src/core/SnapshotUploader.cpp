#include "core/SnapshotUploader.h"

#include "core/AutoSync.h"
#include "core/Connection.h"
#include "core/ConnectorModelText.h"
#include "core/DeviceToken.h"
#include "core/LogCategories.h"
#include "core/Pairing.h"
#include "core/SourceCollector.h"
#include "core/StateUpdate.h"
#include "model/DeviceIdentity.h"
#include "relayclient/RelayClient.h"
#include "sources/adapters/MockAdapter.h"

#include <QPointer>

namespace korvo {

SnapshotUploader::SnapshotUploader(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {}

QCoro::Task<SyncOutcome> SnapshotUploader::syncNow() {
    QPointer<SnapshotUploader> self(this);
    Connection& connection = *services_.relay.connection;
    const PairingState& pairing = services_.pairing->state();
    const ConnectorError pairFirst{ConnectorError::Kind::pairFirst, {}};
    if (!pairing.syncSpaceId) {
        connection.setError(pairFirst);
        co_return SyncOutcome::notPaired;
    }
    if (running_) {
        co_return SyncOutcome::alreadyRunning;
    }
    running_ = true;

    const std::optional<std::string> token = co_await services_.relay.token->read();
    if (!self) {
        co_return SyncOutcome::failed;
    }
    if (!token || !pairing.syncSpaceId) {
        running_ = false;
        connection.setError(pairFirst);
        co_return SyncOutcome::notPaired;
    }
    const std::string syncSpaceId = stdText(*pairing.syncSpaceId);
    // The token goes to the relay that issued it only.
    const QString origin = pairing.relayOrigin.value_or(QString());

    updateState(*this, state_, [](UploadState& upload) {
        upload.isSyncing = true;
        upload.phase = UploadState::Phase::uploading;
        upload.detail.clear();
    });
    connection.setError(std::nullopt);

    SourceCollector& collector = *services_.collector;
    SourceCollector::Pass pass = co_await collector.collectRows();
    if (!self) {
        co_return SyncOutcome::failed;
    }
    const bool fromTools = !pass.rows.empty();
    UsageSnapshot snapshot = pass.rows.empty()
                                 ? services_.mockAdapter->makeDemoSnapshot(
                                       syncSpaceId, stdText(services_.relay.connectorDeviceId),
                                       stdText(pass.deviceName), platformDeviceKind())
                                 : collector.assemble("snap_" + randomHex(16), syncSpaceId,
                                                      pass.deviceName, std::move(pass.rows));

    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the request
    // A named credential: a temporary in a co_await operand does not survive the suspension
    // with every compiler.
    RelayCredential credential{*token, origin};
    const auto result = co_await relay->uploadSnapshot(snapshot, std::move(credential));
    if (!self) {
        co_return SyncOutcome::failed;
    }
    if (result.ok()) {
        const Instant now = services_.clock();
        qCInfo(lcSync).noquote() << "uploaded" << qText(snapshot.snapshotId);
        collector.showUploaded(snapshot);
        updateState(*this, state_, [&](UploadState& upload) {
            upload.phase = UploadState::Phase::uploaded;
            upload.detail = qText(snapshot.snapshotId);
            upload.snapshot = std::move(snapshot);
            upload.lastUploadAt = now;
            upload.isSyncing = false;
        });
        services_.autoSync->setStatus(AutoSyncState::Status::active);
        connection.setStatus(ConnectionStatus::connected);
        running_ = false;
        co_return SyncOutcome::uploaded;
    }
    if (fromTools) {
        // The relay did not take it, but it is the newest reading of the tools' files.
        collector.showCollected(snapshot);
    }
    const QString description = failureText(result);
    qCInfo(lcSync).noquote() << "upload failed:" << description;
    updateState(*this, state_, [&](UploadState& upload) {
        upload.phase = UploadState::Phase::failed;
        upload.detail = description;
        upload.isSyncing = false;
    });
    services_.autoSync->setStatus(AutoSyncState::Status::retrying);
    connection.setError(ConnectorError{ConnectorError::Kind::uploadFailed, description});
    running_ = false;
    co_return SyncOutcome::failed;
}

void SnapshotUploader::forget() {
    updateState(*this, state_, [](UploadState& upload) {
        upload.snapshot.reset();
        upload.lastUploadAt.reset();
        upload.phase = UploadState::Phase::never;
        upload.detail.clear();
    });
}

} // namespace korvo
