#pragma once

#include "core/ConnectorState.h"
#include "core/RelayAccess.h"
#include "core/TaskSlot.h"
#include "model/Clock.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

namespace korvo {

class SourceCollector;
class UserDefaults;

// Pairing: the sync space this machine belongs to, the pairing code on display, and the poll
// that waits until the phone claimed it and hands over the device token.
class Pairing final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSyncSpaceIdKey = "syncSpaceId";
    // The origin of the relay that issued the device token, beside the sync space id.
    static constexpr const char* kRelayOriginKey = "pairedRelayOrigin";

    struct Services {
        RelayAccess relay;
        std::shared_ptr<UserDefaults> userDefaults;
        SourceCollector* collector; // the device name the code is created for
        Clock clock;
        std::chrono::milliseconds pollInterval;
        // Runs once the token is saved: the first upload, the device listing, automatic sync.
        std::function<QCoro::Task<>()> completePairing;
    };

    explicit Pairing(Services services, QObject* parent = nullptr);

    const PairingState& state() const { return state_; }
    bool isPollRunning() const { return poll_.isRunning(); }

    // Reads the sync space id and the origin of its relay from the settings store (after
    // upgradeStoredOrigin()).
    void loadSyncSpace();
    // A pairing stored before the origin was kept with it came from the relay whose URL is set
    // now: its origin is stored. Call before the relay URL can change.
    void upgradeStoredOrigin();
    // The origin of the relay that created the session on display; empty without one.
    const QString& sessionOrigin() const { return sessionOrigin_; }
    QCoro::Task<PairingCodeOutcome> createCode();
    void startPoll();
    // One status poll. True when it ended the pairing.
    QCoro::Task<bool> checkStatus();
    // Resumes when the running poll ends; without one, reports how the last one ended.
    QCoro::Task<PairingOutcome> finished();
    // Lets the poll's pause look at the clock again after a wake.
    void recheckClock() { poll_.recheckClock(); }
    // Forgets the sync space and the session and stops the poll. Returns whether a pairing was
    // under way; its waiters are told by finish(cancelled) once the rest of the model is reset.
    bool reset();
    // Tells whoever waits for the poll how it ended.
    void finish(PairingOutcome outcome);

Q_SIGNALS:
    void changed();
    void ended(korvo::PairingOutcome outcome);

private:
    void setPolling(bool polling);
    static QCoro::Task<> runPoll(QPointer<Pairing> self, std::shared_ptr<CancellationFlag> flag,
                                 PairingSessionResponse session,
                                 std::chrono::milliseconds interval);

    Services services_;
    PairingState state_;
    TaskSlot poll_;
    // How the last poll ended; nothing before the first.
    std::optional<PairingOutcome> outcome_;
    // Set from the phone's claim to the end of the first upload and device listing.
    bool completing_ = false;
    // The origin of the relay that created the session: polled with its secret, it issues the
    // token.
    QString sessionOrigin_;
};

} // namespace korvo
