#include "core/ConnectorStatusText.h"

#include <algorithm>

namespace korvo {

namespace {

// The text shown for an absent error.
QString orNone(const std::optional<QString>& text) {
    return text.value_or(QStringLiteral("None"));
}

} // namespace

QString connectionStatusText(ConnectionStatus status) {
    switch (status) {
    case ConnectionStatus::notPaired:
        return QStringLiteral("Not paired");
    case ConnectionStatus::connected:
        return QStringLiteral("Connected to iPhone");
    case ConnectionStatus::waitingForPhone:
        return QStringLiteral("Waiting for iPhone");
    case ConnectionStatus::codeExpired:
        return QStringLiteral("Pairing code expired");
    case ConnectionStatus::sleeping:
        return QStringLiteral("Mac sleeping");
    case ConnectionStatus::woke:
        return QStringLiteral("Woke; syncing");
    case ConnectionStatus::pairingFailed:
        return QStringLiteral("Pairing failed");
    case ConnectionStatus::relayChanged:
        return QStringLiteral("Relay changed; pair again");
    }
    return {};
}

QString errorText(const ConnectorError& error) {
    using Kind = ConnectorError::Kind;
    switch (error.kind) {
    case Kind::pairFirst:
        return QStringLiteral("Pair with iPhone before uploading snapshots.");
    case Kind::uploadFailed:
        return QStringLiteral("Snapshot upload failed: ") + error.description;
    case Kind::pairingSessionFailed:
        return QStringLiteral("Unable to create pairing session: ") + error.description;
    case Kind::pairingStatusFailed:
        return QStringLiteral("Unable to check pairing status: ") + error.description;
    case Kind::pairingTokenWithheld:
        return QStringLiteral(
            "Pairing failed: the pairing code was used from a second place, so the relay "
            "withdrew this Mac's access. Create a new code and scan it only with your iPhone.");
    case Kind::relayHealthFailed:
        return QStringLiteral("Relay health check failed: ") + error.description;
    case Kind::deviceListFailed:
        return QStringLiteral("Unable to load devices from Relay: ") + error.description;
    case Kind::unlinkFailed:
        return QStringLiteral("Unable to unlink this Mac from Relay.");
    case Kind::loginItemFailed:
        return QStringLiteral("Unable to update Open at Login: ") + error.description;
    }
    return {};
}

std::optional<QString> errorText(const std::optional<ConnectorError>& error) {
    return error ? std::optional<QString>(errorText(*error)) : std::nullopt;
}

QString uploadStatusText(const UploadState& upload) {
    switch (upload.phase) {
    case UploadState::Phase::never:
        return QStringLiteral("Never");
    case UploadState::Phase::uploading:
        return QStringLiteral("Uploading");
    case UploadState::Phase::uploaded:
        return QStringLiteral("Uploaded ") + upload.detail;
    case UploadState::Phase::failed:
        return QStringLiteral("Failed");
    }
    return {};
}

QString uploadErrorText(const UploadState& upload) {
    return upload.phase == UploadState::Phase::failed ? upload.detail : QStringLiteral("None");
}

QString collectStatusText(const CollectState& collect) {
    switch (collect.phase) {
    case CollectState::Phase::notCollected:
        return QStringLiteral("Not collected");
    case CollectState::Phase::collecting:
        return QStringLiteral("Collecting");
    case CollectState::Phase::collected:
        return QString::number(collect.rowCount) + QStringLiteral(" provider rows");
    case CollectState::Phase::demoFallback:
        return QStringLiteral("No real providers; using demo fallback");
    }
    return {};
}

QString parserErrorText(const std::optional<ParserError>& error) {
    if (!error) {
        return QStringLiteral("None");
    }
    return error->adapterName + QStringLiteral(": ") + error->description;
}

QString sourceDiagnosticStatusText(const SourceDiagnosticsState& sources) {
    switch (sources.phase) {
    case SourceDiagnosticsState::Phase::notChecked:
        return QStringLiteral("Not checked");
    case SourceDiagnosticsState::Phase::checking:
        return QStringLiteral("Checking");
    case SourceDiagnosticsState::Phase::checked:
        break;
    }
    const auto count = [&](bool AdapterDiagnostic::*flag) {
        return QString::number(
            std::count_if(sources.diagnostics.begin(), sources.diagnostics.end(),
                          [flag](const AdapterDiagnostic& d) { return d.*flag; }));
    };
    return count(&AdapterDiagnostic::isAvailable) + QStringLiteral(" detected · ") +
           count(&AdapterDiagnostic::canUploadProvider) + QStringLiteral(" usage · ") +
           count(&AdapterDiagnostic::limitDataFound) + QStringLiteral(" quota");
}

QString autoSyncStatusText(AutoSyncState::Status status) {
    switch (status) {
    case AutoSyncState::Status::paused:
        return QStringLiteral("Paused");
    case AutoSyncState::Status::active:
        return QStringLiteral("Active");
    case AutoSyncState::Status::retrying:
        return QStringLiteral("Retrying");
    case AutoSyncState::Status::sleeping:
        return QStringLiteral("Mac sleeping");
    }
    return {};
}

QString powerStatusText(const AutoSyncState& autoSync) {
    return autoSync.asleep ? QStringLiteral("Sleeping") : QStringLiteral("Awake");
}

QString relayHealthText(const RelayState& relay) {
    switch (relay.health) {
    case RelayState::Health::notChecked:
        return QStringLiteral("Not checked");
    case RelayState::Health::invalidURL:
        return QStringLiteral("Invalid URL");
    case RelayState::Health::saved:
        return QStringLiteral("Saved");
    case RelayState::Health::reachable:
        return QStringLiteral("Reachable");
    case RelayState::Health::otherStatus:
        return relay.healthWord;
    case RelayState::Health::unreachable:
        return QStringLiteral("Unreachable");
    }
    return {};
}

std::optional<QString> relayTransportWarningText(const RelayState& relay) {
    if (relay.transport != RelayAddress::Transport::plainHttp) {
        return std::nullopt;
    }
    return QStringLiteral("Plain HTTP: the device token and snapshots travel unencrypted to "
                          "this relay. Use an https:// URL.");
}

QString relayEnvironmentText(const RelayState& relay) {
    return relay.environment.value_or(QStringLiteral("Unknown"));
}

QString deviceListStatusText(const RelayState& relay) {
    switch (relay.deviceList) {
    case RelayState::DeviceList::notLoaded:
        return QStringLiteral("Not loaded");
    case RelayState::DeviceList::notPaired:
        return QStringLiteral("Not paired");
    case RelayState::DeviceList::loaded:
        return relay.devices.empty()
                   ? QStringLiteral("No devices")
                   : QString::number(relay.devices.size()) + QStringLiteral(" devices");
    case RelayState::DeviceList::failed:
        return QStringLiteral("Unable to load devices");
    }
    return {};
}

QString deviceListErrorText(const RelayState& relay) {
    return orNone(relay.deviceListError);
}

QString loginItemStatusText(const LoginItemState& loginItem) {
    switch (loginItem.status) {
    case LoginItemState::Status::notChecked:
        return QStringLiteral("Not checked");
    case LoginItemState::Status::off:
        return QStringLiteral("Off");
    case LoginItemState::Status::on:
        return QStringLiteral("On");
    case LoginItemState::Status::needsApproval:
        return QStringLiteral("Needs approval in System Settings");
    case LoginItemState::Status::unavailable:
        return QStringLiteral("Unavailable");
    case LoginItemState::Status::unknown:
        return QStringLiteral("Unknown");
    case LoginItemState::Status::failed:
        return QStringLiteral("Failed: ") + loginItem.failure;
    }
    return {};
}

QString updateStatusText(const UpdateState& updates) {
    const QString versionAndBuild = updates.version + QStringLiteral(" (") + updates.build + u')';
    switch (updates.phase) {
    case UpdateState::Phase::notChecked:
        return QStringLiteral("Not checked");
    case UpdateState::Phase::checking:
        return QStringLiteral("Checking");
    case UpdateState::Phase::upToDate:
        return QStringLiteral("Up to date: ") + versionAndBuild;
    case UpdateState::Phase::available:
        return QStringLiteral("Update available: ") + versionAndBuild;
    case UpdateState::Phase::failed:
        return updates.failure.isEmpty()
                   ? QStringLiteral("Unable to check updates")
                   : QStringLiteral("Unable to check updates: ") + updates.failure;
    }
    return {};
}

} // namespace korvo
