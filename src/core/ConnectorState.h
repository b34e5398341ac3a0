#pragma once

// The typed state of each concern of the connector and the outcomes of its operations. The texts
// the window, the menu, the support bundle and the command line show are derived from these
// values by the functions of ConnectorStatusText.h, and nowhere else.

#include "core/UpdateManifest.h"
#include "model/Instant.h"
#include "model/UsagePace.h"
#include "model/UsageSnapshot.h"
#include "relayclient/RelayAddress.h"
#include "relayclient/RelayMessages.h"
#include "sources/AdapterDiagnostic.h"

#include <QString>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvo {

// The one-line overall state at the top of the menu and the window.
enum class ConnectionStatus {
    notPaired,
    connected,
    waitingForPhone,
    codeExpired,
    sleeping,
    woke,
    pairingFailed,
    // The relay URL moved away from the relay of the pairing, which was therefore forgotten.
    relayChanged,
};

// A failure shown to the user: what failed, and the error's own description where it has one.
struct ConnectorError {
    enum class Kind {
        pairFirst,
        uploadFailed,
        pairingSessionFailed,
        pairingStatusFailed,
        pairingTokenWithheld,
        relayHealthFailed,
        deviceListFailed,
        unlinkFailed,
        loginItemFailed,
    };
    Kind kind = Kind::pairFirst;
    QString description;

    friend bool operator==(const ConnectorError&, const ConnectorError&) = default;
};

// Pairing: the sync space this machine belongs to and the pairing session on display.
struct PairingState {
    std::optional<QString> syncSpaceId;
    // The origin of the relay that issued the device token (RelayAddress::origin); the token
    // goes nowhere else. Set whenever syncSpaceId is.
    std::optional<QString> relayOrigin;
    std::optional<PairingSessionResponse> session;
    std::optional<QString> secret;
    bool isCreatingCode = false;
    bool isPolling = false;

    friend bool operator==(const PairingState&, const PairingState&) = default;
};

// The collect-and-upload cycle.
struct UploadState {
    enum class Phase { never, uploading, uploaded, failed };
    Phase phase = Phase::never;
    // The id of the uploaded snapshot (uploaded), or the failure's description (failed).
    QString detail;
    std::optional<Instant> lastUploadAt;
    // The last snapshot the relay accepted.
    std::optional<UsageSnapshot> snapshot;
    bool isSyncing = false;

    friend bool operator==(const UploadState&, const UploadState&) = default;
};

// A source an adapter found but could not use, from the last adapter that reported one.
struct ParserError {
    QString adapterName;
    QString description;

    friend bool operator==(const ParserError&, const ParserError&) = default;
};

// The last collection over the reading adapters.
struct CollectState {
    enum class Phase { notCollected, collecting, collected, demoFallback };
    Phase phase = Phase::notCollected;
    int rowCount = 0;
    std::optional<Instant> lastSuccessfulCollectAt;
    std::optional<ParserError> parserError;
    // The last snapshot built for local display (also replaced by each successful upload).
    std::optional<UsageSnapshot> localSnapshot;
    // The used percentages of each row's current window by row id, oldest first, from the local
    // usage history as the last collection left it.
    std::map<std::string, std::vector<UsagePoint>> history;

    friend bool operator==(const CollectState&, const CollectState&) = default;
};

// The diagnostics of every source adapter.
struct SourceDiagnosticsState {
    enum class Phase { notChecked, checking, checked };
    Phase phase = Phase::notChecked;
    std::vector<AdapterDiagnostic> diagnostics;

    friend bool operator==(const SourceDiagnosticsState&, const SourceDiagnosticsState&) = default;
};

// Automatic sync and the machine's sleep and wake.
struct AutoSyncState {
    enum class Status { paused, active, retrying, sleeping };
    Status status = Status::paused;
    bool asleep = false;
    std::optional<Instant> lastSleepAt;
    std::optional<Instant> lastWakeAt;

    friend bool operator==(const AutoSyncState&, const AutoSyncState&) = default;
};

// The relay base URL, its last save or health check, and the devices of the sync space.
struct RelayState {
    enum class Health { notChecked, invalidURL, saved, reachable, otherStatus, unreachable };
    enum class DeviceList { notLoaded, notPaired, loaded, failed };

    QString baseURLString;
    // How requests to the URL in baseURLString travel (https when it is not a URL).
    RelayAddress::Transport transport = RelayAddress::Transport::https;
    Health health = Health::notChecked;
    // The relay's own status word when it answered something other than "ok".
    QString healthWord;
    // The environment the relay reported; nothing until a health check answered with one.
    std::optional<QString> environment;

    std::vector<RelayDevice> devices;
    DeviceList deviceList = DeviceList::notLoaded;
    std::optional<QString> deviceListError;

    friend bool operator==(const RelayState&, const RelayState&) = default;
};

// Open at Login.
struct LoginItemState {
    enum class Status { notChecked, off, on, needsApproval, unavailable, unknown, failed };
    Status status = Status::notChecked;
    bool enabled = false;
    QString failure;

    friend bool operator==(const LoginItemState&, const LoginItemState&) = default;
};

// The last update check.
struct UpdateState {
    enum class Phase { notChecked, checking, upToDate, available, failed };
    Phase phase = Phase::notChecked;
    // The running version and build (upToDate) or the offered ones (available).
    QString version;
    QString build;
    std::optional<ConnectorUpdateInfo> info;
    std::optional<Instant> lastCheckAt;
    bool isChecking = false;
    // Why the last check failed (failed): "the download site answered HTTP 404".
    QString failure;

    friend bool operator==(const UpdateState&, const UpdateState&) = default;
};

// How an operation ended. Each operation also leaves its outcome in the state above.
enum class SyncOutcome { uploaded, failed, notPaired, alreadyRunning };
enum class PairingOutcome { paired, expired, cancelled, failed };
enum class UnlinkOutcome { unlinked, failed };
enum class DeviceListOutcome { loaded, failed, notPaired };
enum class RelayHealthOutcome { reachable, answered, unreachable, invalidURL };
enum class UpdateCheckOutcome { upToDate, available, failed, alreadyRunning };

// The pairing session created for display, or the failure that kept it from being created.
struct PairingCodeOutcome {
    std::optional<PairingSessionResponse> session;
    std::optional<ConnectorError> error;
};

} // namespace korvo
