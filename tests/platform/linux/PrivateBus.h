#pragma once

#include "support/TestApplication.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>

namespace korvo::test {

// A dbus-daemon of our own standing in for the system bus: the test emits logind's
// PrepareForSleep on it, as the owner of org.freedesktop.login1 or as an impostor.
class PrivateBus {
public:
    PrivateBus() {
        testApp();
        daemon_.start(u"dbus-daemon"_s,
                      {u"--session"_s, u"--nofork"_s, u"--nopidfile"_s, u"--print-address=1"_s});
        QByteArray line;
        while (daemon_.waitForStarted(5000) && !line.contains('\n') &&
               daemon_.waitForReadyRead(5000)) {
            line += daemon_.readAllStandardOutput();
        }
        address_ = QString::fromUtf8(line).trimmed();
        ready_ = logindConnection().isConnected() &&
                 logindConnection().registerService(u"org.freedesktop.login1"_s);
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(name(false));
        QDBusConnection::disconnectFromBus(name(true));
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }

    const QString& address() const { return address_; }
    // The connection that owns logind's name, to serve its methods from.
    QDBusConnection logindConnection() { return connection(false); }
    // The daemon runs and this side owns logind's name.
    bool isReady() const { return ready_; }
    bool prepareForSleep(bool sleeping, bool asImpostor = false) {
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/login1"_s,
                                       u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s);
        return connection(asImpostor).send(signal << sleeping);
    }

private:
    QString name(bool impostor) const {
        return u"korvo-test-%1-%2"_s.arg(impostor ? "impostor" : "logind").arg(quintptr(this));
    }
    QDBusConnection connection(bool impostor) {
        return QDBusConnection::connectToBus(address_, name(impostor));
    }

    QProcess daemon_;
    QString address_;
    bool ready_ = false;
};

} // namespace korvo::test
