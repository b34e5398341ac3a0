#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace korvo {

// Announces that the machine is about to sleep and that it woke again.
class PowerEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PowerEvents() override = default;

Q_SIGNALS:
    void willSleep();
    void didWake();
};

// PowerEvents from systemd-logind: the signal PrepareForSleep(bool) of
// org.freedesktop.login1.Manager on the system bus, true before sleep and false after wake.
// Without a reachable bus there are simply no events.
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

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);

private:
    QString connectionName_;
    bool listening_ = false;
};

} // namespace korvo
