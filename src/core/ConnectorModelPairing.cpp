// ConnectorModel: creating a pairing code and polling the relay until the phone claimed it.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "core/LogCategories.h"
#include "platform/UserDefaults.h"

#include <QUrlQuery>
#include <qcoro/qcorosignal.h>

namespace korvo {

namespace {

// The pairing secret: the first query item "secret" of the QR payload. Nothing when the payload
// is not a URL, has no such item, or the item has no value (an empty secret can never match).
std::optional<QString> pairingSecretOf(const std::string& qrPayload) {
    const QUrl url(qText(qrPayload), QUrl::StrictMode);
    if (!url.isValid() || !url.hasQuery()) {
        return std::nullopt;
    }
    const QUrlQuery query(url);
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (name == QLatin1String("secret")) {
            if (value.isEmpty()) {
                return std::nullopt;
            }
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

QCoro::Task<PairingCodeOutcome> ConnectorModel::createPairingCode() {
    if (pairing_.isCreatingCode) {
        co_return PairingCodeOutcome{};
    }
    QPointer<ConnectorModel> self(this);
    update(pairing_, &ConnectorModel::pairingChanged,
           [](PairingState& pairing) { pairing.isCreatingCode = true; });
    setError(std::nullopt);

    const std::string deviceId = stdText(connectorDeviceId_);
    const QString deviceName = co_await collector_->deviceName();
    if (!self) {
        co_return PairingCodeOutcome{};
    }
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->createPairingSession(deviceId, stdText(deviceName));
    if (!self) {
        co_return PairingCodeOutcome{};
    }
    PairingCodeOutcome outcome;
    if (result.ok()) {
        outcome.session = result.value();
        update(pairing_, &ConnectorModel::pairingChanged, [&](PairingState& pairing) {
            pairing.session = result.value();
            pairing.secret = pairingSecretOf(result.value().qrPayload);
        });
        qCInfo(lcPairing) << "pairing session created; waiting for the phone";
        setConnectionStatus(ConnectionStatus::waitingForPhone);
        startPairingPoll();
    } else {
        outcome.error =
            ConnectorError{ConnectorError::Kind::pairingSessionFailed, failureText(result)};
        setError(outcome.error);
    }
    update(pairing_, &ConnectorModel::pairingChanged,
           [](PairingState& pairing) { pairing.isCreatingCode = false; });
    co_return outcome;
}

void ConnectorModel::startPairingPoll() {
    pairingPoll_.cancel();
    if (!pairing_.session) {
        return;
    }
    update(pairing_, &ConnectorModel::pairingChanged,
           [](PairingState& pairing) { pairing.isPolling = true; });
    pairingPoll_.launch([&](std::shared_ptr<CancellationFlag> flag) {
        return runPairingPoll(QPointer<ConnectorModel>(this), std::move(flag), *pairing_.session,
                              options_.pairingPollInterval);
    });
}

void ConnectorModel::finishPairing(PairingOutcome outcome) {
    qCInfo(lcPairing) << "pairing ended:"
                      << (outcome == PairingOutcome::paired    ? "paired"
                          : outcome == PairingOutcome::expired ? "code expired"
                          : outcome == PairingOutcome::failed  ? "failed"
                                                               : "cancelled");
    pairingCompleting_ = false;
    pairingOutcome_ = outcome;
    Q_EMIT pairingEnded(outcome);
}

QCoro::Task<PairingOutcome> ConnectorModel::pairingFinished() {
    if (!pairing_.isPolling && !pairingCompleting_) {
        co_return pairingOutcome_.value_or(PairingOutcome::cancelled);
    }
    co_return co_await qCoro(this, &ConnectorModel::pairingEnded);
}

QCoro::Task<> ConnectorModel::runPairingPoll(QPointer<ConnectorModel> model,
                                             std::shared_ptr<CancellationFlag> flag,
                                             PairingSessionResponse session,
                                             std::chrono::milliseconds interval) {
    while (true) {
        if (!model || flag->isCancelled()) {
            co_return;
        }
        if (model->options_.clock() >= session.expiresAt) {
            model->setConnectionStatus(ConnectionStatus::codeExpired);
            model->update(model->pairing_, &ConnectorModel::pairingChanged,
                          [](PairingState& pairing) { pairing.isPolling = false; });
            model->pairingPoll_.clear(flag.get());
            model->finishPairing(PairingOutcome::expired);
            co_return;
        }
        const bool over = co_await model->checkPairingStatus();
        if (over) {
            co_return;
        }
        co_await cancellableSleep(interval, flag);
    }
}

QCoro::Task<bool> ConnectorModel::checkPairingStatus() {
    if (!pairing_.session || !pairing_.secret) {
        co_return false;
    }
    QPointer<ConnectorModel> self(this);
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->pairingStatus(pairing_.session->pairingSessionId,
                                                      stdText(*pairing_.secret));
    if (!self) {
        co_return false;
    }
    if (!result.ok()) {
        qCInfo(lcPairing).noquote() << "pairing status check failed:" << failureText(result);
        setError(ConnectorError{ConnectorError::Kind::pairingStatusFailed, failureText(result)});
        co_return false;
    }
    const PairingStatusResponse& status = result.value();
    if (status.status == "paired" && !status.connectorDeviceToken) {
        // The relay hands the token out in its first paired answer only. A paired answer
        // without one means someone else polled with this code's secret first (or took the
        // answer meant for this machine); the relay has revoked this connector, so the pairing
        // cannot complete.
        qCWarning(lcPairing) << "pairing failed: the relay answered paired without a token";
        pairingPoll_.cancel();
        update(pairing_, &ConnectorModel::pairingChanged,
               [](PairingState& pairing) { pairing.isPolling = false; });
        setConnectionStatus(ConnectionStatus::pairingFailed);
        setError(ConnectorError{ConnectorError::Kind::pairingTokenWithheld, {}});
        finishPairing(PairingOutcome::failed);
        co_return true;
    }
    if (status.status != "paired" || !status.connectorDeviceId || !status.syncSpaceId ||
        !status.connectorDeviceToken) {
        setConnectionStatus(ConnectionStatus::waitingForPhone);
        co_return false;
    }

    const QString syncSpaceId = qText(*status.syncSpaceId);
    update(pairing_, &ConnectorModel::pairingChanged,
           [&](PairingState& pairing) { pairing.syncSpaceId = syncSpaceId; });
    userDefaults_->setString(QLatin1String(kSyncSpaceIdKey), syncSpaceId);

    const std::optional<KeychainError> saveError = co_await saveToken(*status.connectorDeviceToken);
    if (!self) {
        co_return false;
    }
    if (saveError) {
        setError(ConnectorError{ConnectorError::Kind::pairingStatusFailed,
                                qText(saveError->description())});
        co_return false;
    }

    setConnectionStatus(ConnectionStatus::connected);
    // The poll is over; whoever waits for it hears so once the first upload and the device
    // listing are done.
    pairingCompleting_ = true;
    pairingPoll_.cancel();
    update(pairing_, &ConnectorModel::pairingChanged,
           [](PairingState& pairing) { pairing.isPolling = false; });

    co_await syncNow();
    if (!self) {
        co_return true;
    }
    co_await loadDevices();
    if (!self) {
        co_return true;
    }
    startAutoSync();
    if (pairingCompleting_) { // not reset meanwhile
        finishPairing(PairingOutcome::paired);
    }
    co_return true;
}

} // namespace korvo
