#pragma once

#include "core/AutoSync.h"
#include "core/Connection.h"
#include "core/ConnectorState.h"
#include "core/DeviceToken.h"
#include "core/LaunchAtLogin.h"
#include "core/Pairing.h"
#include "core/RelaySettings.h"
#include "core/SnapshotUploader.h"
#include "core/SourceCollector.h"
#include "core/SupportBundle.h"
#include "core/UpdateChecker.h"
#include "core/UpdateManifest.h"
#include "model/Clock.h"
#include "model/UsageSnapshot.h"
#include "platform/BuildInfo.h"
#include "platform/KeychainStore.h"
#include "relayclient/RelayClient.h"
#include "sources/AdapterDiagnostic.h"
#include "sources/SourceRegistry.h"
#include "sources/UsageAdapter.h"
#include "sources/io/Environment.h"

#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimeZone>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
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
    // Where the three persistent strings live. Empty: PlatformServices::userDefaults().
    std::shared_ptr<UserDefaults> userDefaults;
    // Where the device token lives. Empty: PlatformServices::keychainBackend(), chosen on first
    // use, off the GUI thread.
    std::shared_ptr<KeychainBackend> keychainBackend;
    // Where a run that chose another backend may have left a device token; unlinking revokes
    // and removes it there too. Empty without keychainBackend: the per-user file when the
    // Secret Service is chosen.
    std::vector<std::shared_ptr<KeychainBackend>> otherKeychainBackends;
    std::string keychainService = KeychainStore::kDefaultService;
    // The process-wide HTTP session. Empty: the model owns one.
    QNetworkAccessManager* network = nullptr;

    QUrl defaultRelayURL = QUrl(QString::fromLatin1(RelayAddress::kDefault));
    QUrl manifestURL = QUrl(QStringLiteral("https://korvo.app/download/linux/manifest.json"));
    QUrl downloadPageURL = QUrl(QStringLiteral("https://korvo.app/download/linux/"));
    // Whether start-up and each wake check for updates silently. A front end that never shows
    // the update state turns it off, so that it fetches no manifest (and loads no TLS for one).
    bool checksForUpdates = true;

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
    // Overall time limits, each from the start of a request to the end of its answer.
    std::chrono::milliseconds relayTimeout{RelayClient::kDefaultTimeout};
    std::chrono::milliseconds manifestTimeout{12000};

    std::shared_ptr<LoginItem> loginItem;   // empty: the platform's login item
    std::shared_ptr<HostInfo> hostInfo;     // empty: the system's host name
    std::shared_ptr<Pasteboard> pasteboard; // empty: copying does nothing
    std::shared_ptr<UrlOpener> urlOpener;   // empty: opening does nothing
    // Sleep and wake announcements; the model follows them. Not owned; may be null.
    PowerEvents* powerEvents = nullptr;

    // The local usage history file. Absent: UsageHistory::defaultFile(); an empty path keeps no
    // history.
    std::optional<std::filesystem::path> historyFile;

    // The adapters asked for rows and for diagnostics. Empty: the source registry's lists.
    std::optional<AdapterList> realAdapters;
    std::optional<AdapterList> sourceAdapters;
};

// The connector's single source of truth. Lives on the GUI thread. It owns one object per concern
// (pairing, upload, relay settings, source collection, automatic sync, Open at Login, update
// checks, the overall status), wires them to each other, hands them to the views and the command
// line that show them, and offers the operations they call. Each concern keeps its state in one
// typed value (ConnectorState.h) and announces a change of it with its own signal, which the
// model re-emits, followed by stateChanged(). The display texts are derived from those values
// (ConnectorStatusText.h). Operations return how they ended and also leave the outcome in the
// state. File work of the adapters and keychain calls run on worker threads.
class ConnectorModel final : public QObject {
    Q_OBJECT
public:
    explicit ConnectorModel(ConnectorModelOptions options, QObject* parent = nullptr);
    ~ConnectorModel() override;

    ConnectorModel(const ConnectorModel&) = delete;
    ConnectorModel& operator=(const ConnectorModel&) = delete;

    static constexpr const char* kRelayBaseURLKey = RelaySettings::kRelayBaseURLKey;
    static constexpr const char* kConnectorDeviceIdKey = "connectorDeviceId";
    static constexpr const char* kSyncSpaceIdKey = Pairing::kSyncSpaceIdKey;

    // The concerns, for the views and the command line that show them. Each keeps its state in
    // one typed value (state(); the collector has collect() and diagnostics()), from which
    // ConnectorStatusText.h derives the texts. What involves more than one concern (saving the
    // relay URL, unlinking, forgetting a pairing, Open at Login) is called on the model, never on
    // the concern.
    Connection& connection() { return connection_; }
    const Connection& connection() const { return connection_; }
    Pairing& pairing() { return *pairing_; }
    const Pairing& pairing() const { return *pairing_; }
    SnapshotUploader& uploader() { return *uploader_; }
    const SnapshotUploader& uploader() const { return *uploader_; }
    SourceCollector& collector() { return *collector_; }
    const SourceCollector& collector() const { return *collector_; }
    AutoSync& autoSync() { return autoSync_; }
    const AutoSync& autoSync() const { return autoSync_; }
    RelaySettings& relaySettings() { return *relaySettings_; }
    const RelaySettings& relaySettings() const { return *relaySettings_; }
    LaunchAtLogin& launchAtLogin() { return launchAtLogin_; }
    const LaunchAtLogin& launchAtLogin() const { return launchAtLogin_; }
    UpdateChecker& updateChecker() { return updateChecker_; }
    const UpdateChecker& updateChecker() const { return updateChecker_; }
    const RelayClient& relayClient() const { return *relayClient_; }
    const QString& connectorDeviceId() const { return connectorDeviceId_; }

    // Derived values.
    // A sync space id is set and the keychain held the device token when it was last read.
    // The keychain is read (off the GUI thread) by start, every upload, the device listing,
    // unlinking and pairing; refreshPairedState() reads it on demand.
    bool isPaired() const;
    // A sync space id is set: this machine was paired and has not been unlinked, whatever the
    // keychain answered. The sync loop runs on this, so that a keychain locked or not yet running
    // when the connector started is read again by each cycle and picked up once it answers.
    bool hasSyncSpace() const;
    // The newest reading of the tools' files: the local snapshot when it is at least as new as the
    // last upload (a refresh, a failed upload), else the uploaded one. The uploader's snapshot
    // stays what the phone sees.
    const std::optional<UsageSnapshot>& displaySnapshot() const;
    // A paired connector shows figures the relay has not accepted yet: the snapshot on display
    // is newer than the last upload and differs from it.
    bool displayIsNotUploaded() const;

    // Start-up refresh, run each time the window is shown.
    QCoro::Task<> start();
    // The first steps of start: the sync space id from the settings store, the keychain read and
    // the status message that follows from them. Returns isPaired(). The command line uses it
    // to pick up a pairing without the rest of the start-up refresh.
    QCoro::Task<bool> loadPairingState();
    // Reads the keychain again and returns isPaired().
    QCoro::Task<bool> refreshPairedState();

    // Collect and upload.
    QCoro::Task<SyncOutcome> syncNow() { return uploader_->syncNow(); }
    QCoro::Task<> refreshLocalLimits();
    QCoro::Task<> refreshSourceDiagnostics() { return collector_->refreshDiagnostics(); }
    // Points of the local usage history at or after `since`, of one tool (all when `toolId` is
    // empty).
    QFuture<std::vector<UsageHistoryPoint>> historyPoints(std::string toolId, Instant since) {
        return collector_->historyPoints(std::move(toolId), since);
    }

    // Pairing.
    QCoro::Task<PairingCodeOutcome> createPairingCode() { return pairing_->createCode(); }
    void startPairingPoll() { pairing_->startPoll(); }
    // One status poll. True when it ended the pairing: paired, or failed because the relay
    // answered paired without handing out the token.
    QCoro::Task<bool> checkPairingStatus() { return pairing_->checkStatus(); }
    // Resumes when the running pairing poll ends: paired (after the first upload and the device
    // listing), expired, failed (the token went to someone else), or cancelled by a reset. Without
    // a running poll it reports at once how the last one ended.
    QCoro::Task<PairingOutcome> pairingFinished() { return pairing_->finished(); }

    // Automatic sync, sleep and wake.
    void startAutoSync() { autoSync_.start(); }
    void stopAutoSync() { autoSync_.stop(); }
    void handleSleep();
    void handleWake();

    // Updates.
    QCoro::Task<UpdateCheckOutcome> checkForUpdates(bool silent) {
        return updateChecker_.check(silent);
    }
    void openDownloadPage() { updateChecker_.openDownloadPage(); }

    // Support bundle and snapshot export.
    // The values the support bundle prints, read from every concern.
    SupportBundle::State supportBundleState() const;
    QString supportBundleText() const { return supportBundle_.text(supportBundleState()); }
    void copySupportBundle();
    // The snapshot on display as uploaded JSON; nothing without a snapshot or when it cannot
    // be encoded.
    std::optional<QString> latestSnapshotJSON() const;
    void copyLatestSnapshotJSON();
    // The demo fallback an upload sends while no tool gives a usage row, for this device and
    // sync space (the local display's when unpaired), as uploaded JSON.
    QCoro::Task<std::optional<QString>> demoSnapshotJSON();

    // Relay settings, devices, unlinking and Open at Login.
    // The relay URL as the user edits it; not saved.
    void setRelayBaseURLString(const QString& text) { relaySettings_->setBaseURLString(text); }
    // Saves the URL being edited; false when it is not a usable URL. A URL on another origin
    // than the relay of the pairing ends the pairing (followRelayChange()).
    bool saveRelaySettings();
    // Saves the URL being edited like saveRelaySettings(), then asks the relay how it is.
    QCoro::Task<RelayHealthOutcome> checkRelayHealth();
    // When the pairing (or the pairing code on display) belongs to another relay than the URL
    // set now, because the URL was changed in the window, with --relay or in the settings file:
    // forgets it, says "Relay changed; pair again", and unlinks this device from the old relay,
    // at its old address, in the background and best effort. The token is never sent to the
    // new address. True when the pairing was forgotten.
    bool followRelayChange() { return followRelayChange(QUrl()); }
    // Resumes when every unlink from a relay left behind has ended.
    QCoro::Task<> relayChangeFinished();
    QCoro::Task<DeviceListOutcome> loadDevices() { return relaySettings_->loadDevices(); }
    QCoro::Task<UnlinkOutcome> unlinkDevice();
    void resetPairing();
    void refreshLaunchAtLoginStatus() { launchAtLogin_.refresh(); }
    void setLaunchAtLogin(bool enabled);

Q_SIGNALS:
    // Any change; emitted after the signal of the concern that changed.
    void stateChanged();
    // One signal per concern.
    void connectionChanged();
    void pairingChanged();
    void uploadChanged();
    void sourcesChanged(); // the collector's collect() and diagnostics()
    void autoSyncChanged();
    void relayChanged();
    void launchAtLoginChanged();
    void updatesChanged();
    // A pairing poll ended.
    void pairingEnded(korvo::PairingOutcome outcome);
    // An unlink from a relay left behind ended.
    void relayLeft();

private:
    // Re-emits a concern's change as the model's signal for it, followed by stateChanged().
    template <class Concern> void forward(Concern* concern, void (ConnectorModel::*changed)()) {
        connect(concern, &Concern::changed, this, changed);
        connect(concern, &Concern::changed, this, &ConnectorModel::stateChanged);
    }
    // What the concerns run of each other: one sync cycle, the catch-up after a wake, and the
    // steps after the phone claimed a pairing code.
    QCoro::Task<> syncCycle();
    QCoro::Task<> refreshAfterWake();
    QCoro::Task<> completePairing();
    // followRelayChange(), with the relay URL set before the change: the old relay is reached
    // there (with its user info) when it is on the origin of the pairing.
    bool followRelayChange(const QUrl& previous);
    // Revokes each of `tokens` on the relay left behind until one works; a failure is only
    // logged.
    static QCoro::Task<> leaveRelay(QPointer<ConnectorModel> self,
                                    QCoro::Task<std::vector<std::string>> tokens,
                                    std::shared_ptr<RelayClient> old, std::string syncSpaceId,
                                    std::string deviceId, QString origin);

    ConnectorModelOptions options_;
    QString connectorDeviceId_;
    QNetworkAccessManager* network_ = nullptr;
    // Shared so that a request in flight keeps the client alive even if the model goes away.
    std::shared_ptr<RelayClient> relayClient_;

    // The concerns made from the options alone, then those made from the adapter lists and the
    // concerns before them. Each refers only to concerns declared before it.
    SupportBundle supportBundle_;
    Connection connection_;
    DeviceToken token_;
    LaunchAtLogin launchAtLogin_;
    UpdateChecker updateChecker_;
    AutoSync autoSync_;
    std::unique_ptr<SourceCollector> collector_;
    std::unique_ptr<Pairing> pairing_;
    std::unique_ptr<RelaySettings> relaySettings_;
    std::unique_ptr<SnapshotUploader> uploader_;
    // Unlinks from relays left behind that are still under way.
    int farewells_ = 0;
};

} // namespace korvo
