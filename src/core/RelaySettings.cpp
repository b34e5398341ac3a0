#include "core/RelaySettings.h"

#include "core/Connection.h"
#include "core/ConnectorModelText.h"
#include "core/DeviceToken.h"
#include "core/LogCategories.h"
#include "core/Pairing.h"
#include "core/StateUpdate.h"
#include "platform/UserDefaults.h"
#include "relayclient/RelayClient.h"

#include <QPointer>

namespace korvo {

RelaySettings::RelaySettings(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    // The URL as the user saved it, untrimmed.
    state_.baseURLString = services_.userDefaults->string(QLatin1String(kRelayBaseURLKey))
                               .value_or(services_.defaultURL);
    state_.transport = relayTransportOf(state_.baseURLString);
    if (const std::optional<QUrl> url = RelayAddress::normalized(state_.baseURLString)) {
        services_.relay.client->setBaseURL(*url);
    }
}

void RelaySettings::setBaseURLString(const QString& text) {
    updateState(*this, state_, [&](RelayState& relay) {
        relay.baseURLString = text;
        relay.transport = relayTransportOf(text);
    });
}

bool RelaySettings::save() {
    const std::optional<QUrl> url = RelayAddress::normalized(state_.baseURLString);
    if (!url) {
        updateState(*this, state_,
                    [](RelayState& relay) { relay.health = RelayState::Health::invalidURL; });
        return false;
    }
    QString text = url->toString(QUrl::FullyEncoded);
    while (text.startsWith(u'/')) {
        text.remove(0, 1);
    }
    while (text.endsWith(u'/')) {
        text.chop(1);
    }
    services_.relay.client->setBaseURL(*url);
    services_.userDefaults->setString(QLatin1String(kRelayBaseURLKey), text);
    updateState(*this, state_, [&](RelayState& relay) {
        relay.baseURLString = text;
        relay.transport = RelayAddress::transportOf(*url);
        relay.health = RelayState::Health::saved;
    });
    return true;
}

QCoro::Task<RelayHealthOutcome> RelaySettings::checkHealth() {
    if (!save()) {
        co_return RelayHealthOutcome::invalidURL;
    }
    QPointer<RelaySettings> self(this);
    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the request
    const auto result = co_await relay->health();
    if (!self) {
        co_return RelayHealthOutcome::unreachable;
    }
    if (!result.ok()) {
        updateState(*this, state_, [](RelayState& state) {
            state.health = RelayState::Health::unreachable;
            state.environment.reset();
        });
        qCInfo(lcRelay).noquote() << "relay health check failed:" << failureText(result);
        services_.relay.connection->setError(
            ConnectorError{ConnectorError::Kind::relayHealthFailed, failureText(result)});
        co_return RelayHealthOutcome::unreachable;
    }
    const HealthResponse& health = result.value();
    const bool ok = health.status == "ok";
    updateState(*this, state_, [&](RelayState& state) {
        state.health = ok ? RelayState::Health::reachable : RelayState::Health::otherStatus;
        state.healthWord = ok ? QString() : qText(health.status);
        state.environment = qText(health.environment);
    });
    co_return ok ? RelayHealthOutcome::reachable : RelayHealthOutcome::answered;
}

QCoro::Task<std::optional<std::string>> RelaySettings::readTokenOfSyncSpace() {
    if (!services_.pairing->state().syncSpaceId) {
        co_return std::nullopt;
    }
    co_return co_await services_.relay.token->read();
}

QCoro::Task<DeviceListOutcome> RelaySettings::loadDevices() {
    QPointer<RelaySettings> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return DeviceListOutcome::notPaired;
    }
    const std::optional<QString>& syncSpaceId = services_.pairing->state().syncSpaceId;
    if (!syncSpaceId || !token) {
        updateState(*this, state_, [](RelayState& relay) {
            relay.devices.clear();
            relay.deviceList = RelayState::DeviceList::notPaired;
        });
        co_return DeviceListOutcome::notPaired;
    }
    updateState(*this, state_, [](RelayState& relay) { relay.deviceListError.reset(); });
    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the request
    // Named arguments: a temporary in a co_await operand does not survive the suspension with
    // every compiler.
    std::string space = stdText(*syncSpaceId);
    RelayCredential credential{*token, services_.pairing->state().relayOrigin.value_or(QString())};
    const auto result = co_await relay->listDevices(std::move(space), std::move(credential));
    if (!self) {
        co_return DeviceListOutcome::failed;
    }
    if (result.ok()) {
        updateState(*this, state_, [&](RelayState& state) {
            state.devices = result.value().devices;
            state.deviceList = RelayState::DeviceList::loaded;
        });
        co_return DeviceListOutcome::loaded;
    }
    const QString description = failureText(result);
    qCInfo(lcRelay).noquote() << "device list failed:" << description;
    updateState(*this, state_, [&](RelayState& state) {
        state.deviceList = RelayState::DeviceList::failed;
        state.deviceListError = description;
    });
    services_.relay.connection->setError(
        ConnectorError{ConnectorError::Kind::deviceListFailed, description});
    co_return DeviceListOutcome::failed;
}

QCoro::Task<UnlinkOutcome> RelaySettings::unlink() {
    QPointer<RelaySettings> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return UnlinkOutcome::failed;
    }
    const std::optional<QString>& syncSpaceId = services_.pairing->state().syncSpaceId;
    // Without a token in this backend, one that another backend kept from a run that chose it
    // may still work on the relay: that one revokes this device. Forgetting the pairing
    // afterwards clears every backend.
    std::vector<std::string> tokens;
    if (token) {
        tokens.push_back(*token);
    } else if (syncSpaceId) {
        tokens = co_await services_.relay.token->readOthers();
        if (!self) {
            co_return UnlinkOutcome::failed;
        }
    }
    const std::shared_ptr<RelayClient> relay = services_.relay.client; // outlives the requests
    const QString origin = services_.pairing->state().relayOrigin.value_or(QString());
    for (const std::string& each : tokens) {
        if (!syncSpaceId) {
            break;
        }
        std::string space = stdText(*syncSpaceId);
        std::string deviceId = stdText(services_.relay.connectorDeviceId);
        RelayCredential credential{each, origin};
        const auto result = co_await relay->deleteDevice(std::move(space), std::move(deviceId),
                                                         std::move(credential));
        if (!self) {
            co_return UnlinkOutcome::failed;
        }
        // A left-over token the relay refuses (4xx) does not work there.
        const RelayClientError* refused = result.ok() ? nullptr : result.error().clientError();
        const bool leftOverRefused =
            !token && refused && refused->statusCode >= 400 && refused->statusCode < 500;
        if (!result.ok() && !leftOverRefused) {
            qCInfo(lcRelay).noquote() << "unlink failed:" << failureText(result);
            services_.relay.connection->setError(
                ConnectorError{ConnectorError::Kind::unlinkFailed, failureText(result)});
            co_return UnlinkOutcome::failed;
        }
    }
    co_return UnlinkOutcome::unlinked;
}

void RelaySettings::forgetDevices() {
    updateState(*this, state_, [](RelayState& relay) {
        relay.devices.clear();
        relay.deviceList = RelayState::DeviceList::notLoaded;
        relay.deviceListError.reset();
    });
}

} // namespace korvo
