#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>

namespace korvo::test {

// A dbus-daemon of our own that stands in for the system bus: the test emits logind's
// PrepareForSleep on it under the name org.freedesktop.login1.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        daemon_.start();
        if (!daemon_.waitForStarted(5000)) {
            return;
        }
        QByteArray line;
        while (!line.contains('\n') && daemon_.waitForReadyRead(5000)) {
            line += daemon_.readAllStandardOutput();
        }
        address_ = QString::fromUtf8(line).trimmed();
    }

    ~PrivateBus() {
        for (const QString& name : {logindName_, impostorName_}) {
            if (!name.isEmpty()) {
                QDBusConnection::disconnectFromBus(name);
            }
        }
        daemon_.terminate();
        if (!daemon_.waitForFinished(3000)) {
            daemon_.kill();
            daemon_.waitForFinished(3000);
        }
    }

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    bool isRunning() const { return !address_.isEmpty(); }

    // Connects as logind (owning org.freedesktop.login1); false when that fails.
    bool becomeLogind() {
        logindName_ = QStringLiteral("korvo-test-logind-%1").arg(reinterpret_cast<quintptr>(this));
        QDBusConnection bus = QDBusConnection::connectToBus(address_, logindName_);
        return bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.login1"));
    }

    // Emits PrepareForSleep(sleeping) as logind would.
    bool prepareForSleep(bool sleeping) { return emitFrom(QDBusConnection(logindName_), sleeping); }

    // Emits the same signal from a connection that does not own the logind name.
    bool prepareForSleepAsImpostor(bool sleeping) {
        impostorName_ =
            QStringLiteral("korvo-test-impostor-%1").arg(reinterpret_cast<quintptr>(this));
        QDBusConnection bus = QDBusConnection::connectToBus(address_, impostorName_);
        return bus.isConnected() && emitFrom(bus, sleeping);
    }

private:
    static bool emitFrom(QDBusConnection bus, bool sleeping) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        return bus.send(signal);
    }

    QProcess daemon_;
    QString address_;
    QString logindName_;
    QString impostorName_;
};

} // namespace korvo::test
