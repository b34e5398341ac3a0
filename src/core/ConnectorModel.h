#pragma once

#include "core/TaskSupport.h"
#include "core/UpdateManifest.h"
#include "model/Clock.h"
#include "model/UsageSnapshot.h"
#include "platform/BuildInfo.h"
#include "relay/KeychainStore.h"
#include "relay/RelayClient.h"
#include "sources/AdapterDiagnostic.h"
#include "sources/Environment.h"
#include "sources/MockAdapter.h"
#include "sources/SourceRegistry.h"
#include "sources/UsageAdapter.h"

#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QTimeZone>
#include <QUrl>
#include <chrono>
#include <concepts>
#include <filesystem>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <vector>

class QNetworkAccessManager;

namespace korvo {

class HostInfo;
class LoginItem;
class Pasteboard;
class PowerEvents;
class UrlOpener;
class UserDefaults;

// Everything the model is built from. main() passes the real services; tests pass their own.
// Members left empty get the platform's real service.
struct ConnectorModelOptions {
    // Home directory whose tool files the adapters read. Empty: the user's home.
    std::filesystem::path home;
    // Where the three persistent strings live. Empty: the application's QSettings.
    std::shared_ptr<UserDefaults> userDefaults;
    // Where the device token lives. Empty: the Secret Service, else the per-user file (chosen
    // on first use, off the GUI thread).
    std::shared_ptr<KeychainBackend> keychainBackend;
    std::string keychainService = KeychainStore::kDefaultService;
    // The process-wide HTTP session. Empty: the model owns one.
    QNetworkAccessManager* network = nullptr;

    QUrl defaultRelayURL = QUrl(QStringLiteral("https://relay.korvo.app"));
    QUrl manifestURL = QUrl(QStringLiteral("https://korvo.app/download/linux/manifest.json"));
    QUrl downloadPageURL = QUrl(QStringLiteral("https://korvo.app/download/linux/"));

    Clock clock = systemClock();
    Environment environment = processEnvironment();
    BuildInfo buildInfo = BuildInfo::current();
    // Dates of the support bundle are written for this locale and time zone.
    QLocale locale = QLocale::system();
    QTimeZone timeZone = QTimeZone::systemTimeZone();

    // Product constants; only tests shorten them.
    std::chrono::milliseconds syncInterval{30000};
    std::chrono::milliseconds wakeDelay{2000};
    std::chrono::milliseconds pairingPollInterval{2000};
    std::chrono::milliseconds manifestTimeout{12000};

    std::shared_ptr<LoginItem> loginItem;   // empty: the XDG autostart entry
    std::shared_ptr<HostInfo> hostInfo;     // empty: the system's host name
    std::shared_ptr<Pasteboard> pasteboard; // empty: copying does nothing
    std::shared_ptr<UrlOpener> urlOpener;   // empty: opening does nothing
    // Sleep and wake announcements; the model follows them. Not owned; may be null.
    PowerEvents* powerEvents = nullptr;

    // The adapters asked for rows and for diagnostics. Empty: the source registry's lists.
    std::optional<AdapterList> realAdapters;
    std::optional<AdapterList> sourceAdapters;
};

// The connector's single source of truth: every status the window and the command line show,
// and the operations they call. Lives on the GUI thread; every field change emits its change
// signal and stateChanged(). Operations never fail towards the caller: outcomes land in the
// status fields. File work of the adapters and keychain calls run on worker threads.
class ConnectorModel final : public QObject {
    Q_OBJECT
public:
    explicit ConnectorModel(ConnectorModelOptions options, QObject* parent = nullptr);
    ~ConnectorModel() override;

    ConnectorModel(const ConnectorModel&) = delete;
    ConnectorModel& operator=(const ConnectorModel&) = delete;

    static constexpr const char* kRelayBaseURLKey = "relayBaseURL";
    static constexpr const char* kConnectorDeviceIdKey = "connectorDeviceId";
    static constexpr const char* kSyncSpaceIdKey = "syncSpaceId";

    // Relay URL normalisation: trimmed; "http://" put in front when there is no "://"; must
    // parse with a scheme and a host. Nothing otherwise.
    static std::optional<QUrl> normalizedRelayURL(const QString& text);

    // Published fields.
    const std::optional<QString>& syncSpaceId() const { return syncSpaceId_; }
    const QString& connectorDeviceId() const { return connectorDeviceId_; }
    const std::optional<PairingSessionResponse>& pairingSession() const { return pairingSession_; }
    const std::optional<QString>& pairingSecret() const { return pairingSecret_; }
    const std::optional<UsageSnapshot>& latestSnapshot() const { return latestSnapshot_; }
    const std::optional<UsageSnapshot>& localLimitSnapshot() const { return localLimitSnapshot_; }
    const std::optional<Instant>& lastSyncAt() const { return lastSyncAt_; }
    const QString& statusMessage() const { return statusMessage_; }
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    bool isPairing() const { return isPairing_; }
    bool isSyncing() const { return isSyncing_; }
    bool isPollingForPairing() const { return isPollingForPairing_; }
    const QString& relayBaseURLString() const { return relayBaseURLString_; }
    const QString& relayHealthStatus() const { return relayHealthStatus_; }
    const QString& relayEnvironment() const { return relayEnvironment_; }
    const QString& lastUploadStatus() const { return lastUploadStatus_; }
    const std::optional<Instant>& lastUploadAt() const { return lastUploadAt_; }
    const QString& lastUploadError() const { return lastUploadError_; }
    const std::vector<RelayDevice>& relayDevices() const { return relayDevices_; }
    const QString& deviceListStatus() const { return deviceListStatus_; }
    const QString& lastDeviceListError() const { return lastDeviceListError_; }
    const std::vector<AdapterDiagnostic>& sourceDiagnostics() const { return sourceDiagnostics_; }
    const QString& sourceDiagnosticStatus() const { return sourceDiagnosticStatus_; }
    const QString& autoSyncStatus() const { return autoSyncStatus_; }
    bool launchAtLoginEnabled() const { return launchAtLoginEnabled_; }
    const QString& launchAtLoginStatus() const { return launchAtLoginStatus_; }
    const QString& lastCollectStatus() const { return lastCollectStatus_; }
    const std::optional<Instant>& lastSuccessfulCollectAt() const {
        return lastSuccessfulCollectAt_;
    }
    const QString& lastParserError() const { return lastParserError_; }
    const QString& powerStatus() const { return powerStatus_; }
    const std::optional<Instant>& lastSleepAt() const { return lastSleepAt_; }
    const std::optional<Instant>& lastWakeAt() const { return lastWakeAt_; }
    const QString& updateStatus() const { return updateStatus_; }
    const std::optional<ConnectorUpdateInfo>& updateInfo() const { return updateInfo_; }
    const std::optional<Instant>& lastUpdateCheckAt() const { return lastUpdateCheckAt_; }
    bool isCheckingForUpdates() const { return isCheckingForUpdates_; }

    // Derived values.
    // A sync space id is set and the keychain held the device token when it was last read.
    // The keychain is read (off the GUI thread) by start, every upload, the device listing,
    // unlinking and pairing; refreshPairedState() reads it on demand.
    bool isPaired() const;
    // The uploaded snapshot when there is one, else the local one.
    const std::optional<UsageSnapshot>& displaySnapshot() const;

    // Collaborators and task state, for views and tests.
    const RelayClient& relayClient() const { return *relayClient_; }
    const AdapterList& realAdapters() const { return realAdapters_; }
    const AdapterList& sourceAdapters() const { return sourceAdapters_; }
    bool hasPairingPollTask() const { return pairingPollTask_.has_value(); }
    bool hasAutoSyncTask() const { return autoSyncTask_.has_value(); }
    bool hasWakeRefreshTask() const { return wakeRefreshTask_.has_value(); }

    // Start-up refresh, run each time the window is shown.
    QCoro::Task<> start();
    // The first steps of start: the sync space id from the settings store, the keychain read and
    // the status message that follows from them. Returns isPaired(). The command line uses it
    // to pick up a pairing without the rest of the start-up refresh.
    QCoro::Task<bool> loadPairingState();
    // Reads the keychain again and returns isPaired().
    QCoro::Task<bool> refreshPairedState();

    // Collect and upload.
    QCoro::Task<> syncNow();
    QCoro::Task<> refreshLocalLimits();
    QCoro::Task<> refreshSourceDiagnostics();

    // Pairing.
    QCoro::Task<> createPairingCode();
    void startPairingPoll();
    QCoro::Task<bool> checkPairingStatus();

    // Automatic sync, sleep and wake.
    void startAutoSync();
    void stopAutoSync();
    void handleSleep();
    void handleWake();

    // Updates.
    QCoro::Task<> checkForUpdates(bool silent);
    void openDownloadPage();

    // Support bundle and snapshot export.
    QString supportBundleText() const;
    void copySupportBundle();
    // The snapshot on display as uploaded JSON; nothing without a snapshot or when it cannot
    // be encoded.
    std::optional<QString> latestSnapshotJSON() const;
    void copyLatestSnapshotJSON();
    // A date as the support bundle writes it ("Mar 1, 2026 at 9:14:05 AM"), "never" when absent.
    QString bundleDateText(const std::optional<Instant>& date) const;

    // Relay settings, devices, unlinking and Open at Login.
    void setRelayBaseURLString(const QString& text); // as the user edits it; not saved
    void saveRelaySettings();
    QCoro::Task<> checkRelayHealth();
    QCoro::Task<> loadDevices();
    QCoro::Task<> unlinkDevice();
    void resetPairing();
    void refreshLaunchAtLoginStatus();
    void setLaunchAtLogin(bool enabled);

Q_SIGNALS:
    void stateChanged();
    void syncSpaceIdChanged();
    void connectorDeviceIdChanged();
    void pairingSessionChanged();
    void pairingSecretChanged();
    void latestSnapshotChanged();
    void localLimitSnapshotChanged();
    void lastSyncAtChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void isPairingChanged();
    void isSyncingChanged();
    void isPollingForPairingChanged();
    void relayBaseURLStringChanged();
    void relayHealthStatusChanged();
    void relayEnvironmentChanged();
    void lastUploadStatusChanged();
    void lastUploadAtChanged();
    void lastUploadErrorChanged();
    void relayDevicesChanged();
    void deviceListStatusChanged();
    void lastDeviceListErrorChanged();
    void sourceDiagnosticsChanged();
    void sourceDiagnosticStatusChanged();
    void autoSyncStatusChanged();
    void launchAtLoginEnabledChanged();
    void launchAtLoginStatusChanged();
    void lastCollectStatusChanged();
    void lastSuccessfulCollectAtChanged();
    void lastParserErrorChanged();
    void powerStatusChanged();
    void lastSleepAtChanged();
    void lastWakeAtChanged();
    void updateStatusChanged();
    void updateInfoChanged();
    void lastUpdateCheckAtChanged();
    void isCheckingForUpdatesChanged();

private:
    struct TaskHandle {
        std::shared_ptr<CancellationFlag> flag;
        QCoro::Task<> task;
    };
    // Everything one collection over the adapters yields, gathered on a worker thread.
    struct CollectPass {
        std::vector<ProviderUsage> rows;
        std::optional<QString> parserError;
        QString deviceName;
    };
    class KeychainWorker;

    // Assigns a published field and emits its signal when the value changed.
    template <class T>
    void set(T& field, std::type_identity_t<T> value, void (ConnectorModel::*changed)()) {
        if constexpr (std::equality_comparable<T>) {
            if (field == value) {
                return;
            }
        }
        field = std::move(value);
        Q_EMIT(this->*changed)();
        Q_EMIT stateChanged();
    }

    // Worker-thread helpers; each suspends the caller until the worker answers.
    QCoro::Task<std::optional<std::string>> readToken();
    // The token when a sync space is stored (the keychain is not asked otherwise).
    QCoro::Task<std::optional<std::string>> readTokenOfSyncSpace();
    QCoro::Task<std::optional<KeychainError>> saveToken(std::string token);
    QCoro::Task<> removeToken();
    QCoro::Task<QString> lookUpDeviceName();

    QCoro::Task<CollectPass> collectProviders();
    UsageSnapshot assembleSnapshot(std::string snapshotId, std::string syncSpaceId,
                                   const QString& deviceName,
                                   std::vector<ProviderUsage> rows) const;
    std::string randomHex(int count) const;
    // The host name, or "Mac" when the system gives none.
    static QString fallbackDeviceName(const QString& name);

    static QCoro::Task<> runPairingPoll(QPointer<ConnectorModel> model,
                                        std::shared_ptr<CancellationFlag> flag,
                                        PairingSessionResponse session,
                                        std::chrono::milliseconds interval);
    static QCoro::Task<> runSyncLoop(QPointer<ConnectorModel> model,
                                     std::shared_ptr<CancellationFlag> flag,
                                     std::chrono::milliseconds interval);
    static QCoro::Task<> runWakeRefresh(QPointer<ConnectorModel> model,
                                        std::shared_ptr<CancellationFlag> flag,
                                        std::chrono::milliseconds delay);
    // Stores a new handle in `slot`, then starts the task. The handle exists before the task's
    // first step runs, so a task that ends at once can clear its own handle.
    template <class Start> void launch(std::optional<TaskHandle>& slot, Start start) {
        auto flag = std::make_shared<CancellationFlag>();
        slot.emplace(TaskHandle{flag, QCoro::Task<>()});
        QCoro::Task<> task = start(flag);
        if (slot && slot->flag == flag) {
            slot->task = std::move(task);
        }
    }
    // Cancels the task of `slot`, if any, and clears it.
    static void cancelTask(std::optional<TaskHandle>& slot);
    // Clears `slot` when it still holds the task of `flag`.
    static void clearTask(std::optional<TaskHandle>& slot, const CancellationFlag* flag);

    ConnectorModelOptions options_;

    // Published fields, in the order of their meaning (see the getters).
    std::optional<QString> syncSpaceId_;
    QString connectorDeviceId_;
    std::optional<PairingSessionResponse> pairingSession_;
    std::optional<QString> pairingSecret_;
    std::optional<UsageSnapshot> latestSnapshot_;
    std::optional<UsageSnapshot> localLimitSnapshot_;
    std::optional<Instant> lastSyncAt_;
    QString statusMessage_ = QStringLiteral("Not paired");
    std::optional<QString> errorMessage_;
    bool isPairing_ = false;
    bool isSyncing_ = false;
    bool isPollingForPairing_ = false;
    QString relayBaseURLString_;
    QString relayHealthStatus_ = QStringLiteral("Not checked");
    QString relayEnvironment_ = QStringLiteral("Unknown");
    QString lastUploadStatus_ = QStringLiteral("Never");
    std::optional<Instant> lastUploadAt_;
    QString lastUploadError_ = QStringLiteral("None");
    std::vector<RelayDevice> relayDevices_;
    QString deviceListStatus_ = QStringLiteral("Not loaded");
    QString lastDeviceListError_ = QStringLiteral("None");
    std::vector<AdapterDiagnostic> sourceDiagnostics_;
    QString sourceDiagnosticStatus_ = QStringLiteral("Not checked");
    QString autoSyncStatus_ = QStringLiteral("Paused");
    bool launchAtLoginEnabled_ = false;
    QString launchAtLoginStatus_ = QStringLiteral("Not checked");
    QString lastCollectStatus_ = QStringLiteral("Not collected");
    std::optional<Instant> lastSuccessfulCollectAt_;
    QString lastParserError_ = QStringLiteral("None");
    QString powerStatus_ = QStringLiteral("Awake");
    std::optional<Instant> lastSleepAt_;
    std::optional<Instant> lastWakeAt_;
    QString updateStatus_ = QStringLiteral("Not checked");
    std::optional<ConnectorUpdateInfo> updateInfo_;
    std::optional<Instant> lastUpdateCheckAt_;
    bool isCheckingForUpdates_ = false;

    // Collaborators.
    QNetworkAccessManager* network_ = nullptr;
    // Shared so that a request in flight keeps the client alive even if the model goes away.
    std::shared_ptr<RelayClient> relayClient_;
    std::shared_ptr<KeychainWorker> keychain_;
    std::shared_ptr<const MockAdapter> mockAdapter_;
    AdapterList realAdapters_;
    AdapterList sourceAdapters_;
    std::shared_ptr<UserDefaults> userDefaults_;
    std::shared_ptr<LoginItem> loginItem_;
    std::shared_ptr<HostInfo> hostInfo_;

    // The last answer of the keychain about the device token.
    bool tokenPresent_ = false;
    // Set while a collect-and-upload cycle runs, including the keychain read that comes before
    // isSyncing is published.
    bool syncGuard_ = false;

    std::optional<TaskHandle> pairingPollTask_;
    std::optional<TaskHandle> autoSyncTask_;
    std::optional<TaskHandle> wakeRefreshTask_;

    // One thread each: adapter passes run one after another, keychain calls likewise.
    QThreadPool adapterPool_;
    QThreadPool keychainPool_;
};

} // namespace korvo
