// ConnectorModel: construction, published state, pairing state and the start-up refresh.
#include "core/ConnectorModel.h"

#include "core/ConnectorModelText.h"
#include "core/ConnectorStatusText.h"
#include "platform/HostInfo.h"
#include "platform/LoginItem.h"
#include "platform/PlatformServices.h"
#include "platform/PowerEvents.h"
#include "platform/UserDefaults.h"
#include "relay/FileKeychain.h"
#include "sources/io/ExecutableSearchPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <qcoro/qcorofuture.h>

namespace korvo {

// The keychain store, used only on the keychain thread. The backend is chosen there on first
// use, because finding out whether the system's keychain answers can take a round trip.
class ConnectorModel::KeychainWorker {
public:
    KeychainWorker(std::string service, std::shared_ptr<KeychainBackend> backend,
                   std::vector<std::shared_ptr<KeychainBackend>> others)
        : service_(std::move(service)), backend_(std::move(backend)), others_(std::move(others)) {}

    const KeychainStore& store() {
        if (!store_) {
            if (!backend_) {
                backend_ = PlatformServices::keychainBackend();
                // A run without the system keychain kept the token in the per-user file.
                if (others_.empty() && !dynamic_cast<FileKeychain*>(backend_.get())) {
                    others_.push_back(std::make_shared<FileKeychain>(FileKeychain::defaultPath()));
                }
            }
            store_.emplace(service_, backend_, others_);
        }
        return *store_;
    }

private:
    std::string service_;
    std::shared_ptr<KeychainBackend> backend_;
    std::vector<std::shared_ptr<KeychainBackend>> others_;
    std::optional<KeychainStore> store_;
};

namespace {

// A device id as this program writes it, or as another build may have: letters, digits, "_",
// "-" and ".", at most 128 characters. Anything else (empty, spaces, "/", control characters)
// would not survive a URL path and is replaced.
bool isUsableDeviceId(const QString& id) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,128}$"));
    return pattern.match(id).hasMatch();
}

// The failure of a keychain save, whether the store reports it as an optional error or as a
// result without a value.
template <class SaveOutcome> std::optional<KeychainError> saveFailure(const SaveOutcome& outcome) {
    if constexpr (std::is_same_v<SaveOutcome, std::optional<KeychainError>>) {
        return outcome;
    } else {
        return outcome.ok() ? std::nullopt : std::optional<KeychainError>(outcome.error());
    }
}

} // namespace

ConnectorModel::ConnectorModel(ConnectorModelOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    // 1. The state starts with its initial values (member initialisers).
    keychainPool_.setMaxThreadCount(1);
    keychainPool_.setExpiryTimeout(-1);

    if (options_.home.empty()) {
        options_.home = QDir::homePath().toStdString();
    }
    userDefaults_ =
        options_.userDefaults ? options_.userDefaults : PlatformServices::userDefaults();
    std::shared_ptr<LoginItem> loginItem =
        options_.loginItem ? options_.loginItem
                           : PlatformServices::loginItem(QCoreApplication::applicationFilePath());
    std::shared_ptr<HostInfo> hostInfo =
        options_.hostInfo ? options_.hostInfo : PlatformServices::hostInfo();

    // 2. The relay client, on the default base URL and the shared HTTP session.
    network_ = options_.network ? options_.network : new QNetworkAccessManager(this);
    relayClient_ =
        std::make_shared<RelayClient>(network_, options_.defaultRelayURL, options_.relayTimeout);

    // 3. Keychain, mock adapter and the two adapter lists. Nothing is probed here.
    keychain_ = std::make_shared<KeychainWorker>(options_.keychainService, options_.keychainBackend,
                                                 options_.otherKeychainBackends);
    mockAdapter_ = makeMockAdapter(options_.clock);
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

    // 4. No tasks yet.

    // 5. The relay URL as the user saved it, untrimmed, else the default.
    relay_.baseURLString = userDefaults_->string(QLatin1String(kRelayBaseURLKey))
                               .value_or(options_.defaultRelayURL.toString());
    relay_.transport = relayTransportOf(relay_.baseURLString);

    // 6. The device id, generated once and kept.
    const std::optional<QString> storedId =
        userDefaults_->string(QLatin1String(kConnectorDeviceIdKey));
    if (storedId && isUsableDeviceId(*storedId)) {
        connectorDeviceId_ = *storedId;
    } else {
        connectorDeviceId_ = QStringLiteral("mac_") + QString::fromStdString(randomHex(12));
        userDefaults_->setString(QLatin1String(kConnectorDeviceIdKey), connectorDeviceId_);
    }

    // 7. A saved URL that normalises replaces the client's default.
    if (const std::optional<QUrl> url = RelayAddress::normalized(relay_.baseURLString)) {
        relayClient_->setBaseURL(*url);
    }

    // The concerns with state of their own, each announcing its changes through the model.
    collector_ =
        std::make_unique<SourceCollector>(*options_.realAdapters, *options_.sourceAdapters,
                                          std::move(hostInfo), options_.clock, connectorDeviceId_);
    autoSync_ = std::make_unique<AutoSync>(
        AutoSync::Hooks{[this] { return isPaired(); }, [this] { return syncCycle(); },
                        [this] { return refreshAfterWake(); }},
        options_.clock, options_.syncInterval, options_.wakeDelay);
    launchAtLogin_ = std::make_unique<LaunchAtLogin>(std::move(loginItem));
    updateChecker_ = std::make_unique<UpdateChecker>(
        UpdateChecker::Settings{options_.manifestURL, options_.downloadPageURL,
                                options_.manifestTimeout, options_.buildInfo, options_.clock,
                                options_.urlOpener,
                                [relay = relayClient_] { return relay->baseURL(); }},
        network_);
    forward(collector_.get(), &ConnectorModel::sourcesChanged);
    forward(autoSync_.get(), &ConnectorModel::autoSyncChanged);
    forward(launchAtLogin_.get(), &ConnectorModel::launchAtLoginChanged);
    forward(updateChecker_.get(), &ConnectorModel::updatesChanged);

    if (options_.powerEvents) {
        connect(options_.powerEvents, &PowerEvents::willSleep, this, &ConnectorModel::handleSleep);
        connect(options_.powerEvents, &PowerEvents::didWake, this, &ConnectorModel::handleWake);
    }
}

ConnectorModel::~ConnectorModel() {
    // The tasks hold their owners through QPointer; ending their pauses lets them notice that
    // the model is gone on a later turn of the event loop.
    pairingPoll_.cancel();
    autoSync_.reset();
    keychainPool_.waitForDone();
}

bool ConnectorModel::isPaired() const {
    return pairing_.syncSpaceId.has_value() && tokenPresent_;
}

const std::optional<UsageSnapshot>& ConnectorModel::displaySnapshot() const {
    return upload_.snapshot ? upload_.snapshot : collect().localSnapshot;
}

QString ConnectorModel::statusMessage() const {
    return connectionStatusText(connectionStatus_);
}
std::optional<QString> ConnectorModel::errorMessage() const {
    return error_ ? std::optional<QString>(errorText(*error_)) : std::nullopt;
}
QString ConnectorModel::relayURLText() const {
    return RelayAddress::printable(relay_.baseURLString);
}
std::optional<QString> ConnectorModel::relayURLWarning() const {
    return relayTransportWarningText(relay_);
}
QString ConnectorModel::relayHealthStatus() const {
    return relayHealthText(relay_);
}
QString ConnectorModel::relayEnvironment() const {
    return relayEnvironmentText(relay_);
}
QString ConnectorModel::lastUploadStatus() const {
    return uploadStatusText(upload_);
}
QString ConnectorModel::lastUploadError() const {
    return uploadErrorText(upload_);
}
QString ConnectorModel::deviceListStatus() const {
    return deviceListStatusText(relay_);
}
QString ConnectorModel::lastDeviceListError() const {
    return deviceListErrorText(relay_);
}
QString ConnectorModel::sourceDiagnosticStatus() const {
    return sourceDiagnosticStatusText(sources());
}
QString ConnectorModel::autoSyncStatus() const {
    return autoSyncStatusText(autoSync().status);
}
QString ConnectorModel::launchAtLoginStatus() const {
    return loginItemStatusText(launchAtLogin());
}
QString ConnectorModel::lastCollectStatus() const {
    return collectStatusText(collect());
}
QString ConnectorModel::lastParserError() const {
    return parserErrorText(collect().parserError);
}
QString ConnectorModel::powerStatus() const {
    return powerStatusText(autoSync());
}
QString ConnectorModel::updateStatus() const {
    return updateStatusText(updates());
}

void ConnectorModel::setConnectionStatus(ConnectionStatus status) {
    if (connectionStatus_ == status) {
        return;
    }
    connectionStatus_ = status;
    Q_EMIT connectionChanged();
    Q_EMIT stateChanged();
}

void ConnectorModel::setError(std::optional<ConnectorError> error) {
    if (error_ == error) {
        return;
    }
    error_ = std::move(error);
    Q_EMIT connectionChanged();
    Q_EMIT stateChanged();
}

QCoro::Task<std::optional<std::string>> ConnectorModel::readToken() {
    QPointer<ConnectorModel> self(this);
    auto keychain = keychain_;
    // The future is a named local: temporaries inside a co_await expression are not safe
    // with every compiler.
    auto future = runInPool(keychainPool_, [keychain] {
        return keychain->store().read(KeychainStore::kDeviceTokenAccount);
    });
    const std::optional<std::string> token = co_await future;
    if (self) {
        tokenPresent_ = token.has_value();
    }
    co_return token;
}

QCoro::Task<std::optional<std::string>> ConnectorModel::readTokenOfSyncSpace() {
    if (!pairing_.syncSpaceId) {
        co_return std::nullopt;
    }
    co_return co_await readToken();
}

QCoro::Task<std::optional<KeychainError>> ConnectorModel::saveToken(std::string token) {
    QPointer<ConnectorModel> self(this);
    auto keychain = keychain_;
    auto future = runInPool(keychainPool_, [keychain, token = std::move(token)] {
        return saveFailure(keychain->store().save(token, KeychainStore::kDeviceTokenAccount));
    });
    const std::optional<KeychainError> error = co_await future;
    if (self) {
        // A failed save leaves the account empty.
        tokenPresent_ = !error.has_value();
    }
    co_return error;
}

QCoro::Task<std::vector<std::string>> ConnectorModel::readOtherTokens() {
    auto keychain = keychain_;
    auto future = runInPool(keychainPool_, [keychain] {
        return keychain->store().readOthers(KeychainStore::kDeviceTokenAccount);
    });
    co_return co_await future;
}

QCoro::Task<> ConnectorModel::removeToken() {
    QPointer<ConnectorModel> self(this);
    auto keychain = keychain_;
    auto future = runInPool(keychainPool_, [keychain] {
        keychain->store().remove(KeychainStore::kDeviceTokenAccount);
    });
    co_await future;
    if (self) {
        tokenPresent_ = false;
    }
}

QCoro::Task<bool> ConnectorModel::refreshPairedState() {
    QPointer<ConnectorModel> self(this);
    // Without a sync space no token can make this connector paired: the keychain (and with it
    // the system keychain's libraries and service) is left untouched.
    if (pairing_.syncSpaceId) {
        co_await readToken();
    }
    co_return self&& isPaired();
}

QCoro::Task<bool> ConnectorModel::loadPairingState() {
    QPointer<ConnectorModel> self(this);
    update(pairing_, &ConnectorModel::pairingChanged, [&](PairingState& pairing) {
        pairing.syncSpaceId = userDefaults_->string(QLatin1String(kSyncSpaceIdKey));
    });
    const bool paired = co_await refreshPairedState();
    if (!self) {
        co_return false;
    }
    setConnectionStatus(paired ? ConnectionStatus::connected : ConnectionStatus::notPaired);
    co_return paired;
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
    co_await checkForUpdates(true);
    if (!self) {
        co_return;
    }
    if (isPaired()) {
        startAutoSync();
    }
}

void ConnectorModel::setRelayBaseURLString(const QString& text) {
    update(relay_, &ConnectorModel::relayChanged, [&](RelayState& relay) {
        relay.baseURLString = text;
        relay.transport = relayTransportOf(text);
    });
}

void ConnectorModel::refreshLaunchAtLoginStatus() {
    launchAtLogin_->refresh();
}

void ConnectorModel::setLaunchAtLogin(bool enabled) {
    if (std::optional<ConnectorError> failure = launchAtLogin_->set(enabled)) {
        setError(std::move(failure));
    }
}

QCoro::Task<UpdateCheckOutcome> ConnectorModel::checkForUpdates(bool silent) {
    return updateChecker_->check(silent);
}

void ConnectorModel::openDownloadPage() {
    updateChecker_->openDownloadPage();
}

QCoro::Task<> ConnectorModel::refreshLocalLimits() {
    return collector_->refreshLocalLimits(pairing_.syncSpaceId ? stdText(*pairing_.syncSpaceId)
                                                               : "local_display");
}

QCoro::Task<> ConnectorModel::refreshSourceDiagnostics() {
    return collector_->refreshDiagnostics();
}

void ConnectorModel::startAutoSync() {
    autoSync_->start();
}

void ConnectorModel::stopAutoSync() {
    autoSync_->stop();
}

void ConnectorModel::handleSleep() {
    autoSync_->sleep();
    if (isPaired()) {
        setConnectionStatus(ConnectionStatus::sleeping);
    }
}

void ConnectorModel::handleWake() {
    // Pauses that ran on while the machine slept are over now; let them see it.
    autoSync_->wake();
    pairingPoll_.recheckClock();
    if (!isPaired()) {
        return;
    }
    setConnectionStatus(ConnectionStatus::woke);
    autoSync_->resumeAfterWake();
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
    if (!self) {
        co_return;
    }
    co_await checkForUpdates(true);
}

} // namespace korvo
