#pragma once

#include "core/ConnectorState.h"
#include "core/RelayAccess.h"

#include <QObject>
#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace korvo {

class Pairing;
class UserDefaults;

// The relay base URL as edited and saved, its health, the devices of the sync space, and
// unlinking this device from it.
class RelaySettings final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kRelayBaseURLKey = "relayBaseURL";

    struct Services {
        const Pairing* pairing; // the sync space whose devices are listed
        RelayAccess relay;
        std::shared_ptr<UserDefaults> userDefaults;
        QString defaultURL;
    };

    // Starts with the URL the user saved, else the default; a saved URL that normalises
    // replaces the client's base URL.
    explicit RelaySettings(Services services, QObject* parent = nullptr);

    const RelayState& state() const { return state_; }

    void setBaseURLString(const QString& text); // as the user edits it; not saved
    // Saves the URL being edited; false when it is not a usable URL.
    bool save();
    QCoro::Task<RelayHealthOutcome> checkHealth();
    QCoro::Task<DeviceListOutcome> loadDevices();
    // Revokes this device on the relay. The caller forgets the pairing when it worked.
    QCoro::Task<UnlinkOutcome> unlink();
    // Forgets the devices of a sync space this machine left.
    void forgetDevices();

Q_SIGNALS:
    void changed();

private:
    // The token when a sync space is stored (the keychain is not asked otherwise).
    QCoro::Task<std::optional<std::string>> readTokenOfSyncSpace();

    Services services_;
    RelayState state_;
};

} // namespace korvo
