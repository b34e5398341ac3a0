#include "core/Pairing.h"

#include "core/Connection.h"
#include "core/ConnectorModelText.h"
#include "core/DeviceToken.h"
#include "core/LogCategories.h"
#include "core/SourceCollector.h"
#include "core/StateUpdate.h"
#include "platform/UserDefaults.h"
#include "relayclient/RelayClient.h"

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

Pairing::Pairing(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {}

void Pairing::setPolling(bool polling) {
    updateState(*this, state_, [polling](PairingState& pairing) { pairing.isPolling = polling; });
}

void Pairing::upgradeStoredOrigin() {
    UserDefaults& settings = *services_.userDefaults;
    if (settings.string(QLatin1String(kSyncSpaceIdKey)) &&
        !settings.string(QLatin1String(kRelayOriginKey))) {
        const QString origin = RelayAddress::origin(services_.relay.client->baseURL());
        if (!origin.isEmpty()) {
            settings.setString(QLatin1String(kRelayOriginKey), origin);
        }
    }
}

void Pairing::loadSyncSpace() {
    upgradeStoredOrigin();
    updateState(*this, state_, [&](PairingState& pairing) {
        pairing.syncSpaceId = services_.userDefaults->string(QLatin1String(kSyncSpaceIdKey));
        pairing.relayOrigin = pairing.syncSpaceId
                                  ? services_.userDefaults->string(QLatin1String(kRelayOriginKey))
                                  : std::nullopt;
    });
}

QCoro::Task<PairingCodeOutcome> Pairing::createCode() {
    if (state_.isCreatingCode) {
        co_return PairingCodeOutcome{};
    }
    QPointer<Pairing> self(this);
    updateState(*this, state_, [](PairingState& pairing) { pairing.isCreatingCode = true; });
    services_.relay.connection->setError(std::nullopt);

    const std::string deviceId = stdText(services_.relay.connectorDeviceId);
    const QString deviceName = co_await services_.collector->deviceName();
    if (!self) {
        co_return PairingCodeOutcome{};
    }
    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the request
    const QString origin = RelayAddress::origin(relay->baseURL());
    const auto result = co_await relay->createPairingSession(deviceId, stdText(deviceName));
    if (!self) {
        co_return PairingCodeOutcome{};
    }
    PairingCodeOutcome outcome;
    if (result.ok()) {
        outcome.session = result.value();
        sessionOrigin_ = origin;
        updateState(*this, state_, [&](PairingState& pairing) {
            pairing.session = result.value();
            pairing.secret = pairingSecretOf(result.value().qrPayload);
        });
        qCInfo(lcPairing) << "pairing session created; waiting for the phone";
        services_.relay.connection->setStatus(ConnectionStatus::waitingForPhone);
        startPoll();
    } else {
        outcome.error =
            ConnectorError{ConnectorError::Kind::pairingSessionFailed, failureText(result)};
        services_.relay.connection->setError(outcome.error);
    }
    updateState(*this, state_, [](PairingState& pairing) { pairing.isCreatingCode = false; });
    co_return outcome;
}

void Pairing::startPoll() {
    poll_.cancel();
    if (!state_.session) {
        return;
    }
    setPolling(true);
    poll_.launch([&](std::shared_ptr<CancellationFlag> flag) {
        return runPoll(QPointer<Pairing>(this), std::move(flag), *state_.session,
                       services_.pollInterval);
    });
}

void Pairing::finish(PairingOutcome outcome) {
    qCInfo(lcPairing) << "pairing ended:"
                      << (outcome == PairingOutcome::paired    ? "paired"
                          : outcome == PairingOutcome::expired ? "code expired"
                          : outcome == PairingOutcome::failed  ? "failed"
                                                               : "cancelled");
    completing_ = false;
    outcome_ = outcome;
    Q_EMIT ended(outcome);
}

QCoro::Task<PairingOutcome> Pairing::finished() {
    if (!state_.isPolling && !completing_) {
        co_return outcome_.value_or(PairingOutcome::cancelled);
    }
    co_return co_await qCoro(this, &Pairing::ended);
}

QCoro::Task<> Pairing::runPoll(QPointer<Pairing> self, std::shared_ptr<CancellationFlag> flag,
                               PairingSessionResponse session, std::chrono::milliseconds interval) {
    while (true) {
        if (!self || flag->isCancelled()) {
            co_return;
        }
        if (self->services_.clock() >= session.expiresAt) {
            self->services_.relay.connection->setStatus(ConnectionStatus::codeExpired);
            self->setPolling(false);
            self->poll_.clear(flag.get());
            self->finish(PairingOutcome::expired);
            co_return;
        }
        const bool over = co_await self->checkStatus();
        if (over) {
            co_return;
        }
        co_await cancellableSleep(interval, flag);
    }
}

QCoro::Task<bool> Pairing::checkStatus() {
    if (!state_.session || !state_.secret) {
        co_return false;
    }
    QPointer<Pairing> self(this);
    Connection& connection = *services_.relay.connection;
    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the request
    const QString origin = sessionOrigin_; // the secret's and the token's relay
    // Named arguments: a temporary in a co_await operand does not survive the suspension with
    // every compiler.
    std::string sessionId = state_.session->pairingSessionId;
    RelayCredential secret{stdText(*state_.secret), origin};
    const auto result = co_await relay->pairingStatus(std::move(sessionId), std::move(secret));
    // The pairing may have been reset meanwhile (the relay changed): its answer counts no more.
    if (!self || !state_.session || sessionOrigin_ != origin) {
        co_return false;
    }
    if (!result.ok()) {
        qCInfo(lcPairing).noquote() << "pairing status check failed:" << failureText(result);
        connection.setError(
            ConnectorError{ConnectorError::Kind::pairingStatusFailed, failureText(result)});
        co_return false;
    }
    const PairingStatusResponse& status = result.value();
    if (status.status == "paired" && !status.connectorDeviceToken) {
        // The relay hands the token out in its first paired answer only. A paired answer
        // without one means someone else polled with this code's secret first (or took the
        // answer meant for this machine); the relay has revoked this connector, so the pairing
        // cannot complete.
        qCWarning(lcPairing) << "pairing failed: the relay answered paired without a token";
        poll_.cancel();
        setPolling(false);
        connection.setStatus(ConnectionStatus::pairingFailed);
        connection.setError(ConnectorError{ConnectorError::Kind::pairingTokenWithheld, {}});
        finish(PairingOutcome::failed);
        co_return true;
    }
    if (status.status != "paired" || !status.connectorDeviceId || !status.syncSpaceId ||
        !status.connectorDeviceToken) {
        connection.setStatus(ConnectionStatus::waitingForPhone);
        co_return false;
    }

    const QString syncSpaceId = qText(*status.syncSpaceId);
    updateState(*this, state_, [&](PairingState& pairing) {
        pairing.syncSpaceId = syncSpaceId;
        pairing.relayOrigin = origin;
    });
    services_.userDefaults->setString(QLatin1String(kRelayOriginKey), origin);
    services_.userDefaults->setString(QLatin1String(kSyncSpaceIdKey), syncSpaceId);

    const std::optional<KeychainError> saveError =
        co_await services_.relay.token->save(*status.connectorDeviceToken);
    if (!self) {
        co_return false;
    }
    if (saveError) {
        connection.setError(ConnectorError{ConnectorError::Kind::pairingStatusFailed,
                                           qText(saveError->description())});
        co_return false;
    }

    connection.setStatus(ConnectionStatus::connected);
    // The poll is over; whoever waits for it hears so once the first upload and the device
    // listing are done.
    completing_ = true;
    poll_.cancel();
    setPolling(false);

    co_await services_.completePairing();
    if (self && completing_) { // not reset meanwhile
        finish(PairingOutcome::paired);
    }
    co_return true;
}

bool Pairing::reset() {
    const bool pairingRan = state_.isPolling || completing_;
    sessionOrigin_.clear();
    updateState(*this, state_, [](PairingState& pairing) {
        pairing.syncSpaceId.reset();
        pairing.relayOrigin.reset();
        pairing.session.reset();
        pairing.secret.reset();
        pairing.isPolling = false;
    });
    poll_.cancel();
    services_.userDefaults->remove(QLatin1String(kSyncSpaceIdKey));
    services_.userDefaults->remove(QLatin1String(kRelayOriginKey));
    return pairingRan;
}

} // namespace korvo
