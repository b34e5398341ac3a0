#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <ostream>

// QString values in test failure messages.
inline std::ostream& operator<<(std::ostream& out, const QString& text) {
    return out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text;
}

namespace korvo::test {

// Event loops, timers and D-Bus need an application object; the tests share one per process.
inline QCoreApplication& testApp() {
    static int argc = 1;
    static char name[] = "korvo-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own globals outlive the tests' static objects otherwise.
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// A dbus-daemon of our own standing in for the system bus: the test emits logind's
// PrepareForSleep on it, as the owner of org.freedesktop.login1 or as an impostor.
class PrivateBus {
public:
    PrivateBus() {
        testApp();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        QByteArray line;
        while (daemon_.waitForStarted(5000) && !line.contains('\n') &&
               daemon_.waitForReadyRead(5000)) {
            line += daemon_.readAllStandardOutput();
        }
        address_ = QString::fromUtf8(line).trimmed();
        QDBusConnection logind = connection(false);
        ready_ = logind.isConnected() &&
                 logind.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(name(false));
        QDBusConnection::disconnectFromBus(name(true));
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    // The connection that owns logind's name, to serve its methods from.
    QDBusConnection logindConnection() { return connection(false); }
    // The daemon runs and this side owns logind's name.
    bool isReady() const { return ready_; }
    bool prepareForSleep(bool sleeping, bool asImpostor = false) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        return connection(asImpostor).send(signal);
    }

private:
    QString name(bool impostor) const {
        return QStringLiteral("korvo-test-%1-%2")
            .arg(impostor ? "impostor" : "logind")
            .arg(reinterpret_cast<quintptr>(this));
    }
    QDBusConnection connection(bool impostor) {
        return QDBusConnection::connectToBus(address_, name(impostor));
    }

    QProcess daemon_;
    QString address_;
    bool ready_ = false;
};

} // namespace korvo::test
