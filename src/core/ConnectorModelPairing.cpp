// ConnectorModel: creating a pairing code and polling the relay until the phone claimed it.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "platform/UserDefaults.h"

#include <QUrlQuery>

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

QCoro::Task<> ConnectorModel::createPairingCode() {
    if (isPairing_) {
        co_return;
    }
    QPointer<ConnectorModel> self(this);
    set(isPairing_, true, &ConnectorModel::isPairingChanged);
    set(errorMessage_, std::nullopt, &ConnectorModel::errorMessageChanged);

    const std::string deviceId = stdText(connectorDeviceId_);
    const QString deviceName = co_await lookUpDeviceName();
    if (!self) {
        co_return;
    }
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->createPairingSession(deviceId, stdText(deviceName));
    if (!self) {
        co_return;
    }
    if (result.ok()) {
        const PairingSessionResponse& session = result.value();
        set(pairingSession_, session, &ConnectorModel::pairingSessionChanged);
        set(pairingSecret_, pairingSecretOf(session.qrPayload),
            &ConnectorModel::pairingSecretChanged);
        set(statusMessage_, QStringLiteral("Waiting for iPhone"),
            &ConnectorModel::statusMessageChanged);
        startPairingPoll();
    } else {
        set(errorMessage_,
            QStringLiteral("Unable to create pairing session: ") + failureText(result),
            &ConnectorModel::errorMessageChanged);
    }
    set(isPairing_, false, &ConnectorModel::isPairingChanged);
}

void ConnectorModel::startPairingPoll() {
    cancelTask(pairingPollTask_);
    if (!pairingSession_) {
        return;
    }
    set(isPollingForPairing_, true, &ConnectorModel::isPollingForPairingChanged);
    launch(pairingPollTask_, [&](std::shared_ptr<CancellationFlag> flag) {
        return runPairingPoll(QPointer<ConnectorModel>(this), std::move(flag), *pairingSession_,
                              options_.pairingPollInterval);
    });
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
            model->set(model->statusMessage_, QStringLiteral("Pairing code expired"),
                       &ConnectorModel::statusMessageChanged);
            model->set(model->isPollingForPairing_, false,
                       &ConnectorModel::isPollingForPairingChanged);
            clearTask(model->pairingPollTask_, flag.get());
            co_return;
        }
        const bool paired = co_await model->checkPairingStatus();
        if (paired) {
            co_return;
        }
        co_await cancellableSleep(interval, flag);
    }
}

QCoro::Task<bool> ConnectorModel::checkPairingStatus() {
    if (!pairingSession_ || !pairingSecret_) {
        co_return false;
    }
    QPointer<ConnectorModel> self(this);
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result =
        co_await relay->pairingStatus(pairingSession_->pairingSessionId, stdText(*pairingSecret_));
    if (!self) {
        co_return false;
    }
    if (!result.ok()) {
        set(errorMessage_, QStringLiteral("Unable to check pairing status: ") + failureText(result),
            &ConnectorModel::errorMessageChanged);
        co_return false;
    }
    const PairingStatusResponse& status = result.value();
    if (status.status != "paired" || !status.connectorDeviceId || !status.syncSpaceId ||
        !status.connectorDeviceToken) {
        set(statusMessage_, QStringLiteral("Waiting for iPhone"),
            &ConnectorModel::statusMessageChanged);
        co_return false;
    }

    const QString syncSpaceId = qText(*status.syncSpaceId);
    set(syncSpaceId_, syncSpaceId, &ConnectorModel::syncSpaceIdChanged);
    userDefaults_->setString(QLatin1String(kSyncSpaceIdKey), syncSpaceId);

    const std::optional<KeychainError> saveError = co_await saveToken(*status.connectorDeviceToken);
    if (!self) {
        co_return false;
    }
    if (saveError) {
        set(errorMessage_,
            QStringLiteral("Unable to check pairing status: ") + qText(saveError->description()),
            &ConnectorModel::errorMessageChanged);
        co_return false;
    }

    set(statusMessage_, QStringLiteral("Connected to iPhone"),
        &ConnectorModel::statusMessageChanged);
    cancelTask(pairingPollTask_);
    set(isPollingForPairing_, false, &ConnectorModel::isPollingForPairingChanged);

    co_await syncNow();
    if (!self) {
        co_return true;
    }
    co_await loadDevices();
    if (!self) {
        co_return true;
    }
    startAutoSync();
    co_return true;
}

} // namespace korvo
