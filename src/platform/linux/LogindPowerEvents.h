#pragma once

#include "platform/PowerEvents.h"

#include <QDBusUnixFileDescriptor>
#include <QString>

namespace korvo {

// PowerEvents from systemd-logind: the signal PrepareForSleep(bool) of
// org.freedesktop.login1.Manager on the system bus, true before sleep and false after wake.
// While awake it holds a "delay" sleep inhibitor, so that logind waits (up to its
// InhibitDelayMaxSec) until willSleep has been handled before the machine suspends; otherwise
// the announcement could be handled only after resume. Without a reachable bus there are simply
// no events.
class LogindPowerEvents final : public PowerEvents {
    Q_OBJECT
public:
    // Connects to the bus at the given D-Bus address.
    explicit LogindPowerEvents(const QString& busAddress, QObject* parent = nullptr);
    ~LogindPowerEvents() override;

    // The system bus address: $DBUS_SYSTEM_BUS_ADDRESS, else the well-known socket.
    static QString systemBusAddress();

    // True when the bus answered and the signal is subscribed.
    bool isListening() const { return listening_; }
    // True while the sleep delay lock is held.
    bool holdsSleepDelay() const { return sleepDelay_.isValid(); }

Q_SIGNALS:
    // The answer to a request for the sleep delay lock arrived (granted or not).
    void sleepDelayAnswered();

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);

private:
    void requestSleepDelay();

    QString connectionName_;
    bool listening_ = false;
    QDBusUnixFileDescriptor sleepDelay_;
};

} // namespace korvo
