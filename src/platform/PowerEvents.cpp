#include "platform/PowerEvents.h"

#include <QDBusConnection>

namespace korvo {

LogindPowerEvents::LogindPowerEvents(const QString& busAddress, QObject* parent)
    : PowerEvents(parent),
      // Each instance owns a private connection, named after the instance.
      connectionName_(
          QStringLiteral("korvo-power-events-%1").arg(reinterpret_cast<quintptr>(this), 0, 16)) {
    // A connection of our own, made from the address, rather than QDBusConnection::systemBus():
    // the address is read when the object is made, not once per process.
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName_);
    if (!bus.isConnected()) {
        return;
    }
    listening_ = bus.connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(onPrepareForSleep(bool)));
}

LogindPowerEvents::~LogindPowerEvents() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString LogindPowerEvents::systemBusAddress() {
    const QString fromEnvironment = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    return QStringLiteral("unix:path=/run/dbus/system_bus_socket");
}

void LogindPowerEvents::onPrepareForSleep(bool sleeping) {
    if (sleeping) {
        Q_EMIT willSleep();
    } else {
        Q_EMIT didWake();
    }
}

} // namespace korvo
