// ConnectorModel: relay settings, the device list and unlinking.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "core/LogCategories.h"
#include "platform/UserDefaults.h"

namespace korvo {

bool ConnectorModel::saveRelaySettings() {
    const std::optional<QUrl> url = RelayAddress::normalized(relay_.baseURLString);
    if (!url) {
        update(relay_, &ConnectorModel::relayChanged,
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
    relayClient_->setBaseURL(*url);
    userDefaults_->setString(QLatin1String(kRelayBaseURLKey), text);
    update(relay_, &ConnectorModel::relayChanged, [&](RelayState& relay) {
        relay.baseURLString = text;
        relay.transport = RelayAddress::transportOf(*url);
        relay.health = RelayState::Health::saved;
    });
    return true;
}

QCoro::Task<RelayHealthOutcome> ConnectorModel::checkRelayHealth() {
    if (!saveRelaySettings()) {
        co_return RelayHealthOutcome::invalidURL;
    }
    QPointer<ConnectorModel> self(this);
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->health();
    if (!self) {
        co_return RelayHealthOutcome::unreachable;
    }
    if (!result.ok()) {
        update(relay_, &ConnectorModel::relayChanged, [](RelayState& state) {
            state.health = RelayState::Health::unreachable;
            state.environment.reset();
        });
        qCInfo(lcRelay).noquote() << "relay health check failed:" << failureText(result);
        setError(ConnectorError{ConnectorError::Kind::relayHealthFailed, failureText(result)});
        co_return RelayHealthOutcome::unreachable;
    }
    const HealthResponse& health = result.value();
    const bool ok = health.status == "ok";
    update(relay_, &ConnectorModel::relayChanged, [&](RelayState& state) {
        state.health = ok ? RelayState::Health::reachable : RelayState::Health::otherStatus;
        state.healthWord = ok ? QString() : qText(health.status);
        state.environment = qText(health.environment);
    });
    co_return ok ? RelayHealthOutcome::reachable : RelayHealthOutcome::answered;
}

QCoro::Task<DeviceListOutcome> ConnectorModel::loadDevices() {
    QPointer<ConnectorModel> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return DeviceListOutcome::notPaired;
    }
    if (!pairing_.syncSpaceId || !token) {
        update(relay_, &ConnectorModel::relayChanged, [](RelayState& relay) {
            relay.devices.clear();
            relay.deviceList = RelayState::DeviceList::notPaired;
        });
        co_return DeviceListOutcome::notPaired;
    }
    update(relay_, &ConnectorModel::relayChanged,
           [](RelayState& relay) { relay.deviceListError.reset(); });
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->listDevices(stdText(*pairing_.syncSpaceId), *token);
    if (!self) {
        co_return DeviceListOutcome::failed;
    }
    if (result.ok()) {
        update(relay_, &ConnectorModel::relayChanged, [&](RelayState& state) {
            state.devices = result.value().devices;
            state.deviceList = RelayState::DeviceList::loaded;
        });
        co_return DeviceListOutcome::loaded;
    }
    const QString description = failureText(result);
    qCInfo(lcRelay).noquote() << "device list failed:" << description;
    update(relay_, &ConnectorModel::relayChanged, [&](RelayState& state) {
        state.deviceList = RelayState::DeviceList::failed;
        state.deviceListError = description;
    });
    setError(ConnectorError{ConnectorError::Kind::deviceListFailed, description});
    co_return DeviceListOutcome::failed;
}

QCoro::Task<UnlinkOutcome> ConnectorModel::unlinkDevice() {
    QPointer<ConnectorModel> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return UnlinkOutcome::failed;
    }
    // Without a token in this backend, one that another backend kept from a run that chose it
    // may still work on the relay: that one revokes this device. The removal in resetPairing()
    // clears every backend.
    std::vector<std::string> tokens;
    if (token) {
        tokens.push_back(*token);
    } else if (pairing_.syncSpaceId) {
        tokens = co_await readOtherTokens();
        if (!self) {
            co_return UnlinkOutcome::failed;
        }
    }
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the requests
    for (const std::string& each : tokens) {
        if (!pairing_.syncSpaceId) {
            break;
        }
        const auto result = co_await relay->deleteDevice(stdText(*pairing_.syncSpaceId),
                                                         stdText(connectorDeviceId_), each);
        if (!self) {
            co_return UnlinkOutcome::failed;
        }
        // A left-over token the relay refuses (4xx) does not work there.
        const RelayClientError* refused = result.ok() ? nullptr : result.error().clientError();
        const bool leftOverRefused =
            !token && refused && refused->statusCode >= 400 && refused->statusCode < 500;
        if (!result.ok() && !leftOverRefused) {
            qCInfo(lcRelay).noquote() << "unlink failed:" << failureText(result);
            setError(ConnectorError{ConnectorError::Kind::unlinkFailed, failureText(result)});
            co_return UnlinkOutcome::failed;
        }
    }
    resetPairing();
    co_return UnlinkOutcome::unlinked;
}

void ConnectorModel::resetPairing() {
    const bool pairingRan = pairing_.isPolling || pairingCompleting_;
    update(pairing_, &ConnectorModel::pairingChanged, [](PairingState& pairing) {
        pairing.syncSpaceId.reset();
        pairing.session.reset();
        pairing.secret.reset();
        pairing.isPolling = false;
    });
    update(upload_, &ConnectorModel::uploadChanged, [](UploadState& upload) {
        upload.snapshot.reset();
        upload.lastUploadAt.reset();
        upload.phase = UploadState::Phase::never;
        upload.detail.clear();
    });
    collector_->forgetCollection();
    update(relay_, &ConnectorModel::relayChanged, [](RelayState& relay) {
        relay.devices.clear();
        relay.deviceList = RelayState::DeviceList::notLoaded;
        relay.deviceListError.reset();
    });
    setConnectionStatus(ConnectionStatus::notPaired);

    stopAutoSync();
    pairingPoll_.cancel();
    userDefaults_->remove(QLatin1String(kSyncSpaceIdKey));
    // The token is forgotten now; the keychain item goes on the keychain thread.
    tokenPresent_ = false;
    QCoro::Task<> removal = removeToken();
    Q_UNUSED(removal);
    if (pairingRan) {
        finishPairing(PairingOutcome::cancelled);
    }
}

} // namespace korvo
