// ConnectorModel: relay settings, the device list, unlinking and Open at Login.
#include "core/ConnectorModel.h"
#include "core/ConnectorModelText.h"
#include "platform/LoginItem.h"
#include "platform/UserDefaults.h"

namespace korvo {

void ConnectorModel::saveRelaySettings() {
    const std::optional<QUrl> url = normalizedRelayURL(relayBaseURLString_);
    if (!url) {
        set(relayHealthStatus_, QStringLiteral("Invalid URL"),
            &ConnectorModel::relayHealthStatusChanged);
        return;
    }
    QString text = url->toString(QUrl::FullyEncoded);
    while (text.startsWith(u'/')) {
        text.remove(0, 1);
    }
    while (text.endsWith(u'/')) {
        text.chop(1);
    }
    set(relayBaseURLString_, text, &ConnectorModel::relayBaseURLStringChanged);
    relayClient_->setBaseURL(*url);
    userDefaults_->setString(QLatin1String(kRelayBaseURLKey), text);
    set(relayHealthStatus_, QStringLiteral("Saved"), &ConnectorModel::relayHealthStatusChanged);
}

QCoro::Task<> ConnectorModel::checkRelayHealth() {
    saveRelaySettings();
    if (relayHealthStatus_ == QLatin1String("Invalid URL")) {
        co_return;
    }
    QPointer<ConnectorModel> self(this);
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->health();
    if (!self) {
        co_return;
    }
    if (result.ok()) {
        const HealthResponse& health = result.value();
        set(relayHealthStatus_,
            health.status == "ok" ? QStringLiteral("Reachable") : qText(health.status),
            &ConnectorModel::relayHealthStatusChanged);
        set(relayEnvironment_, qText(health.environment).value_or(QStringLiteral("Unknown")),
            &ConnectorModel::relayEnvironmentChanged);
    } else {
        set(relayHealthStatus_, QStringLiteral("Unreachable"),
            &ConnectorModel::relayHealthStatusChanged);
        set(relayEnvironment_, QStringLiteral("Unknown"), &ConnectorModel::relayEnvironmentChanged);
        set(errorMessage_, QStringLiteral("Relay health check failed: ") + failureText(result),
            &ConnectorModel::errorMessageChanged);
    }
}

QCoro::Task<> ConnectorModel::loadDevices() {
    QPointer<ConnectorModel> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return;
    }
    if (!syncSpaceId_ || !token) {
        set(relayDevices_, {}, &ConnectorModel::relayDevicesChanged);
        set(deviceListStatus_, QStringLiteral("Not paired"),
            &ConnectorModel::deviceListStatusChanged);
        co_return;
    }
    set(lastDeviceListError_, QStringLiteral("None"), &ConnectorModel::lastDeviceListErrorChanged);
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result = co_await relay->listDevices(stdText(*syncSpaceId_), *token);
    if (!self) {
        co_return;
    }
    if (result.ok()) {
        std::vector<RelayDevice> devices = result.value().devices;
        const QString status = devices.empty()
                                   ? QStringLiteral("No devices")
                                   : QString::number(devices.size()) + QStringLiteral(" devices");
        set(relayDevices_, std::move(devices), &ConnectorModel::relayDevicesChanged);
        set(deviceListStatus_, status, &ConnectorModel::deviceListStatusChanged);
    } else {
        const QString description = failureText(result);
        set(deviceListStatus_, QStringLiteral("Unable to load devices"),
            &ConnectorModel::deviceListStatusChanged);
        set(lastDeviceListError_, description, &ConnectorModel::lastDeviceListErrorChanged);
        set(errorMessage_, QStringLiteral("Unable to load devices from Relay: ") + description,
            &ConnectorModel::errorMessageChanged);
    }
}

QCoro::Task<> ConnectorModel::unlinkDevice() {
    QPointer<ConnectorModel> self(this);
    const std::optional<std::string> token = co_await readTokenOfSyncSpace();
    if (!self) {
        co_return;
    }
    if (!syncSpaceId_ || !token) {
        resetPairing();
        co_return;
    }
    const std::shared_ptr<RelayClient> relay = relayClient_; // outlives the request
    const auto result =
        co_await relay->deleteDevice(stdText(*syncSpaceId_), stdText(connectorDeviceId_), *token);
    if (!self) {
        co_return;
    }
    if (result.ok()) {
        resetPairing();
    } else {
        set(errorMessage_, QStringLiteral("Unable to unlink this Mac from Relay."),
            &ConnectorModel::errorMessageChanged);
    }
}

void ConnectorModel::resetPairing() {
    set(syncSpaceId_, std::nullopt, &ConnectorModel::syncSpaceIdChanged);
    set(pairingSession_, std::nullopt, &ConnectorModel::pairingSessionChanged);
    set(pairingSecret_, std::nullopt, &ConnectorModel::pairingSecretChanged);
    set(latestSnapshot_, std::nullopt, &ConnectorModel::latestSnapshotChanged);
    set(lastSyncAt_, std::nullopt, &ConnectorModel::lastSyncAtChanged);
    set(lastUploadAt_, std::nullopt, &ConnectorModel::lastUploadAtChanged);
    set(lastSuccessfulCollectAt_, std::nullopt, &ConnectorModel::lastSuccessfulCollectAtChanged);

    set(lastUploadStatus_, QStringLiteral("Never"), &ConnectorModel::lastUploadStatusChanged);
    set(lastUploadError_, QStringLiteral("None"), &ConnectorModel::lastUploadErrorChanged);
    set(relayDevices_, {}, &ConnectorModel::relayDevicesChanged);
    set(deviceListStatus_, QStringLiteral("Not loaded"), &ConnectorModel::deviceListStatusChanged);
    set(lastDeviceListError_, QStringLiteral("None"), &ConnectorModel::lastDeviceListErrorChanged);
    set(lastCollectStatus_, QStringLiteral("Not collected"),
        &ConnectorModel::lastCollectStatusChanged);
    set(lastParserError_, QStringLiteral("None"), &ConnectorModel::lastParserErrorChanged);
    set(statusMessage_, QStringLiteral("Not paired"), &ConnectorModel::statusMessageChanged);
    set(isPollingForPairing_, false, &ConnectorModel::isPollingForPairingChanged);

    stopAutoSync();
    cancelTask(pairingPollTask_);
    userDefaults_->remove(QLatin1String(kSyncSpaceIdKey));
    // The token is forgotten now; the keychain item goes on the keychain thread.
    tokenPresent_ = false;
    QCoro::Task<> removal = removeToken();
    Q_UNUSED(removal);
}

void ConnectorModel::refreshLaunchAtLoginStatus() {
    bool enabled = false;
    QString status;
    switch (loginItem_->status()) {
    case LoginItem::Status::NotRegistered:
        status = QStringLiteral("Off");
        break;
    case LoginItem::Status::Enabled:
        enabled = true;
        status = QStringLiteral("On");
        break;
    case LoginItem::Status::RequiresApproval:
        status = QStringLiteral("Needs approval in System Settings");
        break;
    case LoginItem::Status::NotFound:
        status = QStringLiteral("Unavailable");
        break;
    default:
        status = QStringLiteral("Unknown");
        break;
    }
    set(launchAtLoginEnabled_, enabled, &ConnectorModel::launchAtLoginEnabledChanged);
    set(launchAtLoginStatus_, status, &ConnectorModel::launchAtLoginStatusChanged);
}

void ConnectorModel::setLaunchAtLogin(bool enabled) {
    const LoginItem::Status current = loginItem_->status();
    if ((enabled && current == LoginItem::Status::Enabled) ||
        (!enabled &&
         (current == LoginItem::Status::NotRegistered || current == LoginItem::Status::NotFound))) {
        refreshLaunchAtLoginStatus();
        return;
    }
    const std::optional<QString> failure =
        enabled ? loginItem_->registerItem() : loginItem_->unregisterItem();
    refreshLaunchAtLoginStatus();
    if (failure) {
        set(launchAtLoginStatus_, QStringLiteral("Failed: ") + *failure,
            &ConnectorModel::launchAtLoginStatusChanged);
        set(errorMessage_, QStringLiteral("Unable to update Open at Login: ") + *failure,
            &ConnectorModel::errorMessageChanged);
    }
}

} // namespace korvo
