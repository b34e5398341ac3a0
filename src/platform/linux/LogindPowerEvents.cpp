#include "platform/linux/LogindPowerEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

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
    if (listening_) {
        requestSleepDelay();
    }
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

void LogindPowerEvents::requestSleepDelay() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Korvo Connector")
         << QStringLiteral("Marks this computer as sleeping before it suspends")
         << QStringLiteral("delay");
    // Asynchronous: the system bus must never hold up the user interface.
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection(connectionName_).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                if (!reply.isError() && reply.value().isValid()) {
                    sleepDelay_ = reply.value();
                }
                finished->deleteLater();
                Q_EMIT sleepDelayAnswered();
            });
}

void LogindPowerEvents::onPrepareForSleep(bool sleeping) {
    if (sleeping) {
        Q_EMIT willSleep();
        // Receivers hand the announcement on with a queued call; this one is queued after
        // theirs, so the machine may sleep once they have run.
        QTimer::singleShot(0, this, [this] { sleepDelay_ = QDBusUnixFileDescriptor(); });
    } else {
        Q_EMIT didWake();
        if (!sleepDelay_.isValid()) {
            requestSleepDelay();
        }
    }
}

} // namespace korvo
