// ConnectorModel: builds the concerns and wires them to each other, and the operations that
// involve more than one of them (the start-up refresh, forgetting a pairing, sleep and wake).
#include "core/ConnectorModel.h"

#include "core/ConnectorModelText.h"
#include "core/ConnectorStatusText.h"
#include "core/LogCategories.h"
#include "core/UsageHistory.h"
#include "model/DeviceIdentity.h"
#include "model/SnapshotJson.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/Pasteboard.h"
#include "platform/PlatformServices.h"
#include "platform/PowerEvents.h"
#include "platform/UserDefaults.h"
#include "sources/adapters/MockAdapter.h"
#include "sources/io/ExecutableSearchPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <qcoro/qcorosignal.h>

namespace korvo {

namespace {

// The device id, generated once and kept.
QString connectorDeviceIdOf(UserDefaults& userDefaults) {
    const QLatin1String key(ConnectorModel::kConnectorDeviceIdKey);
    const std::optional<QString> storedId = userDefaults.string(key);
    if (storedId && isUsableDeviceId(stdText(*storedId))) {
        return *storedId;
    }
    const QString id = QStringLiteral("mac_") + QString::fromStdString(randomHex(12));
    userDefaults.setString(key, id);
    return id;
}

} // namespace

ConnectorModel::ConnectorModel(ConnectorModelOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      // The relay client, on the default base URL and the shared HTTP session.
      network_(options_.network ? options_.network : new QNetworkAccessManager(this)),
      relayClient_(
          std::make_shared<RelayClient>(network_, options_.defaultRelayURL, options_.relayTimeout)),
      supportBundle_({options_.buildInfo, options_.clock, options_.locale, options_.timeZone}),
      token_(options_.keychainService, options_.keychainBackend, options_.otherKeychainBackends),
      launchAtLogin_(options_.loginItem
                         ? options_.loginItem
                         : PlatformServices::loginItem(QCoreApplication::applicationFilePath())),
      updateChecker_(UpdateChecker::Settings{options_.manifestURL, options_.downloadPageURL,
                                             options_.manifestTimeout, options_.buildInfo,
                                             options_.clock, options_.urlOpener,
                                             [relay = relayClient_] { return relay->baseURL(); }},
                     network_),
      autoSync_(AutoSync::Hooks{[this] { return hasSyncSpace(); }, [this] { return syncCycle(); },
                                [this] { return refreshAfterWake(); }},
                options_.clock, options_.syncInterval, options_.wakeDelay) {
    if (options_.home.empty()) {
        options_.home = QDir::homePath().toStdString();
    }
    std::shared_ptr<UserDefaults> userDefaults =
        options_.userDefaults ? options_.userDefaults : PlatformServices::userDefaults();
    std::shared_ptr<HostInfo> hostInfo =
        options_.hostInfo ? options_.hostInfo : PlatformServices::hostInfo();

    // The two adapter lists. Nothing is probed here.
    if (!options_.realAdapters || !options_.sourceAdapters) {
        const std::vector<std::filesystem::path> searchPaths =
            defaultExecutableSearchPaths(options_.environment);
        if (!options_.realAdapters) {
            options_.realAdapters = korvo::realAdapters(options_.home, searchPaths, options_.clock,
                                                        options_.environment);
        }
        if (!options_.sourceAdapters) {
            options_.sourceAdapters = korvo::sourceAdapters(options_.home, searchPaths,
                                                            options_.clock, options_.environment);
        }
    }
    connectorDeviceId_ = connectorDeviceIdOf(*userDefaults);

    const std::filesystem::path historyFile =
        options_.historyFile ? *options_.historyFile : UsageHistory::defaultFile();
    collector_ = std::make_unique<SourceCollector>(
        *options_.realAdapters, *options_.sourceAdapters, std::move(hostInfo), options_.clock,
        connectorDeviceId_,
        historyFile.empty() ? nullptr : std::make_shared<UsageHistory>(historyFile));
    const RelayAccess relay{relayClient_, &token_, &connection_, connectorDeviceId_};
    pairing_ = std::make_unique<Pairing>(
        Pairing::Services{relay, userDefaults, collector_.get(), options_.clock,
                          options_.pairingPollInterval, [this] { return completePairing(); }});
    relaySettings_ = std::make_unique<RelaySettings>(RelaySettings::Services{
        pairing_.get(), relay, userDefaults, options_.defaultRelayURL.toString()});
    // Before the relay URL can change: a pairing stored without its relay came from this one.
    pairing_->upgradeStoredOrigin();
    uploader_ = std::make_unique<SnapshotUploader>(
        SnapshotUploader::Services{relay, makeMockAdapter(options_.clock), pairing_.get(),
                                   collector_.get(), &autoSync_, options_.clock});

    forward(&connection_, &ConnectorModel::connectionChanged);
    forward(pairing_.get(), &ConnectorModel::pairingChanged);
    forward(uploader_.get(), &ConnectorModel::uploadChanged);
    forward(collector_.get(), &ConnectorModel::sourcesChanged);
    forward(&autoSync_, &ConnectorModel::autoSyncChanged);
    forward(relaySettings_.get(), &ConnectorModel::relayChanged);
    forward(&launchAtLogin_, &ConnectorModel::launchAtLoginChanged);
    forward(&updateChecker_, &ConnectorModel::updatesChanged);
    connect(pairing_.get(), &Pairing::ended, this, &ConnectorModel::pairingEnded);

    if (options_.powerEvents) {
        connect(options_.powerEvents, &PowerEvents::willSleep, this, &ConnectorModel::handleSleep);
        connect(options_.powerEvents, &PowerEvents::didWake, this, &ConnectorModel::handleWake);
    }
}

// The tasks hold their owners through QPointer; the concerns' task slots end their pauses as
// they go, so the tasks notice on a later turn of the event loop that their owner is gone. The
// keychain thread is waited for after every concern that uses it is gone.
ConnectorModel::~ConnectorModel() = default;

bool ConnectorModel::hasSyncSpace() const {
    return pairing_->state().syncSpaceId.has_value();
}

bool ConnectorModel::isPaired() const {
    return hasSyncSpace() && token_.isPresent();
}

const std::optional<UsageSnapshot>& ConnectorModel::displaySnapshot() const {
    const std::optional<UsageSnapshot>& uploaded = uploader_->state().snapshot;
    const std::optional<UsageSnapshot>& local = collector_->collect().localSnapshot;
    if (!uploaded) {
        return local;
    }
    if (!local) {
        return uploaded;
    }
    // An upload also becomes the local snapshot, so equal dates mean the same reading or one
    // collected after it within the clock's resolution: newest wins.
    return local->updatedAt >= uploaded->updatedAt ? local : uploaded;
}

bool ConnectorModel::displayIsNotUploaded() const {
    const std::optional<UsageSnapshot>& shown = displaySnapshot();
    if (!hasSyncSpace() || !shown || shown->providers.empty()) {
        return false;
    }
    const std::optional<UsageSnapshot>& uploaded = uploader_->state().snapshot;
    return !uploaded || shown->providers != uploaded->providers;
}

QCoro::Task<bool> ConnectorModel::refreshPairedState() {
    QPointer<ConnectorModel> self(this);
    // Without a sync space no token can make this connector paired: the keychain (and with it
    // the system keychain's libraries and service) is left untouched.
    if (hasSyncSpace()) {
        co_await token_.read();
    }
    co_return self&& isPaired();
}

QCoro::Task<bool> ConnectorModel::loadPairingState() {
    QPointer<ConnectorModel> self(this);
    pairing_->loadSyncSpace();
    followRelayChange(); // the URL may have been edited in the settings file
    const bool paired = co_await refreshPairedState();
    if (!self) {
        co_return false;
    }
    // "Relay changed; pair again" stays until a new pairing.
    const bool relayChanged = connection_.status() == ConnectionStatus::relayChanged;
    connection_.setStatus(paired         ? ConnectionStatus::connected
                          : relayChanged ? ConnectionStatus::relayChanged
                                         : ConnectionStatus::notPaired);
    co_return paired;
}

bool ConnectorModel::saveRelaySettings() {
    const QUrl previous = relayClient_->baseURL();
    if (!relaySettings_->save()) {
        return false;
    }
    followRelayChange(previous);
    return true;
}

QCoro::Task<RelayHealthOutcome> ConnectorModel::checkRelayHealth() {
    saveRelaySettings();
    return relaySettings_->checkHealth(); // saves again: the same URL, nothing changes
}

bool ConnectorModel::followRelayChange(const QUrl& previous) {
    pairing_->loadSyncSpace();
    const QString current = RelayAddress::origin(relayClient_->baseURL());
    const PairingState& state = pairing_->state();
    const bool pairedElsewhere =
        state.syncSpaceId && state.relayOrigin.value_or(QString()) != current;
    const bool codeElsewhere = state.session && pairing_->sessionOrigin() != current;
    if (!pairedElsewhere && !codeElsewhere) {
        return false;
    }
    if (pairedElsewhere) {
        // The token is taken from the keychain before the pairing is forgotten below.
        const QString origin = state.relayOrigin.value_or(QString());
        const QUrl old =
            !origin.isEmpty() && RelayAddress::origin(previous) == origin ? previous : QUrl(origin);
        ++farewells_;
        QCoro::Task<> farewell =
            leaveRelay(QPointer<ConnectorModel>(this), token_.take(),
                       std::make_shared<RelayClient>(network_, old, options_.relayTimeout),
                       stdText(*state.syncSpaceId), stdText(connectorDeviceId_), origin);
        Q_UNUSED(farewell);
    }
    qCInfo(lcRelay) << "the relay URL changed; the pairing with the previous relay is forgotten";
    resetPairing();
    connection_.setStatus(ConnectionStatus::relayChanged);
    return true;
}

QCoro::Task<> ConnectorModel::leaveRelay(QPointer<ConnectorModel> self,
                                         QCoro::Task<std::vector<std::string>> tokens,
                                         std::shared_ptr<RelayClient> old, std::string syncSpaceId,
                                         std::string deviceId, QString origin) {
    const std::vector<std::string> taken = co_await std::move(tokens);
    for (const std::string& token : taken) {
        if (!self) { // the network access manager may have gone with the model
            co_return;
        }
        // A named credential: a temporary in a co_await operand does not survive the suspension
        // with every compiler.
        RelayCredential credential{token, origin};
        const auto result =
            co_await old->deleteDevice(syncSpaceId, deviceId, std::move(credential));
        if (result.ok()) {
            break;
        }
        qCInfo(lcRelay).noquote() << "unlink from the previous relay failed:"
                                  << failureText(result);
    }
    if (self) {
        --self->farewells_;
        Q_EMIT self->relayLeft();
    }
}

QCoro::Task<> ConnectorModel::relayChangeFinished() {
    QPointer<ConnectorModel> self(this);
    while (self && farewells_ > 0) {
        co_await qCoro(this, &ConnectorModel::relayLeft);
    }
}

QCoro::Task<> ConnectorModel::start() {
    QPointer<ConnectorModel> self(this);
    co_await loadPairingState();
    if (!self) {
        co_return;
    }
    refreshLaunchAtLoginStatus();
    co_await refreshSourceDiagnostics();
    if (!self) {
        co_return;
    }
    co_await refreshLocalLimits();
    if (!self) {
        co_return;
    }
    if (options_.checksForUpdates) {
        co_await checkForUpdates(true);
        if (!self) {
            co_return;
        }
    }
    if (hasSyncSpace()) {
        startAutoSync();
    }
}

QCoro::Task<> ConnectorModel::refreshLocalLimits() {
    const std::optional<QString>& syncSpaceId = pairing_->state().syncSpaceId;
    return collector_->refreshLocalLimits(syncSpaceId ? stdText(*syncSpaceId)
                                                      : std::string(kLocalDisplaySyncSpace));
}

QCoro::Task<> ConnectorModel::completePairing() {
    QPointer<ConnectorModel> self(this);
    co_await syncNow();
    if (!self) {
        co_return;
    }
    co_await loadDevices();
    if (self) {
        startAutoSync();
    }
}

void ConnectorModel::handleSleep() {
    autoSync_.sleep();
    if (isPaired()) {
        connection_.setStatus(ConnectionStatus::sleeping);
    }
}

void ConnectorModel::handleWake() {
    // Pauses that ran on while the machine slept are over now; let them see it.
    autoSync_.wake();
    pairing_->recheckClock();
    if (!hasSyncSpace()) {
        return;
    }
    if (isPaired()) {
        connection_.setStatus(ConnectionStatus::woke);
    }
    autoSync_.resumeAfterWake();
}

QCoro::Task<> ConnectorModel::syncCycle() {
    co_await syncNow();
}

QCoro::Task<> ConnectorModel::refreshAfterWake() {
    QPointer<ConnectorModel> self(this);
    co_await refreshSourceDiagnostics();
    if (!self) {
        co_return;
    }
    co_await syncNow();
    if (!self) {
        co_return;
    }
    co_await loadDevices();
    if (self && options_.checksForUpdates) {
        co_await checkForUpdates(true);
    }
}

QCoro::Task<UnlinkOutcome> ConnectorModel::unlinkDevice() {
    QPointer<ConnectorModel> self(this);
    const UnlinkOutcome outcome = co_await relaySettings_->unlink();
    if (self && outcome == UnlinkOutcome::unlinked) {
        resetPairing();
    }
    co_return outcome;
}

void ConnectorModel::resetPairing() {
    const bool pairingRan = pairing_->reset();
    uploader_->forget();
    collector_->forgetCollection();
    relaySettings_->forgetDevices();
    // "Relay changed; pair again" stays until a new pairing.
    if (connection_.status() != ConnectionStatus::relayChanged) {
        connection_.setStatus(ConnectionStatus::notPaired);
    }
    stopAutoSync();
    token_.forget();
    if (pairingRan) {
        pairing_->finish(PairingOutcome::cancelled);
    }
}

void ConnectorModel::setLaunchAtLogin(bool enabled) {
    if (std::optional<ConnectorError> failure = launchAtLogin_.set(enabled)) {
        connection_.setError(std::move(failure));
    }
}

SupportBundle::State ConnectorModel::supportBundleState() const {
    const RelayState& relay = relaySettings_->state();
    const AutoSyncState& autoSync = autoSync_.state();
    const UpdateState& updates = updateChecker_.state();
    const CollectState& collect = collector_->collect();
    const UploadState& upload = uploader_->state();
    return {connectionStatusText(connection_.status()),
            RelayAddress::printable(relay.baseURLString),
            relayHealthText(relay),
            relayEnvironmentText(relay),
            isPaired(),
            pairing_->state().syncSpaceId,
            connectorDeviceId_,
            autoSyncStatusText(autoSync.status),
            powerStatusText(autoSync),
            autoSync.lastSleepAt,
            autoSync.lastWakeAt,
            loginItemStatusText(launchAtLogin_.state()),
            updateStatusText(updates),
            updates.lastCheckAt,
            collect.lastSuccessfulCollectAt,
            collectStatusText(collect),
            parserErrorText(collect.parserError),
            uploadStatusText(upload),
            upload.lastUploadAt,
            uploadErrorText(upload),
            deviceListStatusText(relay),
            deviceListErrorText(relay),
            displaySnapshot(),
            collector_->diagnostics(),
            relay.devices};
}

void ConnectorModel::copySupportBundle() {
    if (options_.pasteboard) {
        options_.pasteboard->setText(supportBundleText());
    }
}

std::optional<QString> ConnectorModel::latestSnapshotJSON() const {
    const std::optional<UsageSnapshot>& snapshot = displaySnapshot();
    if (!snapshot) {
        return std::nullopt;
    }
    const auto encoded = encodeSnapshot(*snapshot);
    if (!encoded.ok()) {
        return std::nullopt;
    }
    return qText(encoded.value());
}

QCoro::Task<std::optional<QString>> ConnectorModel::demoSnapshotJSON() {
    const QString deviceName = co_await collector_->deviceName();
    const std::optional<QString>& syncSpaceId = pairing_->state().syncSpaceId;
    const UsageSnapshot demo =
        makeMockAdapter(options_.clock)
            ->makeDemoSnapshot(
                syncSpaceId ? stdText(*syncSpaceId) : std::string(kLocalDisplaySyncSpace),
                stdText(connectorDeviceId_), stdText(deviceName), platformDeviceKind());
    const auto encoded = encodeSnapshot(demo);
    co_return encoded.ok() ? std::optional(qText(encoded.value())) : std::nullopt;
}

void ConnectorModel::copyLatestSnapshotJSON() {
    if (!options_.pasteboard) {
        return;
    }
    if (const std::optional<QString> json = latestSnapshotJSON()) {
        options_.pasteboard->setText(*json);
    }
}

} // namespace korvo
